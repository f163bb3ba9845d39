// The updater's own dialogs: every question the program asks, every long
// phase it shows, and the language choice go through them, so their results
// and read-outs are what the callers decide on.
#include "settings/tinifiles.h"
#include "support/modalanswerer.h"
#include "support/workspace.h"
#include "ui/dialogstyle.h"
#include "ui/tlinguabox.h"
#include "ui/tmessagebox.h"
#include "ui/tprogressbox.h"

#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QToolButton>
#include <QtTest>

#include <climits>

namespace {

template<typename T> T *child(QWidget *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}

bool shown(QWidget *parent, const char *name)
{
    QWidget *w = child<QWidget>(parent, name);
    return w && w->isVisibleTo(parent);
}

constexpr qint64 GiB = qint64(1) << 30;

// Two languages in the program's INI syntax; the second one is stored as
// UTF-8 and says so, the first one relies on the Latin-1 default.
const QByteArray twoLanguages = "[lingua1]\r\n"
                                "lingua1_idlingua=ita\r\n"
                                "lingua1_description=Italiano\r\n"
                                "lingua1_image=ita.png\r\n"
                                "lingua1_file=update_ita.qm\r\n"
                                "[lingua2]\r\n"
                                "lingua2_idlingua=fra\r\n"
                                "lingua2_description=Fran\xc3\xa7"
                                "ais\r\n"
                                "lingua2_unicodecodecname=UTF-8\r\n"
                                "lingua2_image=fra.png\r\n"
                                "lingua2_file=update_fra.qm\r\n"
                                "[selected]\r\n"
                                "selected_currentlanguage=2\r\n";

int currentLanguage()
{
    TIniFiles ini(QStringLiteral("language.ini"), false);
    return ini.readInt(QStringLiteral("selected"), QStringLiteral("currentlanguage"), 10, -99);
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initUiResources(); }

    // ---- TMessagebox -------------------------------------------------------

    void messageboxButtonModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("cancel");
        QTest::newRow("0: wait box, no buttons") << 0 << false << false;
        QTest::newRow("1: Ok only") << 1 << true << false;
        QTest::newRow("2: Ok and Cancel") << 2 << true << true;
        QTest::newRow("other values: both") << 3 << true << true;
        QTest::newRow("negative: both") << -1 << true << true;
    }

    void messageboxButtonModes()
    {
        QFETCH(int, mode);
        QFETCH(bool, ok);
        QFETCH(bool, cancel);
        TMessagebox box(nullptr, mode);
        QCOMPARE(shown(&box, "tbOk"), ok);
        QCOMPARE(shown(&box, "tbCancel"), cancel);
        QCOMPARE(child<QToolButton>(&box, "tbOk")->text(), QStringLiteral("Ok"));
        QCOMPARE(child<QToolButton>(&box, "tbCancel")->text(), QStringLiteral("Cancel"));
        QCOMPARE(box.windowModality(), Qt::WindowModal);
    }

    void messageboxResults_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("result");
        QTest::newRow("Ok") << "tbOk" << 1;
        QTest::newRow("Cancel") << "tbCancel" << -1;
        QTest::newRow("Escape key") << "escape" << 0;
        QTest::newRow("close control") << "close" << 0;
    }

    void messageboxResults()
    {
        QFETCH(QString, action);
        QFETCH(int, result);
        TMessagebox box(nullptr, 2);
        QTimer::singleShot(0, &box, [&box, action] {
            if (action == QLatin1String("escape"))
                QTest::keyClick(&box, Qt::Key_Escape);
            else if (action == QLatin1String("close"))
                box.close();
            else
                QTest::mouseClick(box.findChild<QToolButton *>(action), Qt::LeftButton);
        });
        QCOMPARE(box.exec(), result);
    }

    void messageboxTexts()
    {
        TMessagebox box;
        QCOMPARE(child<QLabel>(&box, "lblTitle")->text(), QStringLiteral("Attenzione"));
        box.setTitle(QStringLiteral("Titolo"));
        QCOMPARE(child<QLabel>(&box, "lblTitle")->text(), QStringLiteral("Titolo"));
        box.setTitle(QString());
        QCOMPARE(child<QLabel>(&box, "lblTitle")->text(), QString());

        auto *message = child<QLabel>(&box, "lblMessage");
        const QString link = QStringLiteral("Scrivere a <a href=\"mailto:x@example.com\">x@example.com</a>");
        box.setMessage(link);
        QCOMPARE(message->text(), link);
        QCOMPARE(message->textInteractionFlags(), Qt::NoTextInteraction);
        QVERIFY(message->openExternalLinks());

        const Qt::TextInteractionFlags browser = Qt::TextBrowserInteraction;
        box.setMessage(link, browser);
        QCOMPARE(message->textInteractionFlags(), browser);
        QVERIFY(message->openExternalLinks());
        // back to a plain message: links are not clickable any more
        box.setMessage(QStringLiteral("Attendere prego..."));
        QCOMPARE(message->textInteractionFlags(), Qt::NoTextInteraction);
    }

    // ---- rounded mask ------------------------------------------------------

    void roundedRegionShape_data()
    {
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<int>("radius");
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<bool>("inside");
        const QRect r(0, 0, 400, 250);
        QTest::newRow("top-left corner cut") << r << 10 << QPoint(0, 0) << false;
        QTest::newRow("top-right corner cut") << r << 10 << QPoint(399, 0) << false;
        QTest::newRow("bottom-left corner cut") << r << 10 << QPoint(0, 249) << false;
        QTest::newRow("bottom-right corner cut") << r << 10 << QPoint(399, 249) << false;
        QTest::newRow("just off the corner arc") << r << 10 << QPoint(1, 1) << false;
        QTest::newRow("inside the corner arc") << r << 10 << QPoint(4, 4) << true;
        QTest::newRow("far corner arc inside") << r << 10 << QPoint(395, 245) << true;
        QTest::newRow("top edge past the radius") << r << 10 << QPoint(10, 0) << true;
        QTest::newRow("left edge past the radius") << r << 10 << QPoint(0, 10) << true;
        QTest::newRow("right edge middle") << r << 10 << QPoint(399, 125) << true;
        QTest::newRow("bottom edge middle") << r << 10 << QPoint(200, 249) << true;
        QTest::newRow("centre") << r << 10 << QPoint(200, 125) << true;
        QTest::newRow("outside the rectangle") << r << 10 << QPoint(400, 125) << false;
        QTest::newRow("offset rectangle corner") << QRect(50, 20, 100, 60) << 10 << QPoint(50, 20) << false;
        QTest::newRow("offset rectangle centre") << QRect(50, 20, 100, 60) << 10 << QPoint(100, 50) << true;
        QTest::newRow("larger radius cuts more") << r << 30 << QPoint(5, 5) << false;
    }

    void roundedRegionShape()
    {
        QFETCH(QRect, rect);
        QFETCH(int, radius);
        QFETCH(QPoint, point);
        QFETCH(bool, inside);
        QCOMPARE(roundedRegion(rect, radius).contains(point), inside);
    }

    void dialogsFollowTheirSizeWithTheMask()
    {
        TMessagebox message;
        TProgressBox progress;
        TestWorkspace ws; // TLinguaBox reads the working folder
        TLinguaBox language;
        for (QDialog *d : std::initializer_list<QDialog *> { &message, &progress, &language }) {
            d->resize(300, 200);
            d->show();
            QVERIFY(QTest::qWaitForWindowExposed(d));
            QCOMPARE(d->mask(), roundedRegion(QRect(0, 0, 300, 200)));
            d->resize(420, 260);
            QTRY_COMPARE(d->mask(), roundedRegion(QRect(0, 0, 420, 260)));
            d->hide();
        }
    }

    // ---- TProgressBox ------------------------------------------------------

    void progressBoxStartsEmpty()
    {
        TProgressBox box;
        QCOMPARE(box.objectName(), QStringLiteral("TProgressBox"));
        QCOMPARE(child<QProgressBar>(&box, "progressBar")->value(), 0);
        QCOMPARE(child<QProgressBar>(&box, "progressBarTotal")->value(), 0);
        QCOMPARE(child<QLabel>(&box, "lblTempoRimanente")->text(), QStringLiteral("Tempo rimanente:"));
        QCOMPARE(child<QLabel>(&box, "lblVelocitaDownload")->text(), QString::fromUtf8("Velocità:"));
        box.setTitle(QStringLiteral("Software Update"));
        box.setMessage(QStringLiteral("download aggiornamenti in corso..."));
        QCOMPARE(child<QLabel>(&box, "lblTitle")->text(), QStringLiteral("Software Update"));
        QCOMPARE(child<QLabel>(&box, "lblMessage")->text(),
                 QStringLiteral("download aggiornamenti in corso..."));
    }

    void progressBars_data()
    {
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("overallDone");
        QTest::addColumn<qint64>("overallTotal");
        QTest::addColumn<double>("itemFraction");
        QTest::addColumn<double>("overallFraction");

        QTest::newRow("plain counts") << qint64(25) << qint64(100) << qint64(3) << qint64(12) << 0.25 << 0.25;
        QTest::newRow("overall total 0 uses the item total")
            << qint64(40) << qint64(80) << qint64(20) << qint64(0) << 0.5 << 0.25;
        QTest::newRow("finished") << qint64(7) << qint64(7) << qint64(9) << qint64(9) << 1.0 << 1.0;
        QTest::newRow("int maximum still fits")
            << qint64(INT_MAX) << qint64(INT_MAX) << qint64(0) << qint64(INT_MAX) << 1.0 << 0.0;
        QTest::newRow("just over 2 GiB") << qint64(INT_MAX) + 1 << qint64(INT_MAX) + 2 << qint64(1) * GiB
                                         << qint64(4) * GiB << 1.0 << 0.25;
        QTest::newRow("6 GiB file, half done") << 3 * GiB << 6 * GiB << 3 * GiB << 12 * GiB << 0.5 << 0.25;
        QTest::newRow("terabytes") << qint64(750) * GiB * 1024 << qint64(1000) * GiB * 1024 << qint64(1)
                                   << qint64(2) << 0.75 << 0.5;
        QTest::newRow("done beyond total is shown as full")
            << qint64(120) << qint64(100) << qint64(150) << qint64(100) << 1.0 << 1.0;
        QTest::newRow("negative done is shown as empty")
            << qint64(-5) << qint64(100) << qint64(0) << qint64(100) << 0.0 << 0.0;
    }

    void progressBars()
    {
        QFETCH(qint64, done);
        QFETCH(qint64, total);
        QFETCH(qint64, overallDone);
        QFETCH(qint64, overallTotal);
        QFETCH(double, itemFraction);
        QFETCH(double, overallFraction);

        TProgressBox box;
        box.updateProgress(done, total, QString(), QString(), overallDone, overallTotal);
        for (auto [name, fraction] : { std::pair { "progressBar", itemFraction },
                                       std::pair { "progressBarTotal", overallFraction } }) {
            auto *bar = child<QProgressBar>(&box, name);
            QCOMPARE(bar->minimum(), 0);
            QVERIFY2(bar->maximum() > 0, name);
            const double shown = double(bar->value()) / bar->maximum();
            QVERIFY2(qAbs(shown - fraction) < 1e-6,
                     qPrintable(QStringLiteral("%1 shows %2 of %3")
                                    .arg(QLatin1String(name))
                                    .arg(bar->value())
                                    .arg(bar->maximum())));
        }
    }

    void progressBarsWithoutTotal()
    {
        TProgressBox box;
        box.updateProgress(10, 100, QString(), QString(), 10, 100);
        box.updateProgress(0, 0, QString(), QString(), 0, 0);
        // nothing to measure: both bars fall back to an empty range instead of
        // keeping old values
        QCOMPARE(child<QProgressBar>(&box, "progressBar")->maximum(), 0);
        QCOMPARE(child<QProgressBar>(&box, "progressBarTotal")->maximum(), 0);
    }

    void progressReadouts_data()
    {
        QTest::addColumn<QString>("timeLeft");
        QTest::addColumn<QString>("speed");
        QTest::addColumn<bool>("timeShown");
        QTest::addColumn<bool>("speedShown");
        QTest::newRow("download: both") << "00:01:30"
                                        << "1.2 MB/s" << true << true;
        QTest::newRow("extraction: neither") << ""
                                             << "" << false << false;
        QTest::newRow("blank time, speed given") << "   "
                                                 << "800 KB/s" << false << true;
        QTest::newRow("time given, blank speed") << "00:00:05"
                                                 << "\t " << true << false;
        QTest::newRow("padded texts are kept as given") << " 3 s "
                                                        << " 1 MB/s" << true << true;
    }

    void progressReadouts()
    {
        QFETCH(QString, timeLeft);
        QFETCH(QString, speed);
        QFETCH(bool, timeShown);
        QFETCH(bool, speedShown);

        TProgressBox box;
        // start from the opposite state so that both directions are exercised
        box.updateProgress(1, 2, timeShown ? QString() : QStringLiteral("x"),
                           speedShown ? QString() : QStringLiteral("y"), 1, 2);
        box.updateProgress(1, 2, timeLeft, speed, 1, 2);
        QCOMPARE(shown(&box, "lblTime"), timeShown);
        QCOMPARE(shown(&box, "lblTempoRimanente"), timeShown);
        QCOMPARE(shown(&box, "lblVelocita"), speedShown);
        QCOMPARE(shown(&box, "lblVelocitaDownload"), speedShown);
        if (timeShown) {
            QCOMPARE(child<QLabel>(&box, "lblTime")->text(), timeLeft);
            QCOMPARE(child<QLabel>(&box, "lblTempoRimanente")->text(), QStringLiteral("Tempo rimanente:"));
        }
        if (speedShown)
            QCOMPARE(child<QLabel>(&box, "lblVelocita")->text(), speed);
    }

    // ---- TLinguaBox --------------------------------------------------------

    void languageListFromFile()
    {
        TestWorkspace ws;
        QVERIFY(ws.writeFile(QStringLiteral("language.ini"), twoLanguages));
        QVERIFY(ws.makeDir(QStringLiteral("update_flags")));
        QImage flag(90, 60, QImage::Format_RGB32);
        flag.fill(Qt::darkGreen);
        QVERIFY(flag.save(ws.filePath(QStringLiteral("update_flags/ita.png"))));

        TLinguaBox box;
        QCOMPARE(box.objectName(), QStringLiteral("TLinguaBox"));
        QCOMPARE(child<QLabel>(&box, "lblTitle")->text(), QStringLiteral("Selezione lingua"));
        auto *list = child<QListWidget>(&box, "listWidgetLingua");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(0)->text(), QStringLiteral("Italiano"));
        QCOMPARE(list->item(1)->text(), QString::fromUtf8("Français"));
        QVERIFY(!list->item(0)->icon().isNull());
        QVERIFY(list->item(1)->icon().isNull()); // fra.png is missing: no icon, still listed
        QCOMPARE(list->currentRow(), 1);
        QVERIFY(list->item(1)->isSelected());
    }

    void languageChoice_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("stored");
        QTest::newRow("Ok keeps the preset row") << "tbOk" << -2 << 1 << 2;
        QTest::newRow("Ok with the first row") << "tbOk" << 0 << 1 << 1;
        QTest::newRow("Ok with nothing selected keeps the language") << "tbOk" << -1 << 1 << 2;
        QTest::newRow("Cancel stores nothing") << "tbCancel" << 0 << -1 << 2;
    }

    void languageChoice()
    {
        QFETCH(QString, button);
        QFETCH(int, row);
        QFETCH(int, result);
        QFETCH(int, stored);

        TestWorkspace ws;
        QVERIFY(ws.writeFile(QStringLiteral("language.ini"), twoLanguages));
        TLinguaBox box;
        auto *list = child<QListWidget>(&box, "listWidgetLingua");
        if (row == -1)
            list->clearSelection();
        else if (row >= 0)
            list->setCurrentRow(row);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QTest::mouseClick(box.findChild<QToolButton *>(button), Qt::LeftButton);
        QCOMPARE(box.result(), result);
        QVERIFY(!box.isVisible());
        QCOMPARE(currentLanguage(), stored);
        if (button == QLatin1String("tbCancel") || row == -1)
            QCOMPARE(ws.readFile(QStringLiteral("language.ini")), twoLanguages);
    }

    void languageChoiceWithoutFile()
    {
        TestWorkspace ws;
        TLinguaBox box;
        QCOMPARE(child<QListWidget>(&box, "listWidgetLingua")->count(), 0);
        box.show();
        QTest::mouseClick(child<QToolButton>(&box, "tbOk"), Qt::LeftButton);
        QCOMPARE(box.result(), 1);
        QVERIFY(!QFile::exists(ws.filePath(QStringLiteral("language.ini"))));
    }

    void languagePresetPastTheEnd()
    {
        TestWorkspace ws;
        QByteArray content = twoLanguages;
        content.replace("selected_currentlanguage=2", "selected_currentlanguage=7");
        QVERIFY(ws.writeFile(QStringLiteral("language.ini"), content));
        TLinguaBox box;
        auto *list = child<QListWidget>(&box, "listWidgetLingua");
        QCOMPARE(list->count(), 2);
        QVERIFY(list->selectedItems().isEmpty());
    }

    // ---- ModalAnswerer (used by every GUI test) ------------------------------

    void answererRecordsAndAnswers()
    {
        ModalAnswerer answerer(QStringLiteral("tbCancel"), 2);
        TMessagebox first(nullptr, 2);
        first.setTitle(QStringLiteral("Attenzione"));
        first.setMessage(QStringLiteral("Prima domanda"));
        QCOMPARE(first.exec(), -1);

        answerer.setButton(QStringLiteral("tbOk"));
        TMessagebox second(nullptr, 1);
        second.setTitle(QStringLiteral("Info"));
        second.setMessage(QStringLiteral("Seconda"));
        QCOMPARE(second.exec(), 1);

        QCOMPARE(answerer.answered(), 2);
        QCOMPARE(answerer.titles(), QStringList({ "Attenzione", "Info" }));
        QCOMPARE(answerer.messages(), QStringList({ "Prima domanda", "Seconda" }));

        // the limit is reached: a third box stays open
        TMessagebox third(nullptr, 2);
        third.show();
        QTest::qWait(80);
        QVERIFY(third.isVisible());
        QCOMPARE(answerer.answered(), 2);
    }

    void answererRejectsWhenTheButtonIsMissing_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("result");
        QTest::newRow("escape") << "escape" << 2 << 0;
        QTest::newRow("hidden Cancel") << "tbCancel" << 1 << 0;
        QTest::newRow("unknown button") << "tbNothing" << 2 << 0;
    }

    void answererRejectsWhenTheButtonIsMissing()
    {
        QFETCH(QString, button);
        QFETCH(int, mode);
        QFETCH(int, result);
        ModalAnswerer answerer(button);
        TMessagebox box(nullptr, mode);
        QCOMPARE(box.exec(), result);
        QCOMPARE(answerer.answered(), 1);
    }

    void answererLeavesWaitAndProgressBoxesAlone()
    {
        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        TMessagebox wait(nullptr, 0);
        wait.setMessage(QStringLiteral("Attendere prego..."));
        wait.show();
        TProgressBox progress;
        progress.show();
        QTest::qWait(60);
        QVERIFY(wait.isVisible());
        QVERIFY(progress.isVisible());
        QCOMPARE(answerer.answered(), 0);

        TMessagebox question(nullptr, 2);
        question.setMessage(QStringLiteral("Domanda"));
        QCOMPARE(question.exec(), 1);
        QCOMPARE(answerer.messages(), QStringList({ "Domanda" }));
        QVERIFY(wait.isVisible());
    }

    void answerFileDialog_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("expectFile");
        QTest::newRow("existing file") << "update.zip" << true;
        QTest::newRow("cancel") << "" << false;
        QTest::newRow("missing file cancels") << "missing.zip" << false;
    }

    void answerFileDialog()
    {
        QFETCH(QString, answer);
        QFETCH(bool, expectFile);
        TestWorkspace ws;
        QVERIFY(ws.writeFile(QStringLiteral("update.zip"), "PK"));
        const QString path = answer.isEmpty() ? QString() : ws.filePath(answer);
        ModalAnswerer::answerNextFileDialog(path);
        const QString chosen
            = QFileDialog::getOpenFileName(nullptr, QStringLiteral("Zip"), ws.path(), QStringLiteral("*.zip"),
                                           nullptr, QFileDialog::DontUseNativeDialog);
        if (expectFile)
            QCOMPARE(QFileInfo(chosen).canonicalFilePath(), QFileInfo(path).canonicalFilePath());
        else
            QVERIFY(chosen.isEmpty());
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
