// Whole online runs through the real window against the reference service
// (its demo catalogue) and a real FTP server: from the download button to the
// updates-done page for each scope, with the files on the PC and the card,
// the status log, the language files, the report and the registry record;
// the log archives sent at the start; a corrupt package; a full card; and a
// manual run from the dated copy of a work folder.
#include "app/mainwindow.h"
#include "update/installtransaction.h"
#include "archive/tzipfile.h"
#include "language/ttranslator.h"
#include "platform/platform.h"
#include "settings/tinifiles.h"
#include "settings/tregistrysettings.h"
#include "support/fatcard.h"
#include "support/ftpfixture.h"
#include "support/modalanswerer.h"
#include "support/servicefixture.h"
#include "support/testsystem.h"
#include "support/workspace.h"
#include "ui/tprogressbox.h"

#include <QDate>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QRegularExpression>
#include <QDirIterator>
#include <QStackedWidget>
#include <QTextEdit>
#include <QToolButton>
#include <QtTest>


#include <algorithm>
#include <memory>

namespace {

const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
// The name of a dated backup of the work folder, "yyyy-MM-dd_hh-mm-ss.zip".
const QString backupPattern = QStringLiteral("[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]_[0-9][0-9]-[0-9][0-9]-[0-9][0-9].zip");

/// An installation (program folder, card, home) beside the reference service
/// with its demo catalogue and an FTP server for the version report.
struct Site
{
    TestWorkspace ws;
    // One service for every run of the program, with the demo catalogue
    // made afresh for each.
    ServiceFixture *service = &ServiceFixture::shared();
    QDir catalogue { service->root() };
    FtpFixture ftp { QStringLiteral("drumelfask"), QStringLiteral("vilta") };
    std::unique_ptr<FatCard> fat; // the card as a FAT32 image, when asked for

    bool start(int updatePc, int updatePalm, bool onFat = false)
    {
        if (onFat) {
            fat = std::make_unique<FatCard>();
            if (!fat->mount(ws.filePath(QStringLiteral("card"))))
                return false;
        }
        if (!service->startShared() || !ServiceFixture::makeDemoCatalogue(catalogue.path()))
            return false;
        if (!ftp.start() || !ftp.makeDir(QStringLiteral("varnohub/log/versione")))
            return false;
        ws.writeFile(QStringLiteral("customize_update.ini"),
                     "[personalizzazioni]\nupdate_pc=" + QByteArray::number(updatePc)
                         + "\nupdate_palm=" + QByteArray::number(updatePalm) + "\n");
        ws.writeFile(QStringLiteral("password.ini"), "[impostazioni]\npassword=DEMO-0001\nserialnumber=SN9\n");
        ws.writeFile(QStringLiteral("language.ini"),
                     "[lingua1]\nlingua1_description=Italiano\nlingua1_idlingua=ita\n"
                     "[lingua2]\nlingua2_description=English\nlingua2_idlingua=eng\nlingua2_reserve=1\n"
                     "[selected]\nselected_currentlanguage=1\n");
        ws.writeFile(QStringLiteral("card/varno/main"), "EXEC_VERSION=1.00");
        ws.makeDir(QStringLiteral("card/qte"));
        qputenv("UPDATE_HUB_DRIVES", ws.filePath(QStringLiteral("card")).toLocal8Bit());
        return ServiceFixture::writeHttpServerIni(ws.path(), service->port(), QStringLiteral("praxo"),
                                                  "ftp_port=" + QByteArray::number(ftp.port())
                                                      + "\nstall_timeout=5\n");
    }

    bool exists(const QString &relative) const { return QFile::exists(ws.filePath(relative)); }
    QByteArray file(const QString &relative) const { return ws.readFile(relative); }
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

int stepPage(MainWindow &w)
{
    return child<QStackedWidget>(w, "stackedWidgetAgg")->currentIndex();
}

/// From the download button to the language page (step 2).
bool toLanguagePage(MainWindow &w)
{
    click(w, "tbDownload");
    click(w, "tbOkPw");
    click(w, "tbOkInfo");
    return stepPage(w) == 1;
}

/// From the download button to the available-updates page (step 3).
bool planRun(MainWindow &w)
{
    if (!toLanguagePage(w))
        return false;
    click(w, "tbOkSelezionaLingua");
    return stepPage(w) == 2;
}

QStringList statusLines(const Site &site)
{
    // A text file: its lines end with "\r\n" on Windows.
    QByteArray text = site.file(QStringLiteral("stati.log"));
    text.replace("\r\n", "\n");
    return QString::fromUtf8(text).split(QLatin1Char('\n'));
}

/// A zip holding one file of the given size (zeros, so it stays small).
bool writeLargePackage(const QString &archive, const QString &entry, qint64 size)
{
    QTemporaryDir source;
    QFile file(source.filePath(entry));
    QDir().mkpath(QFileInfo(file).absolutePath());
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
        return false;
    file.close();
    QFile::remove(archive);
    return TZipFile::ZipDirectory(source.path(), source.path() + QLatin1Char('/'), archive, QString());
}

/// The first version of "work/syslang.ini" (diagnosis data, technical
/// information, releases, databases) that the covered sides do not hold, as
/// "file key"; empty when they hold them all.
QString versionsNotRecorded(const Site &site, bool pc, bool card)
{
    TIniFiles work(site.ws.filePath(QStringLiteral("work/syslang.ini")), false);
    const QStringList planned
        = work.allKeys().filter(QRegularExpression(QStringLiteral("^(ad|mit|release|database)")));
    if (planned.size() < 6)
        return QStringLiteral("work/syslang.ini sets too few versions");
    for (const QString &file : { QStringLiteral("syslang.ini"), QStringLiteral("card/varno/syslang.ini") }) {
        if (!(file.startsWith(QLatin1String("card")) ? card : pc))
            continue;
        TIniFiles syslang(site.ws.filePath(file), false);
        for (const QString &key : planned) {
            if (syslang.value(key) != work.value(key))
                return file + QLatin1Char(' ') + key;
        }
    }
    return QString();
}

} // namespace

class TestMainWindowInstall : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        qunsetenv("UPDATE_HUB_DRIVES");
        TTranslator::instance()->loadTranslation(QString());
    }

    void onlineRun_data()
    {
        QTest::addColumn<int>("updatePc");
        QTest::addColumn<int>("updatePalm");
        QTest::newRow("PC only") << 1 << 0;
        QTest::newRow("card only") << 0 << 1;
        QTest::newRow("PC and card") << 1 << 1;
    }

    void onlineRun()
    {
        QFETCH(int, updatePc);
        QFETCH(int, updatePalm);
        if (!FtpFixture::available())
            QSKIP("the FTP server module is not installed");
        Site site;
        QVERIFY(site.start(updatePc, updatePalm));
        // Log files of the last runs go to the service when the run starts.
        site.ws.writeFile(QStringLiteral("plugins/log/b.log"), "second log\n");
        site.ws.writeFile(QStringLiteral("plugins/log/A.log"), "first log\n");
        site.ws.writeFile(QStringLiteral("plugins/log/ovp/ovp.log"), "ovp log\n");
        // An older, longer status log keeps its tail.
        site.ws.writeFile(QStringLiteral("stati.log"), QByteArray(600, 'x'));

        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        MainWindow w;
        w.show();
        QVERIFY(toLanguagePage(w));
        // The requests up to the language page, in order (archive names carry the time).
        QStringList requests = site.service->requestLines();
        requests.replaceInStrings(QRegularExpression(QStringLiteral("SN9_[-_0-9]+\\.zip")), QStringLiteral("SN9_T.zip"));
        const QString files = QStringLiteral("GET /files/varnohub/");
        const QString updater = files + QStringLiteral("praxo/update_software_varno_update/");
        const QString userData = files + QStringLiteral("update_user_data.asp?password=DEMO0001&data2update=");
        QCOMPARE(requests,
                 QStringList({ files + QStringLiteral("get_custom_redirection.asp?customization=praxo 200"),
                               updater + QStringLiteral("language_list.ini 200"),
                               updater + QStringLiteral("language_listmoto_files.ini 200"),
                               updater + QStringLiteral("language_listtruck_files.ini 200"),
                               updater + QStringLiteral("pc/ver_update.txt 200"),
                               QStringLiteral("POST /files/varnohub/upload_file.asp?file_name=log/data/SN9_T.zip 200"),
                               QStringLiteral("POST /files/varnohub/upload_file.asp?file_name=log/data/ovp/SN9_T.zip 200"),
                               files + QStringLiteral("newblocksite.asp?password=DEMO0001 200"),
                               files + QStringLiteral("login.asp?password=DEMO0001 200"),
                               userData + QStringLiteral("ragione_sociale&value=Officina%20Demo 200"),
                               userData + QStringLiteral("cellulare&value=%2B39%20333%200000001 200"),
                               userData + QStringLiteral("email&value=officina%40example.com 200"),
                               userData + QStringLiteral("rivenditore&value=demo_dealer 200") }));
        click(w, "tbOkSelezionaLingua");
        QCOMPARE(stepPage(w), 2);
        const QStringList downloads = w.downloads();
        QVERIFY(!downloads.isEmpty());
        QVERIFY(downloads.last().endsWith(QLatin1String(":balloon")));
        // The page shows the two products of the catalogue, the third slot hidden.
        QCOMPARE(child<QLabel>(w, "lblRelDiagInfo1")->text(), QStringLiteral("Automobili"));
        QCOMPARE(child<QLabel>(w, "lblRelDiagInfo2")->text(), QStringLiteral("Motocicli"));
        QVERIFY(!child<QWidget>(w, "frmRelDiagInfo3")->isVisible());
        QCOMPARE(child<QTextEdit>(w, "textRelDiag1")->toPlainText().count(QLatin1String("1.10")), updatePc + updatePalm == 2 ? 4 : 2);

        click(w, "tbOkAggiornamentiDisponibili");
        QCOMPARE(stepPage(w), 3);
        QVERIFY2(answerer.titles().isEmpty(), qPrintable(answerer.messages().join(QLatin1Char('|'))));

        // Log archives: one per folder, entries named by the file, local archive gone.
        const QDir uploads(site.catalogue.filePath(QStringLiteral("uploads/log/data")));
        const QStringList logArchives = uploads.entryList({ QStringLiteral("SN9_*.zip") }, QDir::Files);
        QCOMPARE(logArchives.size(), 1);
        QVERIFY(QDir(uploads.filePath(QStringLiteral("ovp"))).entryList({ QStringLiteral("SN9_*.zip") }, QDir::Files)
                    == logArchives);
        QVERIFY(!site.exists(logArchives.first()));
        QVERIFY(TZipFile::UnzipArchive(uploads.filePath(logArchives.first()), site.ws.filePath(QStringLiteral("logcheck/")),
                                       true, QString()));
        QCOMPARE(site.file(QStringLiteral("logcheck/A.log")), QByteArray("first log\n"));
        QCOMPARE(site.file(QStringLiteral("logcheck/b.log")), QByteArray("second log\n"));
        QVERIFY(!site.exists(QStringLiteral("logcheck/ovp.log")));
        QVERIFY(site.exists(QStringLiteral("plugins/log/A.log")));

        // Files where the scope sends them.
        const bool pc = updatePc == 1;
        const bool card = updatePalm == 1;
        QCOMPARE(site.file(QStringLiteral("main.exe")).contains("EXEC_VERSION=3.70"), pc);
        QCOMPARE(site.exists(QStringLiteral("bbad/bbad_auto.dat")), pc);
        QCOMPARE(site.exists(QStringLiteral("diag/auto/ita/ad.dat")), pc);
        QCOMPARE(site.exists(QStringLiteral("db/auto.db.txt")), pc);
        QCOMPARE(site.file(QStringLiteral("card/varno/main")).contains("EXEC_VERSION=2.10"), card);
        QCOMPARE(site.exists(QStringLiteral("card/varno/bbad/bbad_auto.dat")), card);
        QCOMPARE(site.exists(QStringLiteral("card/varno/diag/auto/ita/ad.dat")), card);
        QVERIFY(!site.exists(QStringLiteral("card/varno/db/auto.db.txt")) || card);
        // The notifier goes to the maker's folder whatever the scope.
        QVERIFY(QFile::exists(Platform::orvaneFolder() + QStringLiteral("ov_update_notify/OVUpdateNotify.exe")));
        // With both sides the PC's language file is copied onto the card.
        if (pc && card)
            QCOMPARE(site.file(QStringLiteral("card/varno/language.ini")), site.file(QStringLiteral("language.ini")));

        // The manifest lists every download, and the work folder has a dated copy.
        TIniFiles manifest(site.ws.filePath(QStringLiteral("work/update.ini")), true);
        QCOMPARE(manifest.readInt(QStringLiteral("pc_update"), QStringLiteral("num_files"), 10, -1),
                 int(downloads.size()));
        QVERIFY(manifest.readString(QStringLiteral("pc_update"), QStringLiteral("file_0")).size() > 0);
        QCOMPARE(QDir(site.ws.path()).entryList({ backupPattern }, QDir::Files).size(), 1);

        // Status log: the run's lines from the first byte, the old tail after them.
        const QStringList lines = statusLines(site);
        const QStringList expected { today + QStringLiteral(" : update sys file"), today + QStringLiteral(" : load mails"),
                                     today + QStringLiteral(" : write database"), today + QStringLiteral(" : registry edit"),
                                     today + QStringLiteral(" : balloon launch"), today + QStringLiteral(" : close wait message"),
                                     today + QStringLiteral(" : switch step four") };
        QCOMPARE(lines.mid(0, expected.size()), expected);
        QVERIFY(lines.value(expected.size()).startsWith(QLatin1String("xxx")));

        // Installed releases recorded in the side's language file, with the day;
        // every package the answers named arrived, so every version the plan
        // set is recorded, on each side the run covers.
        QCOMPARE(versionsNotRecorded(site, pc, card), QString());
        if (pc) {
            TIniFiles syslang(site.ws.filePath(QStringLiteral("syslang.ini")), false);
            QCOMPARE(syslang.readString(QStringLiteral("datapack"), QString()), today);
        }
        if (card) {
            TIniFiles syslang(site.ws.filePath(QStringLiteral("card/varno/syslang.ini")), false);
            QCOMPARE(syslang.readString(QStringLiteral("datapack"), QString()), today);
        }

        // The version report reached the FTP server; the record for the notifier was written.
        QCOMPARE(site.ftp.fileNames(QStringLiteral("varnohub/log/versione")).size(), 1);
        TRegistrySettings *registry = TRegistrySettings::instance(QStringLiteral("praxo"));
        QVERIFY(registry);
        QCOMPARE(registry->value(QStringLiteral("UpVersion")), QStringLiteral("3.65"));
        QCOMPARE(registry->value(QStringLiteral("Language")), QStringLiteral("ita"));
        TRegistrySettings::release();

        // The updates-done page confirms and returns to the start.
        click(w, "tbOkAggiornamentiEffettuati");
        QCOMPARE(child<QStackedWidget>(w, "stackedWidget")->currentIndex(), 0);
    }

    void cardInFlightFoundByTheDownloadButton_data()
    {
        QTest::addColumn<bool>("mendable");
        QTest::newRow("completed, then the run starts") << true;
        QTest::newRow("cannot be mended, no run") << false;
    }

    void cardInFlightFoundByTheDownloadButton()
    {
        // An updater was killed in the commit while the instrument's program
        // was set aside: the card has no "varno/main" until it is mended.
        QFETCH(bool, mendable);
        if (!FtpFixture::available())
            QSKIP("the FTP server module is not installed");
        Site site;
        QVERIFY(site.start(1, 1));
        QTemporaryDir source;
        QVERIFY(source.isValid());
        const QString archive = source.filePath(QStringLiteral("release.zip"));
        QVERIFY(writeLargePackage(archive, QStringLiteral("main"), 64));
        const QString card = site.ws.filePath(QStringLiteral("card/"));
        {
            InstallTransaction transaction;
            transaction.setDecisionRecord(site.ws.filePath(QStringLiteral("work/.update_hub/decisions")));
            const int pc = transaction.addSide(site.ws.path(), site.ws.filePath(QStringLiteral("work/.update_hub/")));
            const int side = transaction.addSide(card, card + QStringLiteral(".update_hub/"));
            QVERIFY(transaction.stageArchive(pc, archive, QStringLiteral("pcsoft/"), QStringLiteral("release.zip")));
            QVERIFY(transaction.stageArchive(side, archive, QStringLiteral("varno/"), QStringLiteral("release.zip")));
            QVERIFY(transaction.verify() && transaction.writeJournal() && transaction.beginCommit()
                    && transaction.moveAll());
        }
        // The new program goes back to the staging: the old one is set aside.
        QVERIFY(QFile::rename(card + QStringLiteral("varno/main"), card + QStringLiteral(".update_hub/stage/1/varno/main")));
        if (!mendable)
            QVERIFY(QFile::remove(card + QStringLiteral(".update_hub/stage/1/varno/main")));
        // The card reader is empty at start-up.
        qputenv("UPDATE_HUB_DRIVES", site.ws.filePath(QStringLiteral("reader")).toLocal8Bit());
        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        MainWindow w;
        w.show();
        const QString recovered
            = QStringLiteral("L'ultimo aggiornamento si è interrotto. La memory card è stata riportata a uno stato coerente.");
        const QString missing = QStringLiteral("Nessun lettore SD Card trovato. Verificare che il dispositivo sia "
                                               "correttamente collegato al PC e ripetere l'operazione.");
        QCOMPARE(answerer.messages(), QStringList({ recovered, missing }));
        QCOMPARE(site.file(QStringLiteral("pcsoft/main")), QByteArray(64, '\0'));
        qputenv("UPDATE_HUB_DRIVES", card.toLocal8Bit());
        click(w, "tbDownload");
        if (!mendable) {
            QCOMPARE(answerer.messages().mid(2),
                     QStringList({ QStringLiteral("La memory card non può essere riportata a uno stato coerente. "
                                                  "Non rimuovere la memory card e contattare l'assistenza.") }));
            QCOMPARE(child<QStackedWidget>(w, "stackedWidget")->currentIndex(), 0);
            QVERIFY(site.exists(QStringLiteral("card/.update_hub/journal")));
            return;
        }
        QCOMPARE(answerer.messages().mid(2), QStringList({ recovered }));
        QCOMPARE(site.file(QStringLiteral("card/varno/main")), QByteArray(64, '\0'));
        QVERIFY(!site.exists(QStringLiteral("card/.update_hub/journal")));
        QVERIFY(!site.exists(QStringLiteral("work/.update_hub/decisions")));
        QCOMPARE(child<QStackedWidget>(w, "stackedWidget")->currentIndex(), 1);
        QVERIFY(w.inventoryStarted());
    }

    void planFailureKeepsTheLanguagePage()
    {
        Site site;
        QVERIFY(site.start(1, 0));
        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        MainWindow w;
        w.show();
        QVERIFY(toLanguagePage(w));
        // The service breaks down between the pages.
        QFile catalogue(site.catalogue.filePath(QStringLiteral("service.ini")));
        QVERIFY(catalogue.open(QIODevice::Append));
        catalogue.write("\n[faults]\n/files/varnohub/get_product_names => status 500\n");
        catalogue.close();
        click(w, "tbOkSelezionaLingua");
        QCOMPARE(stepPage(w), 1);
        QCOMPARE(answerer.messages(),
                 QStringList({ QStringLiteral("Attenzione, impossibile scaricare gli ultimi aggiornamenti. "
                                              "Controllare la connessione ad Internet.") }));
        QVERIFY(w.downloads().isEmpty());
        QVERIFY(!site.exists(QStringLiteral("work/update.ini")));
    }

    void corruptPackageStopsTheRun()
    {
        if (!FtpFixture::available())
            QSKIP("the FTP server module is not installed");
        Site site;
        QVERIFY(site.start(1, 1));
        QFile database(site.catalogue.filePath(QStringLiteral("database_auto/0.zip")));
        QVERIFY(database.open(QIODevice::ReadWrite));
        const QByteArray sound = database.readAll();
        database.seek(40);
        database.write("damaged");
        database.close();
        site.ws.writeFile(QStringLiteral("stati.log"), "old status\n");

        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        {
            MainWindow w;
            w.show();
            QVERIFY(planRun(w));
            click(w, "tbOkAggiornamentiDisponibili");
            QCOMPARE(stepPage(w), 2);
            QVERIFY(!w.progressWindow()->isVisible());
        }
        QVERIFY(site.file(QStringLiteral("stati.log")).startsWith("Archivio database_auto_0.zip: Corrotto."));
        // The test comes before any extraction: nothing was installed, nothing reported.
        QVERIFY(!site.exists(QStringLiteral("main.exe")));
        QVERIFY(site.file(QStringLiteral("card/varno/main")).contains("EXEC_VERSION=1.00"));
        QVERIFY(site.ftp.fileNames(QStringLiteral("varnohub/log/versione")).isEmpty());
        QVERIFY(!site.exists(QStringLiteral("syslang.ini")));

        // The right bytes under the same validator (same size, same time):
        // the bad copy left the cache, so it is fetched whole, not taken on a 304.
        const QDateTime stamp = QFileInfo(database).lastModified();
        QVERIFY(database.open(QIODevice::WriteOnly));
        database.write(sound);
        QVERIFY(database.setFileTime(stamp, QFileDevice::FileModificationTime));
        database.close();
        site.service->clearLog();
        {
            MainWindow w;
            w.show();
            QVERIFY(planRun(w));
            click(w, "tbOkAggiornamentiDisponibili");
            QCOMPARE(stepPage(w), 3);
        }
        QVERIFY(site.service->requestLines().contains(
            QStringLiteral("GET /files/varnohub/database_auto/0.zip 200")));
        QVERIFY(site.exists(QStringLiteral("main.exe")));
    }

    void fullCardGetsOnlyTheInstrumentSoftware()
    {
        if (!FtpFixture::available())
            QSKIP("the FTP server module is not installed");
        if (!TestSystem::isSuperUser())
            QSKIP("a small card needs a tmpfs mount (root only)");
        Site site;
        QVERIFY(site.start(1, 1));
        // A diagnosis package for the card larger than the card's free room.
        QVERIFY(writeLargePackage(site.catalogue.filePath(QStringLiteral("praxo/ad/auto/ita/ad_auto_ita_1.10.zip")),
                                  QStringLiteral("diag/auto/ita/ad.dat"), 8 << 20));
        const QString cardPath = site.ws.filePath(QStringLiteral("card"));
        if (!TestSystem::mountTmpfs(cardPath, QStringLiteral("size=1m")))
            QSKIP("tmpfs cannot be mounted here");
        struct Unmount
        {
            QString path;
            ~Unmount() { TestSystem::unmount(path); }
        } unmount { cardPath };
        site.ws.writeFile(QStringLiteral("card/varno/main"), "EXEC_VERSION=1.00");
        site.ws.makeDir(QStringLiteral("card/qte"));

        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        MainWindow w;
        w.show();
        QVERIFY(planRun(w));
        click(w, "tbOkAggiornamentiDisponibili");
        QCOMPARE(answerer.messages().size(), 1);
        QVERIFY(answerer.messages().first().contains(
            QStringLiteral("Spazio su memory card insufficiente per contenere l'aggiornamento.")));
        QCOMPARE(stepPage(w), 0);
        // The instrument software went to the card, the packages for the PC to the PC.
        QVERIFY(site.file(QStringLiteral("card/varno/main")).contains("EXEC_VERSION=2.10"));
        QVERIFY(!site.exists(QStringLiteral("card/varno/diag/auto/ita/ad.dat")));
        QVERIFY(!site.exists(QStringLiteral("card/varno/bbad/bbad_auto.dat")));
        QCOMPARE(QFileInfo(site.ws.filePath(QStringLiteral("diag/auto/ita/ad.dat"))).size(), qint64(8 << 20));
        // No report and no registry record for a run that did not finish.
        QVERIFY(site.ftp.fileNames(QStringLiteral("varnohub/log/versione")).isEmpty());
        QVERIFY(!site.exists(QStringLiteral("card/varno/syslang.ini")));
        QCOMPARE(statusLines(site).mid(0, 2),
                 QStringList({ today + QStringLiteral(" : update sys file"), today + QStringLiteral(" : load mails") }));
    }

    // Cancel through the real window: the tool button or Escape while a
    // package waits for its retry, the button during the extraction of a large
    // package, and closing the window. The run stops with its message, nothing
    // on the card or the PC has changed, and Ok continues where it stopped.
    void cancelStopsTheRun_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("duringExtraction");
        QTest::newRow("tbCancel while a transfer waits for its retry") << QStringLiteral("button") << false;
        QTest::newRow("Escape while a transfer waits for its retry") << QStringLiteral("escape") << false;
        QTest::newRow("tbCancel during the extraction") << QStringLiteral("button") << true;
        QTest::newRow("closing the window during a download") << QStringLiteral("close") << false;
    }

    void cancelStopsTheRun()
    {
        QFETCH(QString, how);
        QFETCH(bool, duringExtraction);
        if (!FtpFixture::available())
            QSKIP("the FTP server module is not installed");
        Site site;
        QVERIFY(site.start(1, 1));
        const QString package = QStringLiteral("praxo/ad/auto/ita/ad_auto_ita_1.10.zip");
        if (duringExtraction) {
            // Long enough to extract that the press lands inside it.
            QVERIFY(writeLargePackage(site.catalogue.filePath(package), QStringLiteral("diag/auto/ita/ad.dat"),
                                      qint64(256) << 20));
        } else {
            QFile catalogue(site.catalogue.filePath(QStringLiteral("service.ini")));
            QVERIFY(catalogue.open(QIODevice::Append));
            // 100 bytes, then a try that brings none: only a try without
            // progress waits before the next, long enough for the press.
            catalogue.write("\n[faults]\n/files/varnohub/" + package.toLatin1() + " => close 100 first 1\n"
                            "/files/varnohub/" + package.toLatin1() + " => close 0 first 1\n");
        }
        const QByteArray oldPcSyslang = site.file(QStringLiteral("syslang.ini"));

        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        MainWindow w;
        w.show();
        QVERIFY(planRun(w));

        // Pressed once the run is where the row wants it; the window's own
        // buttons are tried first and must start nothing.
        int pageAfterClick = -1;
        bool pressed = false;
        QTimer press;
        press.setInterval(5);
        QObject::connect(&press, &QTimer::timeout, [&] {
            TProgressBox *box = w.progressWindow();
            if (pressed || !box->isVisible())
                return;
            const QString message = box->findChild<QLabel *>(QStringLiteral("lblMessage"))->text();
            const bool ready = duringExtraction
                ? message.contains(QLatin1String("estrazione"))
                    && box->findChild<QProgressBar *>(QStringLiteral("progressBar"))->value() > 0
                : message == QLatin1String("Connessione interrotta, nuovo tentativo in corso...");
            if (!ready)
                return;
            pressed = true;
            click(w, "tbDownload");
            pageAfterClick = child<QStackedWidget>(w, "stackedWidget")->currentIndex();
            if (how == QLatin1String("escape"))
                QTest::keyClick(box, Qt::Key_Escape);
            else if (how == QLatin1String("close"))
                w.close();
            else
                QTest::mouseClick(box->findChild<QToolButton *>(QStringLiteral("tbCancel")), Qt::LeftButton);
            // A second press changes nothing.
            QTest::mouseClick(box->findChild<QToolButton *>(QStringLiteral("tbCancel")), Qt::LeftButton);
        });
        press.start();
        click(w, "tbOkAggiornamentiDisponibili");
        press.stop();

        QVERIFY(pressed);
        QCOMPARE(pageAfterClick, 1);
        // A window on its way out asks nothing more.
        const QStringList said = how == QLatin1String("close")
            ? QStringList()
            : QStringList({ QStringLiteral("Aggiornamento annullato. "
                                           "Il prossimo aggiornamento riprenderà da dove si è interrotto.") });
        QCOMPARE(answerer.messages(), said);
        QVERIFY(!w.progressWindow()->isVisible());
        // Nothing installed on either side; only the download cache remains in flight.
        QVERIFY(site.file(QStringLiteral("card/varno/main")).contains("EXEC_VERSION=1.00"));
        QVERIFY(!site.exists(QStringLiteral("card/varno/diag/auto/ita/ad.dat")));
        QVERIFY(!site.exists(QStringLiteral("main.exe")));
        QCOMPARE(site.file(QStringLiteral("syslang.ini")), oldPcSyslang);
        QVERIFY(QDir(site.ws.filePath(QStringLiteral("card/.update_hub")))
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());
        QCOMPARE(QDir(site.ws.filePath(QStringLiteral("work/.update_hub")))
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList({ QStringLiteral("downloads") }));
        QVERIFY(site.ftp.fileNames(QStringLiteral("varnohub/log/versione")).isEmpty());

        if (how == QLatin1String("close")) {
            QTRY_VERIFY(!w.isVisible());
            return;
        }
        QCOMPARE(stepPage(w), 2);
        QVERIFY(child<QToolButton>(w, "tbOkAggiornamentiDisponibili")->isEnabled());

        // Ok continues: the broken package from where it stopped, the rest from the cache.
        // The whole-operation bar counts what the cache holds from its first
        // value on, and only grows.
        site.service->clearLog();
        QList<double> overall;
        QTimer sample;
        sample.setInterval(2);
        QObject::connect(&sample, &QTimer::timeout, [&] {
            TProgressBox *box = w.progressWindow();
            const auto *bar = box->findChild<QProgressBar *>(QStringLiteral("progressBarTotal"));
            if (box->isVisible() && bar->maximum() > 0
                && box->findChild<QLabel *>(QStringLiteral("lblMessage"))->text().startsWith(QLatin1String("download")))
                overall << double(bar->value()) / bar->maximum();
        });
        sample.start();
        click(w, "tbOkAggiornamentiDisponibili");
        sample.stop();
        QCOMPARE(stepPage(w), 3);
        if (!duringExtraction) {
            QVERIFY(!overall.isEmpty());
            QVERIFY2(overall.first() > 0.0 && overall.first() < 1.0, qPrintable(QString::number(overall.first())));
            QStringList seen;
            for (double f : overall) seen << QString::number(f, 'f', 4);
            QVERIFY2(std::is_sorted(overall.cbegin(), overall.cend()), qPrintable(seen.join(QLatin1Char(' '))));
        }
        QVERIFY(site.file(QStringLiteral("card/varno/main")).contains("EXEC_VERSION=2.10"));
        QVERIFY(site.exists(QStringLiteral("card/varno/diag/auto/ita/ad.dat")));
        const QStringList transfers = site.service->requestsWithHeaders().filter(package);
        if (!duringExtraction) {
            // The continued run asks only for what the cache lacks; a try that
            // brought nothing may still be due (the press can come before it).
            QVERIFY(!transfers.isEmpty());
            for (const QString &transfer : transfers)
                QVERIFY2(transfer.contains(QLatin1String("[Range: bytes=100-]")), qPrintable(transfer));
            QVERIFY2(transfers.last().contains(QLatin1String(" 206 [Range: bytes=100-]")), qPrintable(transfers.last()));
        } else {
            // A package received whole is not sent again.
            QVERIFY2(transfers.filter(QStringLiteral(" 200")).isEmpty(), qPrintable(transfers.join(QLatin1Char('|'))));
        }
    }

    void windowMovesByItsToolBarAndStepStrip_data()
    {
        QTest::addColumn<QString>("surface");
        QTest::newRow("tool bar") << QStringLiteral("frameButton");
        QTest::newRow("step strip") << QStringLiteral("lblStep2");
    }

    void windowMovesByItsToolBarAndStepStrip()
    {
        QFETCH(QString, surface);
        TestWorkspace ws;
        ws.writeFile(QStringLiteral("customize_update.ini"), "[personalizzazioni]\nupdate_pc=1\nupdate_palm=0\n");
        MainWindow w;
        w.show();
        w.move(100, 100);
        QWidget *handle = w.findChild<QWidget *>(surface);
        QVERIFY(handle);
        const QPoint start = w.pos();
        const QPoint local(5, 5);
        const QPoint global = handle->mapToGlobal(local);
        const auto send = [&](QEvent::Type type, const QPoint &offset, Qt::MouseButtons buttons) {
            QMouseEvent event(type, QPointF(local + offset), QPointF(global + offset), Qt::LeftButton, buttons,
                              Qt::NoModifier);
            QApplication::sendEvent(handle, &event);
        };
        send(QEvent::MouseButtonPress, QPoint(), Qt::LeftButton);
        send(QEvent::MouseMove, QPoint(40, 25), Qt::LeftButton);
        send(QEvent::MouseButtonRelease, QPoint(40, 25), Qt::NoButton);
        QCOMPARE(w.pos(), start + QPoint(40, 25));
        // A move without the button held does not drag.
        send(QEvent::MouseMove, QPoint(80, 80), Qt::NoButton);
        QCOMPARE(w.pos(), start + QPoint(40, 25));
    }

    void manualRun_data()
    {
        QTest::addColumn<int>("updatePc");
        QTest::addColumn<int>("updatePalm");
        QTest::addColumn<bool>("dealerPackage");
        QTest::addColumn<bool>("onFat");
        QTest::newRow("dealer package, PC only") << 1 << 0 << true << false;
        QTest::newRow("dealer package, PC and card") << 1 << 1 << true << false;
        QTest::newRow("work folder copy, PC and card") << 1 << 1 << false << false;
        QTest::newRow("dealer package, PC and a FAT32 card") << 1 << 1 << true << true;
    }

    void manualRun()
    {
        QFETCH(int, updatePc);
        QFETCH(int, updatePalm);
        QFETCH(bool, dealerPackage);
        QFETCH(bool, onFat);
        if (!FtpFixture::available())
            QSKIP("the FTP server module is not installed");
        if (onFat && !FatCard::unavailableReason().isEmpty())
            QSKIP(qPrintable(FatCard::unavailableReason()));
        QString package;
        QTemporaryDir keep;
        if (dealerPackage) {
            // What a dealer hands a customer without internet.
            package = keep.filePath(QStringLiteral("package.zip"));
            QCOMPARE(TestSystem::execute(QStringLiteral(UPDATE_HUB_SERVICE_BIN),
                                         { QStringLiteral("--make-manual-package"), package,
                                           QStringLiteral("--languages"), QStringLiteral("ita,eng") }),
                     0);
        } else {
            // The dated copy of an online run's work folder is a complete manual package.
            Site online;
            QVERIFY(online.start(1, 1));
            ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
            MainWindow w;
            w.show();
            QVERIFY(planRun(w));
            click(w, "tbOkAggiornamentiDisponibili");
            QCOMPARE(stepPage(w), 3);
            const QStringList copies
                = QDir(online.ws.path()).entryList({ backupPattern }, QDir::Files);
            QCOMPARE(copies.size(), 1);
            package = keep.filePath(QStringLiteral("package.zip"));
            QVERIFY(QFile::copy(online.ws.filePath(copies.first()), package));
        }

        Site site;
        QVERIFY(site.start(updatePc, updatePalm, onFat));
        site.service->stop(); // a manual run needs no service
        QVERIFY(QFile::copy(package, site.ws.filePath(QStringLiteral("package.zip"))));
        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        MainWindow w;
        w.show();
        click(w, "tbAggiornamentoManuale");
        ModalAnswerer::answerNextFileDialog(site.ws.filePath(QStringLiteral("package.zip")));
        click(w, "tbOkPw");
        QCOMPARE(stepPage(w), 2);
        QVERIFY(child<QTextEdit>(w, "textRelDiag1")->toPlainText().startsWith(QLatin1Char('\n')));
        QVERIFY(child<QTextEdit>(w, "textRelDiag1")->toPlainText().contains(QLatin1String("1.10: Italiano")));
        QCOMPARE(w.products(), QStringList({ QString(), QStringLiteral("moto_files") }));
        QVERIFY(!child<QWidget>(w, "frmRelDiagInfo3")->isVisible());

        click(w, "tbOkAggiornamentiDisponibili");
        QCOMPARE(stepPage(w), 3);
        QVERIFY(site.file(QStringLiteral("main.exe")).contains("EXEC_VERSION=3.70"));
        QCOMPARE(site.file(QStringLiteral("card/varno/main")).contains("EXEC_VERSION=2.10"), updatePalm == 1);
        QVERIFY(site.service->requestLines().isEmpty());
        // The versions of the package's manifest, all of whose archives were installed.
        QCOMPARE(versionsNotRecorded(site, true, updatePalm == 1), QString());
        // No download run: no second dated copy.
        QVERIFY(QDir(site.ws.path()).entryList({ backupPattern }, QDir::Files).isEmpty());
    }

    void badManualPackages_data()
    {
        QTest::addColumn<QByteArray>("syslang");
        QTest::addColumn<bool>("isZip");
        QTest::addColumn<QString>("status");
        QTest::newRow("not a zip") << QByteArray() << false << QStringLiteral("Decompressione del pacchetto ");
        QTest::newRow("no description_def")
            << QByteArray("[lingua]\nlingua_sel=ita\nlingua_def=eng\nlingua_description_sel=Italiano\n") << true
            << QStringLiteral("Pacchetto aggiornamento manuale: Corrotto");
        QTest::newRow("no syslang.ini") << QByteArray() << true
                                        << QStringLiteral("Pacchetto aggiornamento manuale: Corrotto");
    }

    void badManualPackages()
    {
        QFETCH(QByteArray, syslang);
        QFETCH(bool, isZip);
        QFETCH(QString, status);
        TestWorkspace ws;
        ws.writeFile(QStringLiteral("customize_update.ini"), "[personalizzazioni]\nupdate_pc=1\nupdate_palm=0\n");
        QTemporaryDir source;
        const QString package = ws.filePath(QStringLiteral("package.zip"));
        if (isZip) {
            QFile manifest(source.filePath(QStringLiteral("update.ini")));
            QVERIFY(manifest.open(QIODevice::WriteOnly));
            manifest.write("[product]\nnum_product=1\nidproduct_0=\n[pc_update]\nnum_files=0\n");
            manifest.close();
            if (!syslang.isEmpty()) {
                QFile file(source.filePath(QStringLiteral("syslang.ini")));
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(syslang);
            }
            QVERIFY(TZipFile::ZipDirectory(source.path(), source.path() + QLatin1Char('/'), package, QString()));
        } else {
            ws.writeFile(QStringLiteral("package.zip"), "this is not an archive");
        }

        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        MainWindow w;
        w.show();
        click(w, "tbAggiornamentoManuale");
        ModalAnswerer::answerNextFileDialog(package);
        click(w, "tbOkPw");
        QCOMPARE(stepPage(w), 0);
        QVERIFY(child<QToolButton>(w, "tbOkPw")->isEnabled());
        QVERIFY(answerer.titles().isEmpty());
        QVERIFY(QString::fromUtf8(ws.readFile(QStringLiteral("stati.log"))).startsWith(status));

        // A cancelled file dialog does nothing and gives the controls back.
        ModalAnswerer::answerNextFileDialog(QString());
        click(w, "tbOkPw");
        QCOMPARE(stepPage(w), 0);
        QVERIFY(child<QToolButton>(w, "tbOkPw")->isEnabled());
    }
};

QTEST_MAIN(TestMainWindowInstall)
#include "tst_mainwindow_install.moc"
