// Start-up of the real main window: settings files, scope table, the card
// search with its messages, pages and steps driven by the named buttons.
#include "app/mainwindow.h"
#include "language/ttranslator.h"
#include "support/modalanswerer.h"
#include "support/testsystem.h"
#include "support/workspace.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QToolButton>
#include <QProcess>
#include <QtTest>


namespace {

const char cannotDownload[] = "Attenzione, impossibile scaricare gli ultimi aggiornamenti. Controllare la connessione ad Internet.";
const char noCard[] = "Nessun lettore SD Card trovato. Verificare che il dispositivo sia correttamente collegato al PC e "
                      "ripetere l'operazione.";

QByteArray customization(const QByteArray &pc, const QByteArray &palm)
{
    return "[personalizzazioni]\nupdate_pc=" + pc + "\nupdate_palm=" + palm + "\n";
}

// A folder that carries the card's signature: "varno/main" and "qte/".
void makeCard(const TestWorkspace &ws, const QString &folder)
{
    ws.writeFile(folder + QStringLiteral("/varno/main"), "EXEC_VERSION=2.10");
    ws.makeDir(folder + QStringLiteral("/qte"));
}

template<typename T>
T *child(MainWindow &w, const char *name)
{
    T *widget = w.findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

} // namespace

class TestMainWindowStart : public QObject
{
    Q_OBJECT

private slots:
    void init() { qunsetenv("UPDATE_HUB_DRIVES"); }
    // The translator is process-wide: no test may leave its language behind.
    void cleanup() { TTranslator::instance()->loadTranslation(QString()); }

    void scopeTable_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<bool>("withCard");
        QTest::addColumn<int>("scope");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("inventory");

        QTest::newRow("both") << customization("1", "1") << true << 2 << QString() << true;
        QTest::newRow("pc only, palm 2") << customization("1", "2") << false << 0 << QString() << true;
        QTest::newRow("card only") << customization("0", "1") << true << 1 << QString() << true;
        QTest::newRow("refused 2/0") << customization("2", "0") << false << 3 << QString::fromUtf8(cannotDownload)
                                     << false;
        QTest::newRow("missing file") << QByteArray() << false << 3 << QString::fromUtf8(cannotDownload) << false;
        QTest::newRow("not numbers") << customization("yes", "x") << false << 3 << QString::fromUtf8(cannotDownload)
                                     << false;
        QTest::newRow("card missing") << customization("1", "1") << false << 2 << QString::fromUtf8(noCard) << false;
    }

    void scopeTable()
    {
        QFETCH(QByteArray, ini);
        QFETCH(bool, withCard);
        QFETCH(int, scope);
        QFETCH(QString, message);
        QFETCH(bool, inventory);

        TestWorkspace ws;
        if (!ini.isEmpty())
            ws.writeFile(QStringLiteral("customize_update.ini"), ini);
        ws.makeDir(QStringLiteral("drives/empty"));
        QString drives = ws.filePath(QStringLiteral("drives/empty"));
        if (withCard) {
            makeCard(ws, QStringLiteral("drives/card"));
            drives += QDir::listSeparator() + ws.filePath(QStringLiteral("drives/card"));
        }
        qputenv("UPDATE_HUB_DRIVES", drives.toLocal8Bit());

        ModalAnswerer answerer;
        MainWindow w;
        QCOMPARE(w.scope(), scope);
        QCOMPARE(answerer.answered(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty()) {
            QCOMPARE(answerer.titles().value(0), QStringLiteral("Attenzione"));
            QCOMPARE(answerer.messages().value(0), message);
        }
        QCOMPARE(w.inventoryStarted(), inventory);
        QCOMPARE(w.styleSheet().contains(QStringLiteral("QScrollBar")), inventory);
        if (withCard && message.isEmpty())
            QCOMPARE(w.card(), ws.filePath(QStringLiteral("drives/card/")));
    }

    void settingsFilesAreRead()
    {
        TestWorkspace ws;
        ws.writeFile(QStringLiteral("customize_update.ini"), customization("1", "0"));
        ws.writeFile(QStringLiteral("password.ini"),
                     "[impostazioni]\r\npassword=AB-12-CD\r\nserialnumber=SN0042\r\n");
        ws.writeFile(QStringLiteral("language.ini"), "[selected]\nselected_currentlanguage=2\n[lingua1]\n"
                                                     "lingua1_idlingua=ita\n[lingua2]\nlingua2_idlingua=eng\n"
                                                     "lingua2_file=missing.qm\n");
        MainWindow w;
        QCOMPARE(w.languageId(), QStringLiteral("eng"));
        QCOMPARE(w.serial(), QStringLiteral("SN0042"));
        auto *password = child<QLineEdit>(w, "lineEditPassword");
        QCOMPARE(password->text(), QStringLiteral("AB-12-CD"));
        QCOMPARE(password->cursorPosition(), 0);
        QCOMPARE(child<QLabel>(w, "labelVersion")->text(), QStringLiteral("Ver.3.65"));
        QCOMPARE(w.windowTitle(), QStringLiteral("Update Aster"));
        QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
    }

    void brokenSettingsFilesGiveDefaults()
    {
        TestWorkspace ws;
        ws.writeFile(QStringLiteral("customize_update.ini"), customization("1", "0"));
        ws.writeFile(QStringLiteral("password.ini"), QByteArray("\x00\xff\xfe[[[\n=\n", 10));
        ws.writeFile(QStringLiteral("language.ini"), QByteArray("\x00\x01\x02\xff", 4));
        MainWindow w;
        QCOMPARE(w.scope(), 0);
        QVERIFY(w.languageId().isEmpty());
    }

    void showMessageModes_data()
    {
        QTest::addColumn<QString>("buttons");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("result");
        QTest::newRow("one button") << "Ok" << "tbOk" << 1;
        QTest::newRow("empty list is one button") << "" << "tbOk" << 1;
        QTest::newRow("two buttons, Ok") << "Ok|Cancel" << "tbOk" << 1;
        QTest::newRow("two buttons, Cancel") << "Ok|Cancel" << "tbCancel" << -1;
        QTest::newRow("Escape") << "Ok|Cancel" << "escape" << 0;
    }

    void showMessageModes()
    {
        QFETCH(QString, buttons);
        QFETCH(QString, answer);
        QFETCH(int, result);
        TestWorkspace ws;
        ws.writeFile(QStringLiteral("customize_update.ini"), customization("1", "0"));
        MainWindow w;
        ModalAnswerer answerer(answer);
        QCOMPARE(w.showMessage(QStringLiteral("Attenzione"), QStringLiteral("Uno.|Due."), buttons, QStringLiteral("\n\n")),
                 result);
        QCOMPARE(answerer.messages(), QStringList{QStringLiteral("Uno.\n\nDue.")});
    }

    void showMessageTranslatesEachPart()
    {
        TestWorkspace ws;
        ws.writeFile(QStringLiteral("customize_update.ini"), customization("1", "0"));
        QVERIFY(QFile::copy(QStringLiteral(UPDATE_HUB_QM_DIR "/update_hub_en.qm"), ws.filePath(QStringLiteral("en.qm"))));
        ws.writeFile(QStringLiteral("language.ini"),
                     "[lingua1]\nlingua1_idlingua=eng\nlingua1_file=en.qm\n[selected]\nselected_currentlanguage=1\n");
        MainWindow w;
        ModalAnswerer answerer;
        w.showMessage(QStringLiteral("Attenzione"),
                      QStringLiteral("Controllare la connessione ad Internet.|Not in the catalogue."),
                      QStringLiteral("Ok"), QStringLiteral(" "));
        QCOMPARE(answerer.titles(), QStringList{QStringLiteral("Warning")});
        QCOMPARE(answerer.messages(), QStringList{QStringLiteral("Check the Internet connection. Not in the catalogue.")});
    }

    void languageDialogLoadsTheChosenTranslation()
    {
        TestWorkspace ws;
        ws.writeFile(QStringLiteral("customize_update.ini"), customization("1", "0"));
        QVERIFY(QFile::copy(QStringLiteral(UPDATE_HUB_QM_DIR "/update_hub_en.qm"), ws.filePath(QStringLiteral("en.qm"))));
        ws.writeFile(QStringLiteral("language.ini"),
                     "[lingua1]\nlingua1_idlingua=ita\nlingua1_description=Italiano\n"
                     "[lingua2]\nlingua2_idlingua=eng\nlingua2_description=English\nlingua2_file=en.qm\n"
                     "[selected]\nselected_currentlanguage=2\n");
        MainWindow w;
        w.show();
        // The chosen language reaches the form's own texts from the start.
        QCOMPARE(child<QLabel>(w, "lblPasswordTitle")->text(), QStringLiteral("Enter password"));
        TTranslator::instance()->loadTranslation(QString());
        {
            ModalAnswerer cancel(QStringLiteral("tbCancel"));
            QTest::mouseClick(child<QToolButton>(w, "tbSelezionaLingua"), Qt::LeftButton);
            QCOMPARE(cancel.answered(), 1);
        }
        QCOMPARE(TTranslator::instance()->translate(QStringLiteral("Attenzione")), QStringLiteral("Attenzione"));
        ModalAnswerer ok;
        QTest::mouseClick(child<QToolButton>(w, "tbSelezionaLingua"), Qt::LeftButton);
        QCOMPARE(ok.answered(), 1);
        // The preset row (the current language) was confirmed: its translation is in.
        QCOMPARE(TTranslator::instance()->translate(QStringLiteral("Attenzione")), QStringLiteral("Warning"));
        QVERIFY(ws.readFile(QStringLiteral("language.ini")).contains("selected_currentlanguage=2"));
        QCOMPARE(child<QStackedWidget>(w, "stackedWidget")->currentIndex(), 0);
    }

    void pagesAndSteps()
    {
        TestWorkspace ws;
        ws.writeFile(QStringLiteral("customize_update.ini"), customization("1", "0"));
        MainWindow w;
        w.show();
        auto *pages = child<QStackedWidget>(w, "stackedWidget");
        auto *steps = child<QStackedWidget>(w, "stackedWidgetAgg");
        auto *manual = child<QToolButton>(w, "tbAggiornamentoManuale");
        QCOMPARE(pages->currentIndex(), 0);

        QTest::mouseClick(manual, Qt::LeftButton);
        QVERIFY(manual->isChecked());
        QCOMPARE(pages->currentIndex(), 1);
        QCOMPARE(steps->currentIndex(), 0);
        QCOMPARE(child<QLabel>(w, "lblStep1")->styleSheet(), QStringLiteral("QLabel { color: white; }"));
        QVERIFY(child<QToolButton>(w, "tbOkPw")->isEnabled());
        QVERIFY(!child<QLabel>(w, "lblInfo1")->text().isEmpty());

        w.setStep(2);
        QCOMPARE(steps->currentIndex(), 2);
        QCOMPARE(child<QLabel>(w, "lblStep3")->styleSheet(), QStringLiteral("QLabel { color: white; }"));
        QCOMPARE(child<QLabel>(w, "lblStep1")->styleSheet(),
                 QStringLiteral("QLabel { color: rgba(155, 155, 155, 255); }"));
        // Manual mode: Back on the available updates returns to the account code.
        QTest::mouseClick(child<QToolButton>(w, "tbCancelAggiornamentiDisponibili"), Qt::LeftButton);
        QCOMPARE(steps->currentIndex(), 0);

        // An unknown step changes no label and leaves the page.
        w.setStep(5);
        QCOMPARE(steps->currentIndex(), 0);
        QCOMPARE(child<QLabel>(w, "lblStep1")->styleSheet(), QStringLiteral("QLabel { color: white; }"));

        QTest::mouseClick(child<QToolButton>(w, "tbCancelPw"), Qt::LeftButton);
        QVERIFY(!manual->isChecked());
        QCOMPARE(pages->currentIndex(), 0);

        // Outside manual mode Back on the available updates goes to the language step.
        QTest::mouseClick(manual, Qt::LeftButton);
        QTest::mouseClick(manual, Qt::LeftButton);
        QCOMPARE(pages->currentIndex(), 0);
        w.setStep(2);
        QTest::mouseClick(child<QToolButton>(w, "tbCancelAggiornamentiDisponibili"), Qt::LeftButton);
        QCOMPARE(steps->currentIndex(), 1);
        QTest::mouseClick(child<QToolButton>(w, "tbCancelSelezionaLingua"), Qt::LeftButton);
        QCOMPARE(steps->currentIndex(), 0);

        QTest::mouseClick(manual, Qt::LeftButton);
        QTest::mouseClick(child<QToolButton>(w, "tbOkAggiornamentiEffettuati"), Qt::LeftButton);
        QVERIFY(!manual->isChecked());
        QCOMPARE(pages->currentIndex(), 0);
    }

    void failedPreparationEnablesTheAccountControlsAgain()
    {
        TestWorkspace ws;
        ws.writeFile(QStringLiteral("customize_update.ini"), customization("1", "0"));
        ws.writeFile(QStringLiteral("work/old.zip"), "old");
        ws.makeDir(QStringLiteral("work/keep"));
        MainWindow w;
        w.show();
        QTest::mouseClick(child<QToolButton>(w, "tbAggiornamentoManuale"), Qt::LeftButton);
        ModalAnswerer::answerNextFileDialog(QString()); // the package choice is cancelled
        QTest::mouseClick(child<QToolButton>(w, "tbOkPw"), Qt::LeftButton);
        QVERIFY(child<QToolButton>(w, "tbOkPw")->isEnabled());
        QVERIFY(child<QLineEdit>(w, "lineEditPassword")->isEnabled());
        // The common preparation ran: files of the work folder gone, folders kept.
        QVERIFY(!QFile::exists(ws.filePath(QStringLiteral("work/old.zip"))));
        QVERIFY(QDir(ws.filePath(QStringLiteral("work/keep"))).exists());
        QVERIFY(QDir(ws.filePath(QStringLiteral("plugins/log"))).exists());
        QCOMPARE(child<QLabel>(w, "lblRelDiag1")->text(), QStringLiteral("AUTODIAGNOSI:"));
    }

    void cardSearch_data()
    {
        QTest::addColumn<QStringList>("drives");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first of two cards") << QStringList{QStringLiteral("a"), QStringLiteral("b")} << "a";
        QTest::newRow("without qte") << QStringList{QStringLiteral("noqte")} << "";
        QTest::newRow("stick before card") << QStringList{QStringLiteral("stick"), QStringLiteral("b")} << "b";
        QTest::newRow("unreadable drive skipped") << QStringList{QStringLiteral("gone"), QStringLiteral("a")}
                                                  << "a";
        QTest::newRow("no drives") << QStringList{} << "";
        QTest::newRow("card folder with a non-ASCII name")
            << QStringList{QStringLiteral("stick"), QStringLiteral("schedà_für")} << QStringLiteral("schedà_für");
    }

    void cardSearch()
    {
        QFETCH(QStringList, drives);
        QFETCH(QString, expected);
        TestWorkspace ws;
        makeCard(ws, QStringLiteral("a"));
        makeCard(ws, QStringLiteral("b"));
        makeCard(ws, QStringLiteral("schedà_für"));
        ws.writeFile(QStringLiteral("noqte/varno/main"), "x");
        ws.writeFile(QStringLiteral("stick/photo.jpg"), "x");
        QStringList paths;
        for (const QString &drive : drives)
            paths << ws.filePath(drive);
        qputenv("UPDATE_HUB_DRIVES", paths.join(QDir::listSeparator()).toLocal8Bit());
        QCOMPARE(MainWindow::findCardRoot(), expected.isEmpty() ? QString() : ws.filePath(expected + QLatin1Char('/')));
    }

    void writeTestLeavesNothingOnTheCard()
    {
        TestWorkspace ws;
        makeCard(ws, QStringLiteral("card"));
        qputenv("UPDATE_HUB_DRIVES", ws.filePath(QStringLiteral("card")).toLocal8Bit());
        ws.writeFile(QStringLiteral("customize_update.ini"), customization("0", "1"));
        MainWindow w;
        QCOMPARE(w.card(), ws.filePath(QStringLiteral("card/")));
        QVERIFY(w.testCardWritable());
        QVERIFY(!QFile::exists(ws.filePath(QStringLiteral("card/test.write"))));
    }

    void readOnlyCardIsRefused()
    {
        TestWorkspace ws;
        makeCard(ws, QStringLiteral("card"));
        const QString card = ws.filePath(QStringLiteral("card"));
        bool mounted = false;
        if (TestSystem::isSuperUser()) {
            // Root writes through permission bits: make the card a read-only mount.
            QDir().mkpath(card + QStringLiteral("/../ro"));
            const QString ro = QDir::cleanPath(card + QStringLiteral("/../ro"));
            if (QProcess::execute(QStringLiteral("mount"), {QStringLiteral("--bind"), card, ro}) != 0)
                QSKIP("cannot make a read-only mount here");
            if (QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,bind,ro"), ro})
                != 0) {
                QProcess::execute(QStringLiteral("umount"), {ro});
                QSKIP("cannot make a read-only mount here");
            }
            mounted = true;
            qputenv("UPDATE_HUB_DRIVES", ro.toLocal8Bit());
        } else {
            QFile::setPermissions(card, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
            qputenv("UPDATE_HUB_DRIVES", card.toLocal8Bit());
            // Windows keeps a folder's read-only mark for the shell only; under Wine
            // the superuser behind the program writes through permission bits.
            QFile probe(card + QStringLiteral("/probe"));
            if (probe.open(QIODevice::WriteOnly)) {
                probe.remove();
                QFile::setPermissions(card, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
                QSKIP("a folder without write permission is still writable here");
            }
        }
        // Undo the mount or the permissions however the checks below end.
        const QString roPath = QDir::cleanPath(card + QStringLiteral("/../ro"));
        auto restore = qScopeGuard([mounted, roPath, card] {
            if (mounted)
                QProcess::execute(QStringLiteral("umount"), {roPath});
            else
                QFile::setPermissions(card, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        });
        ws.writeFile(QStringLiteral("customize_update.ini"), customization("0", "1"));
        {
            MainWindow w;
            QVERIFY(!w.card().isEmpty());
            ModalAnswerer answerer;
            QVERIFY(!w.testCardWritable());
            QCOMPARE(answerer.messages(), QStringList{QStringLiteral("SD Card protetta da scrittura.")});
        }
    }

    void closeStartsTheDiagnosisProgram()
    {
        TestWorkspace ws;
        ws.writeFile(QStringLiteral("customize_update.ini"), customization("1", "0"));
        QVERIFY(QFile::copy(QStringLiteral(UPDATE_HUB_RECORDARGS_BIN), ws.filePath(QStringLiteral("main.exe"))));
        const QString record = ws.filePath(QStringLiteral("started.txt"));
        qputenv("UH_RECORDARGS_FILE", record.toLocal8Bit());
        {
            MainWindow w;
            w.show();
            QTest::mouseClick(child<QToolButton>(w, "tbClose"), Qt::LeftButton);
            QVERIFY(!w.isVisible());
        }
        QTRY_VERIFY(QFile::exists(record));
        QVERIFY(ws.readFile(QStringLiteral("started.txt")).contains("main.exe"));
        qunsetenv("UH_RECORDARGS_FILE");
    }

    void closeWithoutProgramOnlyCloses()
    {
        TestWorkspace ws;
        ws.writeFile(QStringLiteral("customize_update.ini"), customization("1", "0"));
        MainWindow w;
        w.show();
        QTest::mouseClick(child<QToolButton>(w, "tbClose"), Qt::LeftButton);
        QVERIFY(!w.isVisible());
    }

    void embeddedVersion_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("version");
        QTest::newRow("plain") << QByteArray("\x01\x02garbageEXEC_VERSION=3.65rest", 29) << "3.65";
        QTest::newRow("one letter early") << QByteArray("XEXEC_VERSION=3.65") << "";
        QTest::newRow("after other text") << QByteArray("abc EXEC_VERSION=2.10 EXEC_VERSION=9.99") << "2.10";
        QTest::newRow("at the very end") << QByteArray("zzEXEC_VERSION=") << "";
        QTest::newRow("short tail") << QByteArray("zzEXEC_VERSION=4.") << "4.";
        QTest::newRow("none") << QByteArray("nothing here") << "";
    }

    void embeddedVersion()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, version);
        TestWorkspace ws;
        ws.writeFile(QStringLiteral("prog.bin"), content);
        QCOMPARE(MainWindow::embeddedVersion(ws.filePath(QStringLiteral("prog.bin"))), version);
        QCOMPARE(MainWindow::embeddedVersion(ws.filePath(QStringLiteral("missing.bin"))), QString());
    }

    void builtUpdaterCarriesItsVersion()
    {
        // The marker a newer updater is recognised by must survive compiler and linker.
        QVERIFY(QFile::exists(QStringLiteral(UPDATE_HUB_EXECUTABLE)));
        QCOMPARE(MainWindow::embeddedVersion(QStringLiteral(UPDATE_HUB_EXECUTABLE)), MainWindow::updaterVersion());
        QCOMPARE(MainWindow::updaterVersion(), QStringLiteral("3.65"));
    }

    void markerAcrossReadChunks()
    {
        TestWorkspace ws;
        QByteArray content((1 << 16) - 6, 'a');
        content += "EXEC_VERSION=1.23";
        ws.writeFile(QStringLiteral("big.bin"), content);
        QCOMPARE(MainWindow::embeddedVersion(ws.filePath(QStringLiteral("big.bin"))), QStringLiteral("1.23"));
    }
};

QTEST_MAIN(TestMainWindowStart)
#include "tst_mainwindow_start.moc"
