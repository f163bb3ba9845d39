// Version report: the row as stored (read back with Qt SQL), the cases that
// write nothing, and the upload to a real FTP server on loopback; the local
// database goes only after a successful upload, and is otherwise kept intact.
#include "service/thttp.h"
#include "service/versionreport.h"
#include "support/ftpfixture.h"
#include "support/loopbackservice.h"
#include "support/workspace.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

using namespace VersionReport;

namespace {

const QString folder = QStringLiteral("varnohub/log/versione");
const QString stamp = QStringLiteral("2026-12-08_10-11-12");

/// Every row of t_versione, each value as text ("<null>" for NULL), read
/// through a connection of its own that is gone before the function returns.
QList<QStringList> storedRows(const QString &path)
{
    QList<QStringList> rows;
    const QString name = QStringLiteral("reader");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(QStringLiteral("SELECT * FROM t_versione ORDER BY id"), db);
            while (query.next()) {
                QStringList row;
                for (int i = 0; i < query.record().count(); ++i)
                    row << (query.value(i).isNull() ? QStringLiteral("<null>") : query.value(i).toString());
                rows << row;
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

Sources datesFrom(const QString &dateTime, const QString &dateStamp, int *stampCalls = nullptr)
{
    Sources sources;
    sources.dateTimeMs = [dateTime] { return dateTime; };
    sources.dateStamp = [dateStamp, stampCalls] {
        if (stampCalls)
            ++*stampCalls;
        return dateStamp;
    };
    return sources;
}

Inputs cardInputs(const TestWorkspace &ws)
{
    Inputs inputs;
    inputs.serialNumber = QStringLiteral("SN42");
    inputs.cardRoot = ws.filePath(QStringLiteral("card")) + QLatin1Char('/');
    inputs.selectedLanguageId = QStringLiteral("ita");
    inputs.expiration = QStringLiteral("2027-01-31");
    inputs.cardSwVersion = QStringLiteral("4.10");
    inputs.filesIntact = false;
    inputs.missingFiles = QStringList { QStringLiteral("/a/b.bin"), QStringLiteral("/c.txt") };
    return inputs;
}

UploadOptions quickOptions()
{
    UploadOptions options;
    options.connectTimeout = 5;
    options.responseTimeout = 3;
    options.lowSpeedTime = 3;
    return options;
}

QByteArray serverIni(int port, const QByteArray &useProxy = "0")
{
    return "[server]\naddress=127.0.0.1\nftp_port=" + QByteArray::number(port)
        + "\nuse_proxy_parameters=" + useProxy + "\n";
}

} // namespace

class TestVersionReport : public QObject
{
    Q_OBJECT

private slots:
    void numberText_data();
    void numberText();
    void accountByAddress_data();
    void accountByAddress();
    void writesEveryColumn();
    void defaultsWithoutCardFiles();
    void nothingWrittenWithoutDatabaseOrDate();
    void unreadableDatabaseIsKept();
    void uploadCarriesKeptRows();
    void datesFromTheServiceClient();
    void failedUploadKeepsDatabase_data();
    void failedUploadKeepsDatabase();
};

void TestVersionReport::numberText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stored");
    QTest::newRow("two decimals") << "3.65"
                                  << "3.65";
    QTest::newRow("empty") << ""
                           << "0";
    QTest::newRow("whole") << "26"
                           << "26";
    QTest::newRow("trailing zero") << "3.10"
                                   << "3.1";
    QTest::newRow("not a number") << "NOT FOUND"
                                  << "0";
    QTest::newRow("seven digits") << "1234567"
                                  << "1.23457e+06";
    QTest::newRow("infinite") << "inf"
                              << "0";
    QTest::newRow("negative") << "-2.5"
                              << "-2.5";
}

void TestVersionReport::numberText()
{
    QFETCH(QString, text);
    QFETCH(QString, stored);
    QCOMPARE(VersionReport::numberText(text), stored);
}

void TestVersionReport::accountByAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("partner") << "partner.orvane.com"
                             << "quorelbantisva"
                             << "pentrolivaskoum";
    QTest::newRow("default host") << "update.orvane.com"
                                  << "drumelfask"
                                  << "vilta";
    QTest::newRow("other") << "127.0.0.1"
                           << "drumelfask"
                           << "vilta";
}

void TestVersionReport::accountByAddress()
{
    QFETCH(QString, address);
    const Account account = accountFor(address);
    QTEST(account.user, "user");
    QTEST(account.password, "password");
}

void TestVersionReport::writesEveryColumn()
{
    TestWorkspace ws;
    QVERIFY(ws.makeDir(QStringLiteral("plugins/log")));
    // An apostrophe in the account code and in the language must reach the row intact.
    QVERIFY(
        ws.writeFile(QStringLiteral("password.ini"), "[impostazioni]\npassword=AB'1-2\nserialnumber=SN42\n"));
    Inputs inputs = cardInputs(ws);
    inputs.selectedLanguageId = QStringLiteral("it'");
    QVERIFY(ws.writeFile(QStringLiteral("card/varno/syslang.ini"),
                         "[ad]\nad_it'=27.50\nad_eng=99\n[admoto_files]\nadmoto_files_it'=3\n"
                         "[adtruck_files]\nadtruck_files_it'=abc\n"));

    int stampCalls = 0;
    UploadResult sent = UploadResult::Uploaded;
    QCOMPARE(record(inputs, datesFrom(QStringLiteral("2026-12-08 10:11:12"), QString(), &stampCalls), &sent),
             RecordResult::Written);
    QCOMPARE(stampCalls, 1);
    QCOMPARE(sent, UploadResult::NoDate);

    const QList<QStringList> rows = storedRows(ws.filePath(databasePath()));
    QCOMPARE(rows.size(), 1);
    const QStringList expected { "1",          "SN42",
                                 "ASTER",      "2026-12-08 10:11:12",
                                 "2027-01-31", "4.1",
                                 "3.65",       "27.5",
                                 "27.5",       "3",
                                 "3",          "0",
                                 "0",          "0",
                                 "<null>",     "<null>",
                                 "AB'1-2",     "it'",
                                 "OV",         "EU",
                                 "0",          "/a/b.bin|/c.txt" };
    QCOMPARE(rows.first(), expected);
}

void TestVersionReport::defaultsWithoutCardFiles()
{
    TestWorkspace ws;
    QVERIFY(ws.makeDir(QStringLiteral("plugins/log")));
    Inputs inputs = cardInputs(ws); // no syslang.ini on the card, no password.ini
    inputs.serialNumber.clear();
    inputs.expiration.clear();
    inputs.cardSwVersion.clear();
    inputs.filesIntact = true;
    inputs.missingFiles.clear();

    QCOMPARE(record(inputs, datesFrom(QStringLiteral("2026-12-08 10:11:12"), QString())),
             RecordResult::Written);
    const QList<QStringList> rows = storedRows(ws.filePath(databasePath()));
    QCOMPARE(rows.size(), 1);
    const QStringList expected { "1",  "",    "ASTER",  "2026-12-08 10:11:12",
                                 "",   "0",   "3.65",   "26",
                                 "26", "26",  "26",     "26",
                                 "26", "0",   "<null>", "<null>",
                                 "",   "ita", "OV",     "EU",
                                 "1",  "" };
    QCOMPARE(rows.first(), expected);
}

void TestVersionReport::nothingWrittenWithoutDatabaseOrDate()
{
    TestWorkspace ws;
    int stampCalls = 0;

    // No "plugins/log" folder: the database cannot be opened.
    QTest::ignoreMessage(QtWarningMsg, "ERRORE : Open database raccolta_dati_versioni.db");
    QCOMPARE(record(cardInputs(ws), datesFrom(QStringLiteral("2026-12-08 10:11:12"), stamp, &stampCalls)),
             RecordResult::NotOpened);

    // No service date: the table exists, no row, no upload attempt.
    QVERIFY(ws.makeDir(QStringLiteral("plugins/log")));
    QCOMPARE(record(cardInputs(ws), datesFrom(QString(), stamp, &stampCalls)), RecordResult::NoDate);
    QCOMPARE(stampCalls, 0);
    QVERIFY(QFile::exists(ws.filePath(databasePath())));
    QCOMPARE(storedRows(ws.filePath(databasePath())).size(), 0);

    // The next report with a date writes its row into the same file.
    QCOMPARE(record(cardInputs(ws), datesFrom(QStringLiteral("2026-12-08 10:11:12"), QString())),
             RecordResult::Written);
    QCOMPARE(storedRows(ws.filePath(databasePath())).size(), 1);
}

void TestVersionReport::unreadableDatabaseIsKept()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("http_server.ini"), serverIni(1)));
    const QByteArray foreign("this is not a database\n\0\x01\x02", 26);
    QVERIFY(ws.writeFile(databasePath(), foreign));
    QTest::ignoreMessage(QtWarningMsg, "ERRORE : INSERT INTO t_versione");
    QCOMPARE(record(cardInputs(ws), datesFrom(QStringLiteral("2026-12-08 10:11:12"), stamp)),
             RecordResult::InsertFailed);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^copy of .* not a database")));
    QCOMPARE(upload(datesFrom(QString(), stamp)), UploadResult::NotReadable);
    QCOMPARE(ws.readFile(databasePath()), foreign);

    // A database another program holds locked is neither sent nor deleted.
    QVERIFY(QFile::remove(ws.filePath(databasePath())));
    QCOMPARE(record(cardInputs(ws), datesFrom(QStringLiteral("2026-12-08 10:11:12"), QString())),
             RecordResult::Written);
    const QByteArray before = ws.readFile(databasePath());
    {
        QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        holder.setDatabaseName(ws.filePath(databasePath()));
        QVERIFY(holder.open());
        QSqlQuery lock(holder);
        QVERIFY(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^copy of .* locked")));
        QCOMPARE(upload(datesFrom(QString(), stamp)), UploadResult::NotReadable);
        QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
        holder.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    QCOMPARE(ws.readFile(databasePath()), before);
}

void TestVersionReport::uploadCarriesKeptRows()
{
    if (!FtpFixture::available())
        QSKIP("/usr/bin/python3 with pyftpdlib is not installed");
    TestWorkspace ws;
    FtpFixture server(QStringLiteral("drumelfask"), QStringLiteral("vilta"));
    QVERIFY(server.start());
    QVERIFY(server.makeDir(folder));
    QVERIFY(ws.makeDir(QStringLiteral("plugins/log")));
    QVERIFY(ws.writeFile(QStringLiteral("http_server.ini"), serverIni(server.port())));
    QVERIFY(ws.writeFile(QStringLiteral("password.ini"), "[impostazioni]\nserialnumber=SN9\n"));

    // Two reports while the service has no date stamp: both rows stay local.
    for (const char *date : { "2026-12-08 10:00:00", "2026-12-08 11:00:00" }) {
        UploadResult sent = UploadResult::Uploaded;
        QCOMPARE(record(cardInputs(ws), datesFrom(QString::fromLatin1(date), QString()), &sent),
                 RecordResult::Written);
        QCOMPARE(sent, UploadResult::NoDate);
    }
    QCOMPARE(server.fileNames(folder), QStringList());

    QCOMPARE(upload(datesFrom(QString(), stamp), quickOptions()), UploadResult::Uploaded);
    QVERIFY(!QFile::exists(ws.filePath(databasePath())));
    QCOMPARE(server.fileNames(folder), QStringList { QStringLiteral("SN9_2026-12-08_10-11-12_versione.db") });
    const QList<QStringList> rows
        = storedRows(server.root() + QStringLiteral("/") + folder + QStringLiteral("/SN9_") + stamp
                     + QStringLiteral("_versione.db"));
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).at(3), QStringLiteral("2026-12-08 10:00:00"));
    QCOMPARE(rows.at(1).at(3), QStringLiteral("2026-12-08 11:00:00"));

    // The next report starts a new file; without a serial number its name begins with "_".
    QVERIFY(ws.writeFile(QStringLiteral("password.ini"), "[impostazioni]\npassword=X\n"));
    UploadResult sent = UploadResult::Failed;
    QCOMPARE(record(cardInputs(ws), datesFrom(QStringLiteral("2026-12-08 12:00:00"), QStringLiteral("D2")),
                    &sent, quickOptions()),
             RecordResult::Written);
    QCOMPARE(sent, UploadResult::Uploaded);
    QCOMPARE(
        storedRows(server.root() + QStringLiteral("/") + folder + QStringLiteral("/_D2_versione.db")).size(),
        1);
}

void TestVersionReport::datesFromTheServiceClient()
{
    if (!FtpFixture::available())
        QSKIP("/usr/bin/python3 with pyftpdlib is not installed");
    TestWorkspace ws;
    FtpFixture server(QStringLiteral("drumelfask"), QStringLiteral("vilta"));
    QVERIFY(server.start());
    QVERIFY(server.makeDir(folder));
    QVERIFY(ws.makeDir(QStringLiteral("plugins/log")));
    QVERIFY(ws.writeFile(QStringLiteral("password.ini"), "[impostazioni]\nserialnumber=SN7\n"));
    LoopbackService service;
    service.answer(QStringLiteral("/files/varnohub/datetime_ms.asp"), "2026-12-08 10:11:12Z");
    // The stamp as a page script ends it: the line end must not reach the file name.
    service.answer(QStringLiteral("/files/varnohub/datetime_ov.asp"), "2026-12-08_10-11-12\r\n");
    QVERIFY(service.writeHttpServerIni(ws.path(), "ftp_port=" + QByteArray::number(server.port()) + "\n"));

    THttp http;
    Sources sources;
    sources.dateTimeMs = [&http] { return http.getDateTimeMs(); };
    sources.dateStamp = [&http] { return http.getDateStamp(); };
    UploadResult sent = UploadResult::Failed;
    QCOMPARE(record(cardInputs(ws), sources, &sent, quickOptions()), RecordResult::Written);
    QCOMPARE(sent, UploadResult::Uploaded);
    const QList<QStringList> rows = storedRows(server.root() + QLatin1Char('/') + folder
                                               + QStringLiteral("/SN7_2026-12-08_10-11-12_versione.db"));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().at(3), QStringLiteral("2026-12-08 10:11:12"));
}

void TestVersionReport::failedUploadKeepsDatabase_data()
{
    QTest::addColumn<QString>("serverPassword");
    QTest::addColumn<bool>("makeFolder");
    QTest::addColumn<bool>("killServer");
    QTest::addColumn<QByteArray>("useProxy");
    QTest::addColumn<int>("result");

    const int failed = int(UploadResult::Failed);
    QTest::newRow("login refused") << "other" << true << false << QByteArray("0") << failed;
    QTest::newRow("folder missing") << "vilta" << false << false << QByteArray("0") << failed;
    QTest::newRow("server killed") << "vilta" << true << true << QByteArray("0") << failed;
    QTest::newRow("proxy parameters")
        << "vilta" << true << false << QByteArray("1") << int(UploadResult::NoConnection);
}

void TestVersionReport::failedUploadKeepsDatabase()
{
    if (!FtpFixture::available())
        QSKIP("/usr/bin/python3 with pyftpdlib is not installed");
    QFETCH(QString, serverPassword);
    QFETCH(bool, makeFolder);
    QFETCH(bool, killServer);
    QFETCH(QByteArray, useProxy);
    QFETCH(int, result);

    TestWorkspace ws;
    FtpFixture server(QStringLiteral("drumelfask"), serverPassword);
    QVERIFY(server.start());
    if (makeFolder)
        QVERIFY(server.makeDir(folder));
    if (killServer)
        server.stop();
    QVERIFY(ws.makeDir(QStringLiteral("plugins/log")));
    QVERIFY(ws.writeFile(QStringLiteral("http_server.ini"), serverIni(server.port(), useProxy)));
    QVERIFY(ws.writeFile(QStringLiteral("password.ini"), "[impostazioni]\nserialnumber=SN9\n"));

    UploadResult sent = UploadResult::Uploaded;
    QCOMPARE(record(cardInputs(ws), datesFrom(QStringLiteral("2026-12-08 10:11:12"), stamp), &sent,
                    quickOptions()),
             RecordResult::Written);
    QCOMPARE(int(sent), result);
    QCOMPARE(storedRows(ws.filePath(databasePath())).size(), 1);
    QCOMPARE(server.fileNames(folder), QStringList());

    // The next report adds its row to the kept one.
    QCOMPARE(record(cardInputs(ws), datesFrom(QStringLiteral("2026-12-08 10:11:13"), QString())),
             RecordResult::Written);
    QCOMPARE(storedRows(ws.filePath(databasePath())).size(), 2);
}

QTEST_GUILESS_MAIN(TestVersionReport)
#include "tst_versionreport.moc"
