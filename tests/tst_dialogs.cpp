// The updater's own dialogs: every question the program asks, every long
// phase it shows, and the language choice go through them, so their results
// and read-outs are what the callers decide on.
#include "support/modalanswerer.h"
#include "support/workspace.h"
#include "ui/dialogstyle.h"
#include "ui/tmessagebox.h"

#include <QFileDialog>
#include <QLabel>
#include <QToolButton>
#include <QtTest>

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
        for (QDialog *d : std::initializer_list<QDialog *> { &message }) {
            d->resize(300, 200);
            d->show();
            QVERIFY(QTest::qWaitForWindowExposed(d));
            QCOMPARE(d->mask(), roundedRegion(QRect(0, 0, 300, 200)));
            d->resize(420, 260);
            QTRY_COMPARE(d->mask(), roundedRegion(QRect(0, 0, 420, 260)));
            d->hide();
        }
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

    void answererLeavesWaitBoxesAlone()
    {
        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        TMessagebox wait(nullptr, 0);
        wait.setMessage(QStringLiteral("Attendere prego..."));
        wait.show();
        QTest::qWait(60);
        QVERIFY(wait.isVisible());
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
