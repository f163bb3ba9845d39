// The start of an online run through the real window against a loopback
// service: redirection and language lists, updater check, card test, the
// customer table and its update, the language page; and their failures.
#include "app/mainwindow.h"
#include "language/ttranslator.h"
#include "support/loopbackservice.h"
#include "support/modalanswerer.h"
#include "support/workspace.h"
#include "ui/tprogressbox.h"

#include <QComboBox>
#include <QDir>
#include <QSettings>
#include <QFrame>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>

#include <algorithm>

namespace {

const char redirection[] = "/files/varnohub/get_custom_redirection.asp?customization=praxo";
const char updaterVersionFile[] = "/files/varnohub/praxo/update_software_varno_update/pc/ver_update.txt";
const char languageList[] = "/files/varnohub/upd/update_software_varno_update/language_list.ini";
const char connectionMessage[]
    = "Attenzione, impossibile scaricare gli ultimi aggiornamenti. Controllare la connessione ad Internet.";

QString exitCode;
void recordExit(int code)
{
    exitCode = QString::number(code);
}

struct Installation
{
    TestWorkspace ws;
    LoopbackService service;

    Installation()
    {
        ws.writeFile(QStringLiteral("customize_update.ini"), "[personalizzazioni]\nupdate_pc=1\nupdate_palm=1\n");
        ws.writeFile(QStringLiteral("password.ini"), "[impostazioni]\npassword=AB-12\nserialnumber=SN1\n");
        ws.writeFile(QStringLiteral("language.ini"),
                     "[lingua1]\nlingua1_idlingua=ita\n[lingua2]\nlingua2_idlingua=eng\nlingua2_reserve=1\n"
                     "[selected]\nselected_currentlanguage=1\n");
        ws.writeFile(QStringLiteral("card/varno/main"), "EXEC_VERSION=1.00");
        ws.makeDir(QStringLiteral("card/qte"));
        qputenv("UPDATE_HUB_DRIVES", ws.filePath(QStringLiteral("card")).toLocal8Bit());
        service.writeHttpServerIni(ws.path(), "stall_timeout=2\n");
        service.answer(QLatin1String(redirection), "soft;upd;data;f3;f4;f5;db1|db2;ref");
        service.answer(QLatin1String(updaterVersionFile), "3.65");
        service.answer(QLatin1String(languageList), "[list]\ncount=2\nlanguage_id_0=ita\nlanguage_description_0=Italiano\n"
                                                    "language_id_1=eng\nlanguage_description_1=English\n");
        service.answer(QStringLiteral("/files/varnohub/newblocksite.asp?password=AB12"), "OK");
        service.answer(QStringLiteral("/files/varnohub/login.asp?password=AB12"),
                       "customer\r\nSN=12=34\r\nCELLULARE=333 1234\r\nE-MAIL=a@b.it\r\nFAX=none\r\n"
                       "RIVENDITORE=dealer\r\nRAGIONE SOCIALE=Rossi & Figli");
    }
};

template<typename T>
T *child(MainWindow &w, const char *name)
{
    return w.findChild<T *>(QLatin1String(name));
}

void click(MainWindow &w, const char *name)
{
    QTest::mouseClick(child<QToolButton>(w, name), Qt::LeftButton);
}

// True when the window's file inventory holds a path ending in tail.
bool recorded(const MainWindow &w, const char *tail)
{
    const QList<QByteArray> files = w.inventory();
    return std::any_of(files.cbegin(), files.cend(), [tail](const QByteArray &file) { return file.endsWith(tail); });
}

} // namespace

class TestMainWindowOnline : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        qunsetenv("UPDATE_HUB_DRIVES");
        TTranslator::instance()->loadTranslation(QString());
    }

    void fromDownloadButtonToLanguagePage()
    {
        Installation inst;
        MainWindow w;
        w.show();
        click(w, "tbDownload");
        QCOMPARE(child<QStackedWidget>(w, "stackedWidget")->currentIndex(), 1);
        QCOMPARE(child<QStackedWidget>(w, "stackedWidgetAgg")->currentIndex(), 0);
        QCOMPARE(w.softwareFolderName(), QStringLiteral("soft"));
        QCOMPARE(w.databaseFolderNames(), QStringList({QStringLiteral("db1"), QStringLiteral("db2")}));
        QVERIFY(inst.ws.readFile(QStringLiteral("language_list.ini")).startsWith("[list]"));
        // The other two lists were not delivered: no file, no half file.
        QVERIFY(!QFile::exists(inst.ws.filePath(QStringLiteral("language_listmoto_files.ini"))));
        QVERIFY(!QFile::exists(inst.ws.filePath(QStringLiteral("card/test.write"))));

        click(w, "tbOkPw");
        QVERIFY(child<QFrame>(w, "frameVisualizzaInfo")->isVisible());
        QVERIFY(!child<QToolButton>(w, "tbOkPw")->isEnabled());
        auto *table = child<QTableWidget>(w, "tableWidgetInfo");
        QCOMPARE(table->rowCount(), 5);
        QCOMPARE(table->item(0, 0)->text(), QStringLiteral("Serial Number"));
        QCOMPARE(table->item(0, 1)->text(), QStringLiteral("12=34"));
        QCOMPARE(table->item(4, 0)->text(), QStringLiteral("Ragione Sociale"));
        QCOMPARE(table->item(4, 1)->text(), QStringLiteral("Rossi & Figli"));
        QVERIFY(!(table->item(1, 0)->flags() & Qt::ItemIsEditable));
        QVERIFY(table->item(1, 1)->flags() & Qt::ItemIsEditable);

        const QString update = QStringLiteral("/files/varnohub/update_user_data.asp?password=AB12&data2update=");
        inst.service.answer(update + QStringLiteral("ragione_sociale&value=Rossi%20%26%20Figli"), "UPDATED");
        inst.service.answer(update + QStringLiteral("cellulare&value=333%201234"), "UPDATED");
        inst.service.answer(update + QStringLiteral("email&value=a%40b.it"), "UPDATED");
        inst.service.answer(update + QStringLiteral("rivenditore&value=dealer"), "UPDATED");
        click(w, "tbOkInfo");
        QCOMPARE(child<QStackedWidget>(w, "stackedWidgetAgg")->currentIndex(), 1);
        auto *selected = child<QComboBox>(w, "cbSelLingua1");
        auto *reserve = child<QComboBox>(w, "cbDefaultLingua1");
        QCOMPARE(selected->count(), 2);
        QCOMPARE(selected->currentData().toString(), QStringLiteral("ita"));
        QCOMPARE(reserve->currentData().toString(), QStringLiteral("eng"));
        QVERIFY(!child<QFrame>(w, "frameDiag2")->isVisible());

        QCOMPARE(inst.service.requests,
                 QStringList({QStringLiteral("GET ") + QLatin1String(redirection),
                              QStringLiteral("GET ") + QLatin1String(languageList),
                              QStringLiteral("GET /files/varnohub/upd/update_software_varno_update/language_listmoto_files.ini"),
                              QStringLiteral("GET /files/varnohub/upd/update_software_varno_update/language_listtruck_files.ini"),
                              QStringLiteral("GET ") + QLatin1String(updaterVersionFile),
                              QStringLiteral("GET /files/varnohub/newblocksite.asp?password=AB12"),
                              QStringLiteral("GET /files/varnohub/login.asp?password=AB12"),
                              QStringLiteral("GET ") + update + QStringLiteral("ragione_sociale&value=Rossi%20%26%20Figli"),
                              QStringLiteral("GET ") + update + QStringLiteral("cellulare&value=333%201234"),
                              QStringLiteral("GET ") + update + QStringLiteral("email&value=a%40b.it"),
                              QStringLiteral("GET ") + update + QStringLiteral("rivenditore&value=dealer")}));
    }

    void failures_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("atDownload");
        QTest::addColumn<QString>("message");
        QTest::newRow("redirection 500") << redirection << QByteArray("x") << 500 << true << connectionMessage;
        QTest::newRow("redirection field empty") << redirection << QByteArray("soft;upd;;f3;f4;f5;;") << 200 << true
                                                 << connectionMessage;
        QTest::newRow("redirection too short") << redirection << QByteArray("soft;upd") << 200 << true
                                               << connectionMessage;
        QTest::newRow("updater version missing") << updaterVersionFile << QByteArray() << 404 << true
                                                 << connectionMessage;
        QTest::newRow("maintenance") << "/files/varnohub/newblocksite.asp?password=AB12"
                                     << QByteArray("FILE NOT EXISTS") << 200 << false
                                     << "Il server è in manutenzione per nuovi aggiornamenti.\n\nRiprovare tra qualche ora.";
        QTest::newRow("unknown account") << "/files/varnohub/login.asp?password=AB12" << QByteArray("NO USER FOUND")
                                         << 200 << false << "Password non valida";
        QTest::newRow("login 500") << "/files/varnohub/login.asp?password=AB12" << QByteArray("x") << 500 << false
                                   << connectionMessage;
    }

    void failures()
    {
        QFETCH(QString, target);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(bool, atDownload);
        QFETCH(QString, message);
        Installation inst;
        inst.service.answer(target, body, status);
        MainWindow w;
        w.show();
        ModalAnswerer answerer;
        click(w, "tbDownload");
        if (!atDownload) {
            QCOMPARE(answerer.answered(), 0);
            click(w, "tbOkPw");
            QVERIFY(!child<QFrame>(w, "frameVisualizzaInfo")->isVisible());
            QVERIFY(child<QToolButton>(w, "tbOkPw")->isEnabled());
            QVERIFY(child<QLineEdit>(w, "lineEditPassword")->isEnabled());
        } else {
            QCOMPARE(child<QStackedWidget>(w, "stackedWidget")->currentIndex(), 0);
        }
        QCOMPARE(answerer.messages(), QStringList{message});
    }

    void failedUserDataUpdateStaysOnTheTable()
    {
        Installation inst;
        MainWindow w;
        w.show();
        click(w, "tbDownload");
        click(w, "tbOkPw");
        ModalAnswerer answerer;
        click(w, "tbOkInfo");
        QCOMPARE(answerer.messages(), QStringList{QString::fromUtf8(connectionMessage)});
        QCOMPARE(child<QStackedWidget>(w, "stackedWidgetAgg")->currentIndex(), 0);
        // The first refused value stops the sending.
        QCOMPARE(inst.service.requests.filter(QStringLiteral("update_user_data")).size(), 1);
    }

    void newerUpdaterIsDownloadedAndStarted()
    {
        Installation inst;
        QFile program(QStringLiteral(UPDATE_HUB_RECORDARGS_BIN));
        QVERIFY(program.open(QIODevice::ReadOnly));
        inst.service.answer(QLatin1String(updaterVersionFile), "3.70");
        // The new updater says it is newer by its marker.
        inst.service.answer(QStringLiteral("/files/varnohub/upd/update_software_varno_update/pc/update_hub.exe"),
                            program.readAll() + "\nEXEC_VERSION=3.70\n");
        const QString record = inst.ws.filePath(QStringLiteral("started.txt"));
        qputenv("UH_RECORDARGS_FILE", record.toLocal8Bit());
        exitCode.clear();
        MainWindow::setProcessExitHandler(recordExit);
        MainWindow w;
        w.show();
        ModalAnswerer answerer;
        click(w, "tbDownload");
        QCOMPARE(answerer.messages(),
                 QStringList{QStringLiteral("E' presente un aggiornamento del software. Premere ok per continuare.")});
        QCOMPARE(exitCode, QStringLiteral("0"));
        QTRY_VERIFY(QFile::exists(record));
        QTRY_VERIFY(inst.ws.readFile(QStringLiteral("started.txt")).contains("DIR=" + QDir::toNativeSeparators(QDir::currentPath()).toLocal8Bit()));
        QCOMPARE(child<QStackedWidget>(w, "stackedWidget")->currentIndex(), 0);
        qunsetenv("UH_RECORDARGS_FILE");
    }

    // A downloaded updater that is no newer program, or a download the user
    // cancels, is removed; the updater goes on with its inventory running again.
    void downloadedUpdaterThatIsNotNewerIsRemoved_data()
    {
        QTest::addColumn<QByteArray>("program");
        QTest::addColumn<bool>("cancel");
        QTest::newRow("empty file") << QByteArray() << false;
        QTest::newRow("error page with status 200") << QByteArray("<html><body>Not here</body></html>") << false;
        QTest::newRow("marker cut at the end") << QByteArray("\x7f" "ELF....EXEC_VERSION=3.7") << false;
        QTest::newRow("same version again") << QByteArray("\x7f" "ELF....EXEC_VERSION=3.65....") << false;
        QTest::newRow("older version") << QByteArray("\x7f" "ELF....EXEC_VERSION=3.10....") << false;
        // Large enough that the press of tbCancel lands inside the transfer.
        QTest::newRow("download cancelled") << QByteArray(256 << 20, 'x') + "EXEC_VERSION=3.70" << true;
    }

    void downloadedUpdaterThatIsNotNewerIsRemoved()
    {
        QFETCH(QByteArray, program);
        QFETCH(bool, cancel);
        Installation inst;
        inst.service.answer(QLatin1String(updaterVersionFile), "3.70");
        inst.service.answer(QStringLiteral("/files/varnohub/upd/update_software_varno_update/pc/update_hub.exe"), program);
        exitCode.clear();
        MainWindow::setProcessExitHandler(recordExit);
        MainWindow w;
        w.show();
        QVERIFY(w.checkFileInventory());
        // Recorded only by an inventory that runs after this point.
        QVERIFY(inst.ws.writeFile(QStringLiteral("card/varno/later.txt"), "x"));
        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        QTimer press;
        press.setInterval(5);
        QObject::connect(&press, &QTimer::timeout, [&] {
            if (w.progressWindow()->isVisible())
                QTest::mouseClick(w.progressWindow()->findChild<QToolButton *>(QStringLiteral("tbCancel")),
                                  Qt::LeftButton);
        });
        if (cancel)
            press.start();
        click(w, "tbDownload");
        press.stop();
        // A cancel says nothing more than the announcement.
        QStringList said{QStringLiteral("E' presente un aggiornamento del software. Premere ok per continuare.")};
        if (!cancel)
            said << QString::fromUtf8(connectionMessage);
        QCOMPARE(answerer.messages(), said);
        QCOMPARE(exitCode, QString());
        QVERIFY(!QFile::exists(inst.ws.filePath(QStringLiteral("update_hub.exe"))));
        QCOMPARE(child<QStackedWidget>(w, "stackedWidget")->currentIndex(), 0);
        // The updater goes on: its inventory was stopped for the download and runs again.
        w.checkFileInventory();
        QVERIFY(recorded(w, "card/varno/later.txt"));
    }

    void cardMissingAtStartIsInventoriedWhenFound()
    {
        Installation inst;
        QVERIFY(QDir(inst.ws.filePath(QStringLiteral("card"))).removeRecursively());
        QVERIFY(inst.ws.makeDir(QStringLiteral("card")));
        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        MainWindow w;
        QCOMPARE(answerer.answered(), 1); // no card found
        QVERIFY(!w.inventoryStarted());
        w.show();
        QVERIFY(inst.ws.writeFile(QStringLiteral("card/varno/main"), "EXEC_VERSION=1.00"));
        QVERIFY(inst.ws.makeDir(QStringLiteral("card/qte")));
        click(w, "tbDownload");
        QCOMPARE(answerer.answered(), 1);
        QCOMPARE(child<QStackedWidget>(w, "stackedWidgetAgg")->currentIndex(), 0);
        QVERIFY(w.inventoryStarted());
        QVERIFY(w.checkFileInventory());
        QVERIFY(recorded(w, "card/varno/main"));
    }

    void nothingAllowedContactsNobody()
    {
        Installation inst;
        inst.ws.writeFile(QStringLiteral("customize_update.ini"), "[personalizzazioni]\nupdate_pc=0\nupdate_palm=0\n");
        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        MainWindow w;
        w.show();
        click(w, "tbDownload");
        QCOMPARE(answerer.messages(), QStringList(2, QString::fromUtf8(connectionMessage)));
        QCOMPARE(child<QStackedWidget>(w, "stackedWidget")->currentIndex(), 0);
        QCOMPARE(inst.service.requests, QStringList());
    }

    void customerDataGoBackByName_data()
    {
        QTest::addColumn<QByteArray>("login");
        QTest::addColumn<QStringList>("sent"); // "field&value=..." in sending order
        QTest::newRow("other order, no serial number")
            << QByteArray("x\r\nRAGIONE SOCIALE=Rossi\r\nE-MAIL=a@b.it\r\nCELLULARE=333\r\nRIVENDITORE=d1")
            << QStringList({"ragione_sociale&value=Rossi", "cellulare&value=333", "email&value=a%40b.it",
                            "rivenditore&value=d1"});
        QTest::newRow("fields missing are not sent")
            << QByteArray("x\r\nSN=9\r\nE-MAIL=a@b.it") << QStringList({"email&value=a%40b.it"});
        // Latin-1 both ways: what the login gave goes back as the same bytes.
        QTest::newRow("accents and reserved characters")
            << QByteArray("x\r\nRAGIONE SOCIALE=Societ\xe0 #1 & 50%+=")
            << QStringList({"ragione_sociale&value=Societ%E0%20%231%20%26%2050%25%2B%3D"});
    }

    void customerDataGoBackByName()
    {
        QFETCH(QByteArray, login);
        QFETCH(QStringList, sent);
        Installation inst;
        inst.service.answer(QStringLiteral("/files/varnohub/login.asp?password=AB12"), login);
        const QString update = QStringLiteral("GET /files/varnohub/update_user_data.asp?password=AB12&data2update=");
        for (const QString &request : sent)
            inst.service.answer(update.mid(4) + request, "UPDATED");
        MainWindow w;
        w.show();
        click(w, "tbDownload");
        click(w, "tbOkPw");
        QVERIFY(child<QFrame>(w, "frameVisualizzaInfo")->isVisible());
        click(w, "tbOkInfo");
        QCOMPARE(child<QStackedWidget>(w, "stackedWidgetAgg")->currentIndex(), 1);
        QStringList expected;
        for (const QString &request : sent)
            expected << update + request;
        QCOMPARE(inst.service.requests.filter(QStringLiteral("update_user_data")), expected);
    }

    void installedVersionsRecordUsesTheRedirection()
    {
        Installation inst;
        MainWindow w;
        w.show();
        click(w, "tbDownload");
        w.recordInstalledVersions(QStringLiteral("soft"));
        QSettings record(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Orvane"), QStringLiteral("soft"));
        QCOMPARE(record.value(QStringLiteral("Language")).toString(), QStringLiteral("ita"));
        QCOMPARE(record.value(QStringLiteral("UpVersion")).toString(), QStringLiteral("3.65"));
        QCOMPARE(record.value(QStringLiteral("UrlDbAuto")).toString(),
                 QStringLiteral("http://127.0.0.1/files/varnohub/data/database/rel_db_auto.txt"));
        QCOMPARE(record.value(QStringLiteral("UrlDbAutoTd")).toString(),
                 QStringLiteral("http://127.0.0.1/files/varnohub/ref/rel_db_techdoc.txt"));
    }

    void supportButtons()
    {
        Installation inst;
        MainWindow w;
        w.show();
        ModalAnswerer answerer;
        click(w, "tbSegnalazioni");
        QCOMPARE(answerer.answered(), 1);
        QVERIFY(answerer.messages().value(0).contains(QStringLiteral("assistenza@orvane.com")));
    }
};

QTEST_MAIN(TestMainWindowOnline)
#include "tst_mainwindow_online.moc"
