// The main window's form: the window code reaches every widget by object name
// (and through on_<object>_<signal> slots), so a renamed, misplaced or
// mistyped widget breaks the updater silently. These tests build the form the
// way the window does and check names, kinds, places, texts and pictures.
#include "ui/dialogstyle.h"

// The form lives in ui/; the relative include lets this test's own uic run find it.
#include "../ui/ui_mainwindow.h"

#include <QFile>
#include <QLayout>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

#include <memory>

namespace {

QStringList layoutOrder(QLayout *layout)
{
    QStringList names;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->widget())
            names << item->widget()->objectName();
        else if (item->spacerItem())
            names << QStringLiteral("<spacer>");
        else if (item->layout())
            names << QStringLiteral("<layout>");
    }
    return names;
}

QByteArray sourceFile(const QString &relative)
{
    QFile file(QStringLiteral(UPDATE_HUB_SOURCE_DIR "/") + relative);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestForm : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QMainWindow> window;
    Ui::MainWindow ui;
    QStringList styleWarnings;

    template<typename T> T *widget(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }

private slots:
    void initTestCase()
    {
        initUiResources();
        window = std::make_unique<QMainWindow>();
        ui.setupUi(window.get());
    }

    void objectNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("container");

        auto row = [](const QString &name, const char *kind, const char *container) {
            QTest::newRow(qPrintable(name))
                << name << QString::fromLatin1(kind) << QString::fromLatin1(container);
        };
        row(QStringLiteral("centralWidget"), "QWidget", "MainWindow");
        for (const char *n : { "tbTeamViewer", "tbAggiornamentoManuale", "tbInfo", "tbSegnalazioni",
                               "tbSelezionaLingua", "tbMinimize", "tbClose" })
            row(QLatin1String(n), "QToolButton", "frameButton");
        row(QStringLiteral("labelVersion"), "QLabel", "frameButton");
        row(QStringLiteral("label"), "QLabel", "frameButton");
        row(QStringLiteral("frameButton"), "QFrame", "centralWidget");
        row(QStringLiteral("stackedWidget"), "QStackedWidget", "centralWidget");
        row(QStringLiteral("frameTitle"), "QFrame", "centralWidget");
        row(QStringLiteral("pageLogo"), "QWidget", "stackedWidget");
        row(QStringLiteral("labelLogoLeft"), "QLabel", "pageLogo");
        row(QStringLiteral("tbDownload"), "QToolButton", "pageLogo");
        row(QStringLiteral("labelLogoRight"), "QLabel", "pageLogo");
        row(QStringLiteral("pageStepDownload"), "QWidget", "stackedWidget");
        for (int k = 1; k <= 4; ++k) {
            row(QStringLiteral("lblStep%1").arg(k), "QLabel", "pageStepDownload");
            row(QStringLiteral("lblStep%1Arrow").arg(k), "QLabel", "pageStepDownload");
            row(QStringLiteral("step%1").arg(k), "QWidget", "stackedWidgetAgg");
        }
        row(QStringLiteral("lblRepeat"), "QLabel", "pageStepDownload");
        row(QStringLiteral("stackedWidgetAgg"), "QStackedWidget", "pageStepDownload");
        // step 1: account code and customer data
        row(QStringLiteral("lblPasswordTitle"), "QLabel", "step1");
        row(QStringLiteral("frameInserimentoPw"), "QFrame", "step1");
        for (const char *n : { "lblInfo1", "lblInfo2" })
            row(QLatin1String(n), "QLabel", "frameInserimentoPw");
        row(QStringLiteral("lineEditPassword"), "QLineEdit", "frameInserimentoPw");
        row(QStringLiteral("tbOkPw"), "QToolButton", "frameInserimentoPw");
        row(QStringLiteral("tbCancelPw"), "QToolButton", "frameInserimentoPw");
        row(QStringLiteral("frameVisualizzaInfo"), "QFrame", "step1");
        row(QStringLiteral("tableWidgetInfo"), "QTableWidget", "frameVisualizzaInfo");
        row(QStringLiteral("frame"), "QFrame", "frameVisualizzaInfo");
        row(QStringLiteral("tbOkInfo"), "QToolButton", "frame");
        row(QStringLiteral("tbCancelInfo"), "QToolButton", "frame");
        // step 2: languages
        row(QStringLiteral("lblSelezioneLinguaTitle"), "QLabel", "step2");
        for (int k = 1; k <= 3; ++k) {
            row(QStringLiteral("lblSelectLinguaTitle%1").arg(k), "QLabel", "step2");
            const QByteArray frame = QStringLiteral("frameDiag%1").arg(k).toLatin1();
            row(QString::fromLatin1(frame), "QFrame", "step2");
            row(QStringLiteral("lblSelLingua%1").arg(k), "QLabel", frame.constData());
            row(QStringLiteral("cbSelLingua%1").arg(k), "QComboBox", frame.constData());
            row(QStringLiteral("lblDefaultLingua%1").arg(k), "QLabel", frame.constData());
            row(QStringLiteral("cbDefaultLingua%1").arg(k), "QComboBox", frame.constData());
        }
        row(QStringLiteral("tbOkSelezionaLingua"), "QToolButton", "step2");
        row(QStringLiteral("tbCancelSelezionaLingua"), "QToolButton", "step2");
        // step 3: available updates
        row(QStringLiteral("lblAggDisponibiliTitle"), "QLabel", "step3");
        for (int k = 1; k <= 3; ++k) {
            row(QStringLiteral("lblRelDiagInfo%1").arg(k), "QLabel", "step3");
            const QByteArray frame = QStringLiteral("frmRelDiagInfo%1").arg(k).toLatin1();
            row(QString::fromLatin1(frame), "QFrame", "step3");
            row(QStringLiteral("lblRelDiag%1").arg(k), "QLabel", frame.constData());
            row(QStringLiteral("textRelDiag%1").arg(k), "QTextEdit", frame.constData());
            row(QStringLiteral("lblRelInfo%1").arg(k), "QLabel", frame.constData());
            row(QStringLiteral("textRelInfo%1").arg(k), "QTextEdit", frame.constData());
        }
        row(QStringLiteral("tbOkAggiornamentiDisponibili"), "QToolButton", "step3");
        row(QStringLiteral("tbCancelAggiornamentiDisponibili"), "QToolButton", "step3");
        // step 4: updates done
        row(QStringLiteral("lblAggEffettuatiTitle"), "QLabel", "step4");
        row(QStringLiteral("tableWidgetInformativaService"), "QTableWidget", "step4");
        row(QStringLiteral("lblInformativaService"), "QLabel", "step4");
        row(QStringLiteral("tbOkAggiornamentiEffettuati"), "QToolButton", "step4");
        // footer
        for (const char *n : { "labelLeft", "labelCenter", "labelRight" })
            row(QLatin1String(n), "QLabel", "frameTitle");
    }

    void objectNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, container);

        const QList<QWidget *> found = window->findChildren<QWidget *>(name);
        QCOMPARE(found.size(), 1); // names are unique, or findChild would pick one at random
        QWidget *w = found.first();
        QVERIFY2(w->inherits(kind.toLatin1().constData()),
                 qPrintable(name + QStringLiteral(" is a ") + QLatin1String(w->metaObject()->className())));
        QWidget *outer = container == QLatin1String("MainWindow") ? window.get()
                                                                  : window->findChild<QWidget *>(container);
        QVERIFY(outer);
        QVERIFY2(outer->isAncestorOf(w), qPrintable(name + QStringLiteral(" is not inside ") + container));
    }

    void pagesInOrderAndBothStacksAtZero()
    {
        QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(ui.stackedWidget->count(), 2);
        QCOMPARE(ui.stackedWidget->widget(0)->objectName(), QStringLiteral("pageLogo"));
        QCOMPARE(ui.stackedWidget->widget(1)->objectName(), QStringLiteral("pageStepDownload"));
        QCOMPARE(ui.stackedWidgetAgg->count(), 4);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(ui.stackedWidgetAgg->widget(i)->objectName(), QStringLiteral("step%1").arg(i + 1));
        QCOMPARE(ui.stackedWidget->currentIndex(), 0);
        QCOMPARE(ui.stackedWidgetAgg->currentIndex(), 0);
        // the window's code switches to a missing step 5 and expects the page to stay
        ui.stackedWidgetAgg->setCurrentIndex(5);
        QCOMPARE(ui.stackedWidgetAgg->currentIndex(), 0);
    }

    void texts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        for (int k = 1; k <= 4; ++k)
            QTest::newRow(qPrintable(QStringLiteral("lblStep%1").arg(k)))
                << QStringLiteral("lblStep%1").arg(k) << QStringLiteral("Step %1").arg(k);
        QTest::newRow("lblRepeat") << "lblRepeat"
                                   << "";
        QTest::newRow("lblSelezioneLinguaTitle") << "lblSelezioneLinguaTitle"
                                                 << "Selezione lingua";
        QTest::newRow("lblAggDisponibiliTitle") << "lblAggDisponibiliTitle"
                                                << "Aggiornamenti disponibili";
        QTest::newRow("lblAggEffettuatiTitle") << "lblAggEffettuatiTitle"
                                               << "Aggiornamenti effettuati";
        for (int k = 1; k <= 3; ++k) {
            const QString d = QString::number(k);
            QTest::newRow(qPrintable("lblSelLingua" + d)) << "lblSelLingua" + d << "Seleziona lingua";
            QTest::newRow(qPrintable("lblDefaultLingua" + d))
                << "lblDefaultLingua" + d << "Lingua di default";
            QTest::newRow(qPrintable("lblRelDiag" + d)) << "lblRelDiag" + d << "Autodiagnosi Rel.";
            QTest::newRow(qPrintable("lblRelInfo" + d)) << "lblRelInfo" + d << "Info Tecniche Rel.";
        }
        for (const char *n : { "tbOkPw", "tbOkInfo", "tbOkSelezionaLingua", "tbOkAggiornamentiDisponibili",
                               "tbOkAggiornamentiEffettuati" })
            QTest::newRow(n) << n << "Ok";
        for (const char *n :
             { "tbCancelPw", "tbCancelInfo", "tbCancelSelezionaLingua", "tbCancelAggiornamentiDisponibili" })
            QTest::newRow(n) << n << "Back";
        for (const char *n : { "tbTeamViewer", "tbAggiornamentoManuale", "tbInfo", "tbSegnalazioni",
                               "tbSelezionaLingua", "tbMinimize", "tbClose" })
            QTest::newRow(n) << n << ""; // tool bar buttons are pictures only
    }

    void texts()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QObject *w = window->findChild<QObject *>(name);
        QVERIFY(w);
        QCOMPARE(w->property("text").toString(), text);
    }

    void windowAndWidgetSettings()
    {
        QCOMPARE(window->windowTitle(), QStringLiteral("MainWindow"));
        QCOMPARE(window->size(), QSize(1024, 768));
        QCOMPARE(window->minimumSize(), QSize(1024, 768));
        QVERIFY(window->styleSheet().isEmpty()); // the window's code adds its scroll-bar style later

        QVERIFY(ui.tbAggiornamentoManuale->isCheckable());
        QVERIFY(!ui.tbSelezionaLingua->isCheckable());
        QCOMPARE(ui.lineEditPassword->echoMode(), QLineEdit::Normal);
        for (QTextEdit *text : window->findChildren<QTextEdit *>())
            QVERIFY2(text->isReadOnly(), qPrintable(text->objectName()));
        QCOMPARE(ui.lblInfo1->maximumWidth(), 250);
        QVERIFY(ui.lblInfo1->wordWrap());
        QCOMPARE(ui.tableWidgetInfo->columnCount(), 2);
        QVERIFY(ui.tableWidgetInfo->alternatingRowColors());
        for (QTableWidget *table : { ui.tableWidgetInfo, ui.tableWidgetInformativaService }) {
            QVERIFY(table->horizontalHeader()->stretchLastSection());
            QVERIFY(table->horizontalHeader()->minimumSectionSize() >= 250);
        }
        for (QComboBox *combo : window->findChildren<QComboBox *>())
            QCOMPARE(combo->maxVisibleItems(), 10);
        for (QToolButton *b : ui.frameButton->findChildren<QToolButton *>())
            QCOMPARE(b->iconSize(), QSize(30, 30));
        QCOMPARE(ui.tbDownload->iconSize(), QSize(180, 180));

        // layouts the window's code and other forms refer to by name
        for (const char *n : { "verticalLayout", "horizontalLayout", "verticalLayout_2", "horizontalLayout_4",
                               "horizontalLayout_3" })
            QVERIFY2(window->findChild<QLayout *>(QLatin1String(n)), n);
    }

    void rowsAreInOrder()
    {
        const QStringList toolbar = layoutOrder(ui.horizontalLayout);
        QCOMPARE(
            toolbar,
            QStringList({ "tbTeamViewer", "tbAggiornamentoManuale", "tbInfo", "tbSegnalazioni", "<spacer>",
                          "labelVersion", "label", "tbSelezionaLingua", "tbMinimize", "tbClose" }));
        QStringList steps = layoutOrder(ui.horizontalLayout_4);
        QCOMPARE(
            steps,
            QStringList({ "<spacer>", "lblStep1", "lblStep1Arrow", "lblStep2", "lblStep2Arrow", "lblStep3",
                          "lblStep3Arrow", "lblStep4", "lblStep4Arrow", "lblRepeat", "<spacer>" }));
        QCOMPARE(layoutOrder(ui.verticalLayout),
                 QStringList({ "frameButton", "stackedWidget", "frameTitle" }));
        QCOMPARE(layoutOrder(ui.horizontalLayout_3),
                 QStringList({ "labelLeft", "labelCenter", "labelRight" }));
        QCOMPARE(ui.verticalLayout_2->contentsMargins(), QMargins(30, 10, 30, 50));
    }

    void checkedIconsDifferFromNormalOnes_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *n :
             { "tbTeamViewer", "tbAggiornamentoManuale", "tbInfo", "tbSegnalazioni", "tbSelezionaLingua" })
            QTest::newRow(n) << n;
    }

    void checkedIconsDifferFromNormalOnes()
    {
        QFETCH(QString, name);
        auto *button = window->findChild<QToolButton *>(name);
        QVERIFY(button);
        const QIcon icon = button->icon();
        const QImage off = icon.pixmap(QSize(30, 30), QIcon::Normal, QIcon::Off).toImage();
        const QImage on = icon.pixmap(QSize(30, 30), QIcon::Normal, QIcon::On).toImage();
        QVERIFY(!off.isNull());
        QVERIFY(!on.isNull());
        QVERIFY(off != on);
    }

    // Shown at its real size: style sheets parse, the fixed sizes hold, and the
    // step labels keep their strip look when the window's code replaces their
    // own style sheet with a colour only.
    void laidOutWindow()
    {
        styleWarnings.clear();
        static TestForm *self = nullptr;
        self = this;
        QtMessageHandler previous
            = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &msg) {
                  if (msg.contains(QLatin1String("style"), Qt::CaseInsensitive))
                      self->styleWarnings << msg;
              });
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        ui.stackedWidget->setCurrentIndex(1);
        for (int i = 0; i < ui.stackedWidgetAgg->count(); ++i) {
            ui.stackedWidgetAgg->setCurrentIndex(i);
            QVERIFY(!window->grab().isNull());
        }
        ui.lblStep2->setStyleSheet(QStringLiteral("QLabel { color: white; }"));
        QCoreApplication::processEvents();
        qInstallMessageHandler(previous);
        QVERIFY2(styleWarnings.isEmpty(), qPrintable(styleWarnings.join(QLatin1Char('\n'))));

        QCOMPARE(ui.tbMinimize->width(), 30);
        QCOMPARE(ui.tbClose->width(), 30);
        QVERIFY(ui.tbTeamViewer->width() >= 60);
        QVERIFY(ui.tbTeamViewer->height() >= 35);
        QCOMPARE(ui.labelLogoLeft->size(), QSize(250, 250));
        QCOMPARE(ui.labelLogoRight->size(), QSize(250, 250));
        QVERIFY(ui.labelVersion->width() >= 60 && ui.labelVersion->width() <= 70);
        QVERIFY(ui.label->width() >= 80);
        QCOMPARE(ui.lblStep1->height(), 36);
        QCOMPARE(ui.lblStep2->height(), 36);
        QVERIFY(ui.lblStep1->width() >= 70);
        QCOMPARE(ui.lblPasswordTitle->height(), 50);
        QCOMPARE(ui.lblSelectLinguaTitle1->height(), 34);
        QVERIFY(ui.frameDiag1->height() >= 70);
        QVERIFY(ui.textRelDiag1->width() <= 250);
        ui.stackedWidget->setCurrentIndex(0);
        ui.stackedWidgetAgg->setCurrentIndex(0);
        window->hide();
    }

    // Every picture the forms and the window's code name must be in the resources.
    void picturesLoad_data()
    {
        QTest::addColumn<QString>("path");
        QSet<QString> paths;
        const QRegularExpression picture(QStringLiteral(":/images/img/[A-Za-z0-9_]+\\.png"));
        for (const char *form :
             { "ui/mainwindow.ui", "ui/tmessagebox.ui", "ui/tprogressbox.ui", "ui/tlinguabox.ui" }) {
            const QString text = QString::fromUtf8(sourceFile(QLatin1String(form)));
            QVERIFY2(!text.isEmpty(), form);
            for (auto it = picture.globalMatch(text); it.hasNext();)
                paths.insert(it.next().captured());
        }
        // set by the window's code rather than by a form
        for (const char *name :
             { "icon_aster", "footer_aster", "bkg_logo_right_aster", "arrow_menu_scrollbar_up",
               "arrow_menu_scrollbar_down", "arrow_menu_scrollbar_left", "arrow_menu_scrollbar_right" })
            paths.insert(QStringLiteral(":/images/img/%1.png").arg(QLatin1String(name)));
        QVERIFY(paths.size() >= 32);
        QStringList sorted = paths.values();
        sorted.sort();
        for (const QString &p : sorted)
            QTest::newRow(qPrintable(p.mid(13))) << p;
    }

    void picturesLoad()
    {
        QFETCH(QString, path);
        QVERIFY(!QPixmap(path).isNull());
    }
};

QTEST_MAIN(TestForm)
#include "tst_form.moc"
