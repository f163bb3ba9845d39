// The reference update service as a process, over real TCP: its pages and
// catalogue, the files it serves and refuses, uploads, keep-alive with the
// connection log, the faults, reloading and a prompt stop; the demo catalogue
// and the manual-update packages made from a catalogue.
#include "archive/tzipfile.h"
#include "settings/tinifiles.h"
#include "support/servicefixture.h"
#include "support/testsystem.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QOperatingSystemVersion>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Reply
{
    int status = 0;
    qint64 contentLength = -1;
    QByteArray body;
    bool closed = false; // the service closed the connection
};

bool connectTo(QTcpSocket &socket, quint16 port)
{
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket.waitForConnected(5000);
}

void sendRequest(QTcpSocket &socket, const QByteArray &method, const QByteArray &target,
                 const QByteArray &body = QByteArray(), qint64 announced = -1)
{
    QByteArray head = method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (method == "POST")
        head += "Content-Length: " + QByteArray::number(announced < 0 ? body.size() : announced) + "\r\n";
    socket.write(head + "\r\n" + body);
    socket.flush();
}

// Reads one answer; gives up waiting for the body after waitMs without data.
Reply readReply(QTcpSocket &socket, int waitMs = 5000, qint64 enough = -1)
{
    Reply reply;
    QByteArray data;
    auto more = [&] {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(waitMs)) {
            reply.closed = socket.state() != QAbstractSocket::ConnectedState;
            return false;
        }
        data += socket.readAll();
        return true;
    };
    while (!data.contains("\r\n\r\n")) {
        if (!more())
            return reply;
    }
    const int end = data.indexOf("\r\n\r\n");
    const QList<QByteArray> lines = data.left(end).split('\n');
    reply.status = lines.value(0).split(' ').value(1).toInt();
    for (const QByteArray &line : lines) {
        if (line.toLower().startsWith("content-length:"))
            reply.contentLength = line.mid(15).trimmed().toLongLong();
    }
    data = data.mid(end + 4);
    while (data.size() < reply.contentLength && (enough < 0 || data.size() < enough)) {
        if (!more())
            break;
    }
    reply.body = data.left(qMax<qint64>(reply.contentLength, 0));
    return reply;
}

// Runs update_hub_service with arguments; its exit code (-1 when it did not finish).
int runService(const QStringList &arguments, QByteArray *output = nullptr)
{
    return TestSystem::execute(QStringLiteral(UPDATE_HUB_SERVICE_BIN), arguments, 60000, output);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A manual package extracted as the updater's manual update does it, with
// its two manifests opened as the installation opens them.
struct ExtractedPackage
{
    QTemporaryDir work;
    bool extracted = false;
    std::unique_ptr<TIniFiles> manifest; // update.ini, plain keys
    std::unique_ptr<TIniFiles> syslang; // syslang.ini, section-prefixed keys

    explicit ExtractedPackage(const QString &zip)
    {
        extracted
            = work.isValid() && TZipFile::UnzipArchive(zip, work.path() + QLatin1Char('/'), true, QString());
        manifest = std::make_unique<TIniFiles>(work.filePath(QStringLiteral("update.ini")), true);
        syslang = std::make_unique<TIniFiles>(work.filePath(QStringLiteral("syslang.ini")), false);
    }
    QStringList files() const { return QDir(work.path()).entryList(QDir::Files, QDir::Name); }
    QStringList manifestFiles() const
    {
        QStringList values;
        const int count = manifest->readInt(QStringLiteral("pc_update"), QStringLiteral("num_files"), 10, 0);
        for (int i = 0; i < count; ++i)
            values << manifest->readString(QStringLiteral("pc_update"),
                                           QStringLiteral("file_") + QString::number(i));
        return values;
    }
};

Reply get(quint16 port, const QByteArray &target)
{
    QTcpSocket socket;
    if (!connectTo(socket, port))
        return Reply();
    sendRequest(socket, "GET", target);
    return readReply(socket);
}

const QByteArray catalogue = R"([service]
datetime_ms => 2014-03-07 16:05:09
datetime_ov => 2014-03-07_16-05-09

[account 12-34]
SN => 12=34
CELLULARE => 333 1234567
E-MAIL => info@rossi.it
RIVENDITORE => dealer7
RAGIONE SOCIALE => Officina Rossi è C.

[account CAFFè]
SN => 7

[redirections]
praxo => praxo;praxo;data;a;b;c;db_auto|moto_files/database;ref

[products]
praxo => prod;1;x;Auto;;prod;2;x;Moto;moto_files

[bbad_releases]
ita|*|praxo => 1.0 - first\r\n1.1 - second\r\n

[max_bbad_release]
moto_files|praxo => 2.5

[max_bbad_release_lingue]
moto_files|praxo|eng => 2.4

[bbad_downloads]
*|0|moto_files|praxo => /files/varnohub/praxo/moto_files/bbad_2.5.zip:bbadfile

[downloads]
1234|ita|0|0|standard_product|* => /a/1.zip:adfiles\r\n/a/2.zip:adfiles

[answers]
/files/varnohub/get_max_bbad_release.asp?workdir_product=truck_files&customization=praxo => 9.9\x20
)";

} // namespace

class TestService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_service.writeCatalogue(catalogue));
        QVERIFY(m_service.writeFile(QStringLiteral("praxo/pc/ver_update.txt"), "3.65"));
        QVERIFY(m_service.writeFile(QStringLiteral("praxo/with blank.txt"), "blank"));
        QVERIFY(m_service.writeFile(QString::fromUtf8("praxo/caffè.txt"), "latin"));
        QVERIFY(m_service.start());
    }

    void cleanupTestCase()
    {
        // After every test's requests, served by many workers: the service
        // ends by itself, with exit code 0, not by a crash as they end.
        QVERIFY(m_service.stop());
    }

    void pages_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        const QByteArray r = "/files/varnohub/";
        QTest::newRow("login") << r + "login.asp?password=1234" << 200
                               << QByteArray(
                                      "OK\r\nSN=12=34\r\nCELLULARE=333 1234567\r\nE-MAIL=info@rossi.it\r\n"
                                      "RIVENDITORE=dealer7\r\nRAGIONE SOCIALE=Officina Rossi \xe8 C.");
        QTest::newRow("login unknown") << r + "login.asp?password=9999" << 200 << QByteArray("NO USER FOUND");
        // Decoded values are Latin-1 bytes: UTF-8 is two other characters.
        QTest::newRow("login, Latin-1 account") << r + "login.asp?password=CAFF%E8" << 200 << QByteArray("OK\r\nSN=7");
        QTest::newRow("login, UTF-8 is not Latin-1")
            << r + "login.asp?password=CAFF%C3%A8" << 200 << QByteArray("NO USER FOUND");
        QTest::newRow("login empty") << r + "login.asp?password=" << 200 << QByteArray("NO USER FOUND");
        QTest::newRow("not in maintenance")
            << r + "newblocksite.asp?password=1234" << 200 << QByteArray("OK");
        QTest::newRow("redirection") << r + "get_custom_redirection.asp?customization=praxo" << 200
                                     << QByteArray("praxo;praxo;data;a;b;c;db_auto|moto_files/database;ref");
        QTest::newRow("redirection unknown")
            << r + "get_custom_redirection.asp?customization=other" << 200 << QByteArray("NOT FOUND");
        QTest::newRow("products") << r + "get_product_names.asp?customization=praxo" << 200
                                  << QByteArray("prod;1;x;Auto;;prod;2;x;Moto;moto_files");
        QTest::newRow("releases, any product")
            << r + "get_bbad_releases.asp?language=ita&workdir_product=&customization=praxo" << 200
            << QByteArray("1.0 - first\r\n1.1 - second\r\n");
        QTest::newRow("releases, no list")
            << r + "get_mit_releases.asp?language=ita&workdir_product=&customization=praxo" << 200
            << QByteArray();
        QTest::newRow("max release") << r
                + "get_max_bbad_release.asp?workdir_product=moto_files&customization=praxo"
                                     << 200 << QByteArray("2.5");
        QTest::newRow("max release unknown")
            << r + "get_max_bbad_release.asp?workdir_product=&customization=praxo" << 200 << QByteArray("0");
        QTest::newRow("max release per language") << r
                + "get_max_bbad_release_lingue.asp?workdir_product=moto_files&customization=praxo&language="
                  "eng" << 200 << QByteArray("2.4");
        QTest::newRow("max release, language falls back") << r
                + "get_max_bbad_release_lingue.asp?workdir_product=moto_files&customization=praxo&language="
                  "ita" << 200 << QByteArray("2.5");
        QTest::newRow("bbad downloads")
            << r + "get_filebbad2download.asp?password=77&bbadversion=0&wdir=moto_files&customization=praxo"
            << 200 << QByteArray("/files/varnohub/praxo/moto_files/bbad_2.5.zip:bbadfile");
        QTest::newRow("bbad downloads, other version")
            << r + "get_filebbad2download.asp?password=77&bbadversion=2.5&wdir=moto_files&customization=praxo"
            << 200 << QByteArray("NOT FOUND");
        QTest::newRow("downloads") << r
                + "get_file2download.asp?password=1234&language=ita&adversion=0&mitversion=0&id_product_"
                  "active=standard_product&customization=praxo"
                                   << 200 << QByteArray("/a/1.zip:adfiles\r\n/a/2.zip:adfiles");
        QTest::newRow("file size") << r + "get_filesize.asp?file=/files/varnohub/praxo/pc/ver_update.txt"
                                   << 200 << QByteArray("4");
        QTest::newRow("file size, encoded blank")
            << r + "get_filesize.asp?file=/files/varnohub/praxo/with%20blank.txt" << 200 << QByteArray("5");
        QTest::newRow("file size, missing")
            << r + "get_filesize.asp?file=/files/varnohub/praxo/none.zip" << 200 << QByteArray("-1");
        QTest::newRow("file size, folder")
            << r + "get_filesize.asp?file=/files/varnohub/praxo" << 200 << QByteArray("-1");
        QTest::newRow("file size, outside")
            << r + "get_filesize.asp?file=/files/varnohub/praxo/../../x" << 200 << QByteArray("-1");
        QTest::newRow("file contents")
            << r + "get_filecontents.asp?file=praxo/pc/ver_update.txt" << 200 << QByteArray("3.65");
        QTest::newRow("file contents, outside")
            << r + "get_filecontents.asp?file=../service.ini" << 404 << QByteArray("NOT FOUND");
        QTest::newRow("date, one extra character")
            << r + "datetime_ms.asp" << 200 << QByteArray("2014-03-07 16:05:09\n");
        QTest::newRow("date stamp") << r + "datetime_ov.asp" << 200 << QByteArray("2014-03-07_16-05-09");
        QTest::newRow("written answer wins")
            << r + "get_max_bbad_release.asp?workdir_product=truck_files&customization=praxo" << 200
            << QByteArray("9.9 ");
        QTest::newRow("static file") << r + "praxo/pc/ver_update.txt" << 200 << QByteArray("3.65");
        QTest::newRow("static, encoded blank") << r + "praxo/with%20blank.txt" << 200 << QByteArray("blank");
        QTest::newRow("static, Latin-1 name") << r + "praxo/caff%E8.txt" << 200 << QByteArray("latin");
        QTest::newRow("static, missing") << r + "praxo/pc/none.txt" << 404 << QByteArray("NOT FOUND");
        QTest::newRow("static, climbing out")
            << r + "praxo/../../etc/passwd" << 404 << QByteArray("NOT FOUND");
        QTest::newRow("static, encoded climb")
            << r + "%2e%2e/%2e%2e/etc/passwd" << 404 << QByteArray("NOT FOUND");
        QTest::newRow("outside the service root")
            << QByteArray("/service.ini") << 404 << QByteArray("NOT FOUND");
        QTest::newRow("upload needs a POST")
            << r + "upload_file.asp?file_name=x" << 405 << QByteArray("METHOD NOT ALLOWED");
    }

    void pages()
    {
        QFETCH(QByteArray, target);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        const Reply reply = get(m_service.port(), target);
        QCOMPARE(reply.status, status);
        QCOMPARE(reply.body, body);
        QCOMPARE(reply.contentLength, qint64(body.size()));
        QCOMPARE(m_service.requestLines().constLast(),
                 QString::fromLatin1("GET " + target + ' ') + QString::number(status));
    }

    void userDataUpdatesShowInLaterLogins()
    {
        const QByteArray r = "/files/varnohub/";
        QCOMPARE(get(m_service.port(),
                     r
                         + "update_user_data.asp?password=1234&data2update=cellulare&value=0%20"
                           "1%20%E8")
                     .body,
                 QByteArray("UPDATED"));
        QCOMPARE(get(m_service.port(), r + "update_user_data.asp?password=1234&data2update=fax&value=1").body,
                 QByteArray("ERROR: UNKNOWN FIELD"));
        QCOMPARE(get(m_service.port(), r + "update_user_data.asp?password=55&data2update=email&value=1").body,
                 QByteArray("NO USER FOUND"));
        const QByteArray login = get(m_service.port(), r + "login.asp?password=1234").body;
        QVERIFY2(login.contains("\r\nCELLULARE=0 1 \xe8\r\nE-MAIL="), login.constData());
        QFile record(m_service.root() + QStringLiteral("/user_data.log"));
        QVERIFY(record.open(QIODevice::ReadOnly));
        QCOMPARE(record.readAll(), QByteArray("1234|CELLULARE => 0 1 \xc3\xa8\n"));
        QVERIFY(record.remove());
    }

    void uploads_data()
    {
        QTest::addColumn<QByteArray>("fileName");
        QTest::addColumn<QString>("stored"); // empty: refused
        QTest::newRow("log archive") << QByteArray("log/data/SN1_2014-03-07_16-05-09.zip")
                                     << "log/data/SN1_2014-03-07_16-05-09.zip";
        QTest::newRow("doubled slash") << QByteArray("log/data//ovp/x.zip") << "log/data/ovp/x.zip";
        QTest::newRow("climbing out") << QByteArray("../escaped.zip") << QString();
        QTest::newRow("climbing out later") << QByteArray("log/../../escaped.zip") << QString();
        QTest::newRow("encoded climb") << QByteArray("%2e%2e/escaped.zip") << QString();
        QTest::newRow("backslash climb") << QByteArray("..\\escaped.zip") << QString();
        QTest::newRow("no name") << QByteArray("log/") << QString();
    }

    void uploads()
    {
        QFETCH(QByteArray, fileName);
        QFETCH(QString, stored);
        QByteArray body("PK\x03\x04\x00\x01zip", 10);
        QTcpSocket socket;
        QVERIFY(connectTo(socket, m_service.port()));
        sendRequest(socket, "POST", "/files/varnohub/upload_file.asp?file_name=" + fileName, body);
        const Reply reply = readReply(socket);
        QCOMPARE(reply.body, stored.isEmpty() ? QByteArray("UPLOAD REFUSED") : QByteArray("UPLOAD OK"));
        if (!stored.isEmpty())
            QCOMPARE(m_service.uploaded(stored), body);
        QVERIFY(!QFile::exists(m_service.root() + QStringLiteral("/escaped.zip")));
        QVERIFY(!QFile::exists(QFileInfo(m_service.root()).absolutePath() + QStringLiteral("/escaped.zip")));

        // The connection goes on after an upload, refused or not.
        sendRequest(socket, "GET", "/files/varnohub/datetime_ov.asp");
        QCOMPARE(readReply(socket).status, 200);
    }

    void brokenUploadLeavesNoFile()
    {
        QVERIFY(m_service.writeFile(QStringLiteral("uploads/log/broken/old.zip"), "old"));
        {
            QTcpSocket socket;
            QVERIFY(connectTo(socket, m_service.port()));
            sendRequest(socket, "POST", "/files/varnohub/upload_file.asp?file_name=log/broken/old.zip",
                        "partial", 1000);
            QTest::qWait(200);
            socket.abort();
        }
        QTRY_VERIFY(m_service.requestLines().constLast().startsWith(QLatin1String("POST ")));
        QCOMPARE(m_service.uploaded(QStringLiteral("log/broken/old.zip")), QByteArray("old"));
        const QStringList left
            = QDir(m_service.root() + QStringLiteral("/uploads/log/broken")).entryList(QDir::Files);
        QCOMPARE(left, QStringList { QStringLiteral("old.zip") });
    }

    void keepAliveAndConnectionLog()
    {
        m_service.clearLog();
        QTcpSocket socket;
        QVERIFY(connectTo(socket, m_service.port()));
        QStringList expected;
        for (int i = 0; i < 40; ++i) {
            const QByteArray target
                = "/files/varnohub/get_filesize.asp?file=praxo/pc/ver_update.txt&n=" + QByteArray::number(i);
            sendRequest(socket, "GET", target);
            const Reply reply = readReply(socket);
            QCOMPARE(reply.body, QByteArray("4"));
            QVERIFY(!reply.closed);
            expected.append(QString::fromLatin1("GET " + target + " 200"));
        }
        QCOMPARE(m_service.requestLines(), expected);
        QCOMPARE(m_service.connectionCount(), 1);

        QCOMPARE(get(m_service.port(), "/files/varnohub/datetime_ov.asp").status, 200);
        QCOMPARE(m_service.connectionCount(), 2);
    }

    void catalogueReloadedBetweenRequests()
    {
        QTcpSocket socket;
        QVERIFY(connectTo(socket, m_service.port()));
        const QByteArray target = "/files/varnohub/newblocksite.asp?password=1234";
        for (const QByteArray &expected : { QByteArray("FILE NOT EXISTS"), QByteArray("OK") }) {
            const bool maintenance = expected != "OK";
            QVERIFY(m_service.writeCatalogue(catalogue + "[service]\nmaintenance => "
                                             + (maintenance ? "1" : "0") + '\n'));
            sendRequest(socket, "GET", target);
            QCOMPARE(readReply(socket).body, expected);
        }
    }

    void largeFileStreamedWhole()
    {
        // A sparse file with a marker at its end: the body crosses many reads.
        const QString path = m_service.root() + QStringLiteral("/big/package.zip");
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const qint64 size = 48 * 1024 * 1024 + 7;
        QVERIFY(file.resize(size - 3));
        QVERIFY(file.seek(size - 3));
        file.write("END");
        file.close();

        QTcpSocket socket;
        QVERIFY(connectTo(socket, m_service.port()));
        sendRequest(socket, "GET", "/files/varnohub/big/package.zip");
        const Reply reply = readReply(socket);
        QCOMPARE(reply.contentLength, size);
        QCOMPARE(qint64(reply.body.size()), size);
        QVERIFY(reply.body.endsWith("\0\0END"));
        QVERIFY(file.remove());
    }

    void faults_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<bool>("onCommandLine");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("bytes"); // body bytes that arrive
        QTest::addColumn<bool>("closed"); // the service closed the connection
        QTest::addColumn<int>("minimumMs"); // the answer takes at least this long
        // The answer to fault is "0123456789" (10 bytes, written in the catalogue).
        QTest::newRow("status") << "status 503" << false << 503 << 16 << false << 0;
        QTest::newRow("status from the command line") << "status 500" << true << 500 << 16 << false << 0;
        QTest::newRow("close") << "close 4" << false << 200 << 4 << true << 0;
        QTest::newRow("close before the body") << "close 0" << true << 200 << 0 << true << 0;
        QTest::newRow("close after the whole body") << "close 99" << false << 200 << 10 << true << 0;
        QTest::newRow("stall") << "stall 3" << false << 200 << 3 << false << 0;
        QTest::newRow("drip") << "drip 40" << false << 200 << 10 << false << 9 * 40;
        QTest::newRow("latency") << "latency 300" << true << 200 << 10 << false << 300;
        QTest::newRow("garbage") << "garbage 64" << false << 200 << 64 << false << 0;
    }

    void faults()
    {
        QFETCH(QString, rule);
        QFETCH(bool, onCommandLine);
        QFETCH(int, status);
        QFETCH(int, bytes);
        QFETCH(bool, closed);
        QFETCH(int, minimumMs);

        ServiceFixture service;
        QByteArray ini = "[answers]\n/files/varnohub/fault/x.asp => 0123456789\n"
                         "/files/varnohub/other.asp => fine\n";
        QStringList arguments;
        if (onCommandLine)
            arguments << QStringLiteral("--fault") << QStringLiteral("/files/varnohub/fault/=>") + rule;
        else
            ini += "[faults]\n/files/varnohub/fault/ => " + rule.toLatin1() + '\n';
        QVERIFY(service.writeCatalogue(ini));
        QVERIFY(service.start(arguments));

        QTcpSocket socket;
        QVERIFY(connectTo(socket, service.port()));
        QElapsedTimer clock;
        clock.start();
        sendRequest(socket, "GET", "/files/varnohub/fault/x.asp");
        const Reply reply = readReply(socket, 2000);
        QVERIFY(clock.elapsed() >= minimumMs);
        QCOMPARE(reply.status, status);
        QCOMPARE(reply.body.size(), bytes);
        if (rule.startsWith(QLatin1String("close")) || rule.startsWith(QLatin1String("stall")))
            QCOMPARE(reply.contentLength, qint64(10));
        if (!closed && reply.body.size() == reply.contentLength) {
            // A whole answer leaves the connection usable.
            sendRequest(socket, "GET", "/files/varnohub/other.asp");
            QCOMPARE(readReply(socket).body, QByteArray("fine"));
        }
        if (closed)
            QTRY_COMPARE(socket.state(), QAbstractSocket::UnconnectedState);
        if (rule.startsWith(QLatin1String("stall"))) {
            QVERIFY(socket.state() == QAbstractSocket::ConnectedState);
            // Other connections are served meanwhile.
            QCOMPARE(get(service.port(), "/files/varnohub/other.asp").body, QByteArray("fine"));
        }
        // Only the requests under the prefix are touched.
        QCOMPARE(get(service.port(), "/files/varnohub/other.asp").body, QByteArray("fine"));
        QCOMPARE(service.requestLines().constFirst(),
                 QStringLiteral("GET /files/varnohub/fault/x.asp %1").arg(status));
    }

    void firstUsesCountFromTheCatalogueChange()
    {
        // A rule of the command line counts from the start; one of the
        // catalogue from the catalogue's last change, so that a test can
        // keep one service for many scenarios.
        ServiceFixture service;
        const QByteArray answers = "[answers]\n/files/varnohub/a.asp => a\n/files/varnohub/b.asp => b\n";
        QVERIFY(service.writeCatalogue(answers + "[faults]\n/files/varnohub/a.asp => status 503 first 1\n"));
        QVERIFY(service.start(
            { QStringLiteral("--fault"), QStringLiteral("/files/varnohub/b.asp=>status 502 first 1") }));
        const auto statuses = [&service]() {
            return QList<int> { get(service.port(), "/files/varnohub/a.asp").status,
                                get(service.port(), "/files/varnohub/b.asp").status };
        };
        QCOMPARE(statuses(), QList<int>({ 503, 502 }));
        QCOMPARE(statuses(), QList<int>({ 200, 200 }));
        // The same rule in a rewritten catalogue applies again.
        QVERIFY(service.writeCatalogue(answers + "# scenario 2\n[faults]\n/files/varnohub/a.asp => status 503 first 1\n"));
        QCOMPARE(statuses(), QList<int>({ 503, 200 }));
        QCOMPARE(statuses(), QList<int>({ 200, 200 }));
    }

    void stalledClientsThatLeaveFreeTheirConnections()
    {
        // Each stalled answer holds one of a limited number of workers; more
        // clients than workers leave in turn and the service still answers.
        ServiceFixture service;
        QVERIFY(
            service.start({ QStringLiteral("--fault"), QStringLiteral("/files/varnohub/stall=>stall 2") }));
        QVERIFY(service.writeCatalogue("[answers]\n/files/varnohub/stall => 0123456789\n"));
        for (int i = 0; i < 120; ++i) {
            QTcpSocket socket;
            QVERIFY(connectTo(socket, service.port()));
            sendRequest(socket, "GET", "/files/varnohub/stall");
            QCOMPARE(readReply(socket, 2000, 2).body, QByteArray("01"));
            socket.abort();
        }
        QCOMPARE(get(service.port(), "/files/varnohub/datetime_ov.asp").status, 200);
    }

    void latencyForEveryRequest()
    {
        ServiceFixture service;
        QVERIFY(service.start({ QStringLiteral("--latency-ms"), QStringLiteral("250") }));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(get(service.port(), "/files/varnohub/datetime_ov.asp").status, 200);
        QVERIFY(clock.elapsed() >= 250);
    }

    void stopsPromptlyWithOpenConnections()
    {
        if (TestSystem::underWine())
            QSKIP("under Wine a worker waiting on a stalled connection is not woken by its shutdown");
        // Started by hand to see how it ends.
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QFile file(root.filePath(QStringLiteral("file.bin")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(100000, 'x')) == 100000);
        file.close();
        QProcess process;
        process.start(QStringLiteral(UPDATE_HUB_SERVICE_BIN),
                      { QStringLiteral("--root"), root.path(), QStringLiteral("--port"), QStringLiteral("0"),
                        QStringLiteral("--fault"), QStringLiteral("/files/varnohub/file.bin=>stall 10"),
                        QStringLiteral("--watch-stdin") });
        QVERIFY(process.waitForReadyRead(10000));
        const quint16 port = quint16(process.readLine().trimmed().toUInt());
        QVERIFY(port != 0);

        QTcpSocket idle, stalled;
        QVERIFY(connectTo(idle, port));
        sendRequest(idle, "GET", "/files/varnohub/datetime_ov.asp");
        QCOMPARE(readReply(idle).status, 200);
        QVERIFY(connectTo(stalled, port));
        sendRequest(stalled, "GET", "/files/varnohub/file.bin");
        QCOMPARE(readReply(stalled, 300).body.size(), 10);

        QElapsedTimer clock;
        clock.start();
        // A console program on Windows gets no close request from
        // terminate(): there it is told to end by closing its input.
        if (QOperatingSystemVersion::currentType() == QOperatingSystemVersion::Windows)
            process.closeWriteChannel();
        else
            process.terminate();
        QVERIFY(process.waitForFinished(5000));
        QVERIFY2(clock.elapsed() < 2000, QByteArray::number(clock.elapsed()).constData());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QTRY_COMPARE(stalled.state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(idle.state(), QAbstractSocket::UnconnectedState);
    }

    void demoCatalogueServesAWholeRun()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        QCOMPARE(runService({ QStringLiteral("--make-demo"), folder.path() }), 0);
        ServiceFixture service(folder.path());
        QVERIFY(service.start());
        const quint16 port = service.port();
        const QByteArray r = "/files/varnohub/";

        const QList<QByteArray> fields
            = get(port, r + "get_custom_redirection.asp?customization=praxo").body.split(';');
        QCOMPARE(fields.size(), 8);
        for (int i = 0; i <= 4; ++i)
            QVERIFY(!fields.at(i).isEmpty());
        QCOMPARE(get(port, r + fields.at(1) + "/update_software_varno_update/pc/ver_update.txt").body,
                 QByteArray("3.65"));
        QVERIFY(get(port, r + fields.at(1) + "/update_software_varno_update/language_list.ini")
                    .body.contains("count=2"));
        QVERIFY(get(port, r + "login.asp?password=DEMO0001").body.startsWith("OK\r\nSN="));

        // Every package a first run is offered exists and is a sound archive.
        const QByteArray software = r + fields.at(0) + "/software_varno/";
        QByteArrayList entries { software + "languages/translations.zip:varno_pc",
                                 software + "pc/release_0-" + get(port, software + "pc/version_pc.txt").body
                                     + ".zip:varno_pc",
                                 software + "palm/release_0-"
                                     + get(port, software + "palm/version_palm.txt").body + ".zip:varno_palm",
                                 r + fields.at(6) + "/0.zip:" + fields.at(6),
                                 r + "pal_ov_balloon/balloon.zip:balloon" };
        for (const QByteArray &product : { QByteArray("standard_product"), QByteArray("moto_files") }) {
            const QByteArray bbad = get(port,
                                        r + "get_filebbad2download.asp?password=DEMO0001&bbadversion=0&wdir="
                                            + product + "&customization=praxo")
                                        .body;
            QVERIFY(!bbad.contains("NOT FOUND"));
            entries += bbad.split('\r');
            for (const QByteArray &language : { QByteArray("ita"), QByteArray("eng") }) {
                const QByteArray target = r + "get_file2download.asp?password=DEMO0001&language=" + language
                    + "&adversion=0&mitversion=0&id_product_active=" + product + "&customization=praxo";
                const QByteArray answer = get(port, target).body;
                QCOMPARE(answer.count(".zip:"), 2);
                entries += answer.split('\r');
                QCOMPARE(get(port, QByteArray(target).replace("adversion=0", "adversion=1.10")).body,
                         QByteArray());
            }
        }
        const bool canTest = QFileInfo::exists(QStringLiteral(UPDATE_HUB_HOST_ROOT "/usr/bin/unzip"));
        for (QByteArray entry : entries) {
            entry = entry.trimmed();
            const QByteArray path = entry.left(entry.indexOf(':'));
            QVERIFY2(get(port, r + "get_filesize.asp?file=" + path).body.toLongLong() > 0, entry.constData());
            if (canTest) {
                QVERIFY2(TestSystem::runHostProgram(
                             QStringLiteral("unzip"),
                             { QStringLiteral("-tq"), folder.filePath(QString::fromLatin1(path.mid(r.size()))) },
                             folder.path())
                             == 0,
                         entry.constData());
            }
        }
    }

    void manualPackageOfTheDemoCatalogue()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString catalogue = folder.filePath(QStringLiteral("catalogue"));
        const QString zip = folder.filePath(QStringLiteral("manual.zip"));
        QCOMPARE(runService({ QStringLiteral("--make-demo"), catalogue }), 0);
        QByteArray output;
        QCOMPARE(
            runService({ QStringLiteral("--make-manual-package"), zip, QStringLiteral("--root"), catalogue },
                       &output),
            0);
        QVERIFY2(!QFile::exists(zip + QStringLiteral(".part")), output.constData());

        ExtractedPackage package(zip);
        QVERIFY(package.extracted);
        // Everything a first run downloads for the PC and the card, named and
        // ordered as the download run does it: databases after the others,
        // the notifier last, diagnosis software marked for its own folder.
        const QStringList archives {
            QStringLiteral("varno_pc_translations.zip"),
            QStringLiteral("varno_pc_flags_pc.zip"),
            QStringLiteral("varno_pc_release_0-3.70.zip"),
            QStringLiteral("varno_palm_translations.zip"),
            QStringLiteral("varno_palm_flags_pc.zip"),
            QStringLiteral("varno_palm_release_0-2.10.zip"),
            QStringLiteral("bbadfile_pc_bbad_auto_1.10.zip:bbad"),
            QStringLiteral("adfiles_ita_pc_ad_auto_ita_1.10.zip"),
            QStringLiteral("mitfiles_pc_mit_auto_ita_1.10.zip"),
            QStringLiteral("adfiles_eng_pc_ad_auto_eng_1.10.zip"),
            QStringLiteral("mitfiles_pc_mit_auto_eng_1.10.zip"),
            QStringLiteral("moto_filesbbadfile_pc_bbad_moto_1.10.zip:bbad"),
            QStringLiteral("moto_filesadfiles_ita_pc_ad_moto_ita_1.10.zip"),
            QStringLiteral("moto_filesmitfiles_pc_mit_moto_ita_1.10.zip"),
            QStringLiteral("moto_filesadfiles_eng_pc_ad_moto_eng_1.10.zip"),
            QStringLiteral("moto_filesmitfiles_pc_mit_moto_eng_1.10.zip"),
            QStringLiteral("database_auto_0.zip"),
            QStringLiteral("balloon_balloon.zip:balloon"),
        };
        QCOMPARE(package.manifestFiles(), archives);

        // The zip holds the two manifests and exactly the archives they name,
        // each one the catalogue's package byte for byte and sound.
        QStringList expectedFiles { QStringLiteral("syslang.ini"), QStringLiteral("update.ini") };
        for (const QString &value : archives)
            expectedFiles << value.section(QLatin1Char(':'), 0, 0);
        expectedFiles.sort();
        QCOMPARE(package.files(), expectedFiles);
        const QDir root(catalogue);
        const QList<QPair<QString, QString>> sources {
            { QStringLiteral("varno_pc_release_0-3.70.zip"),
              QStringLiteral("praxo/software_varno/pc/release_0-3.70.zip") },
            { QStringLiteral("varno_palm_flags_pc.zip"),
              QStringLiteral("praxo/software_varno/languages/flags_pc.zip") },
            { QStringLiteral("moto_filesadfiles_eng_pc_ad_moto_eng_1.10.zip"),
              QStringLiteral("praxo/moto_files/ad/moto/eng/ad_moto_eng_1.10.zip") },
            { QStringLiteral("database_auto_0.zip"), QStringLiteral("database_auto/0.zip") },
            { QStringLiteral("balloon_balloon.zip"), QStringLiteral("pal_ov_balloon/balloon.zip") },
        };
        for (const auto &source : sources) {
            const QByteArray packed = fileBytes(package.work.filePath(source.first));
            QVERIFY2(!packed.isEmpty() && packed == fileBytes(root.filePath(source.second)),
                     qPrintable(source.first));
        }
        for (const QString &name : expectedFiles) {
            if (name.endsWith(QLatin1String(".zip")))
                QVERIFY2(TZipFile::TestArchive(package.work.filePath(name)), qPrintable(name));
        }

        // The values the catalogue gives a first run.
        TIniFiles &manifest = *package.manifest;
        QCOMPARE(manifest.readInt(QStringLiteral("product"), QStringLiteral("num_product"), 10, 0), 2);
        QCOMPARE(manifest.readString(QStringLiteral("product"), QStringLiteral("idproduct_0"),
                                     QStringLiteral("?")),
                 QString());
        QCOMPARE(manifest.readString(QStringLiteral("product"), QStringLiteral("idproduct_1")),
                 QStringLiteral("moto_files"));
        QVERIFY(!manifest.contains(QStringLiteral("product/idproduct_2")));
        for (const char *group : { "pc_update_ad", "pc_update_mit" }) {
            for (const char *key : { "ita", "eng", "moto_filesita", "moto_fileseng" })
                QCOMPARE(manifest.readString(QLatin1String(group), QLatin1String(key)),
                         QStringLiteral("0 - 1.10"));
        }
        TIniFiles &syslang = *package.syslang;
        QCOMPARE(syslang.readString(QStringLiteral("lingua"), QStringLiteral("sel")), QStringLiteral("ita"));
        QCOMPARE(syslang.readString(QStringLiteral("lingua"), QStringLiteral("def")), QStringLiteral("eng"));
        QCOMPARE(syslang.readUtf8String(QStringLiteral("lingua"), QStringLiteral("description_sel")),
                 QStringLiteral("Italiano"));
        QCOMPARE(syslang.readUtf8String(QStringLiteral("lingua"), QStringLiteral("description_def")),
                 QStringLiteral("English"));
        QCOMPARE(syslang.readString(QStringLiteral("release"), QString()), QStringLiteral("1.10"));
        QCOMPARE(syslang.readString(QStringLiteral("release"), QStringLiteral("moto_files")),
                 QStringLiteral("1.10"));
        QCOMPARE(syslang.readString(QStringLiteral("ad"), QStringLiteral("eng")), QStringLiteral("1.10"));
        QCOMPARE(syslang.readString(QStringLiteral("mitmoto_files"), QStringLiteral("ita")),
                 QStringLiteral("1.10"));
        QCOMPARE(syslang.readString(QStringLiteral("database_auto"), QStringLiteral("version")),
                 QStringLiteral("1.05"));

        // Without a catalogue the demo one is made for the occasion: the same package.
        const QString fromDemo = folder.filePath(QStringLiteral("demo.zip"));
        QCOMPARE(runService({ QStringLiteral("--make-manual-package"), fromDemo }), 0);
        ExtractedPackage demo(fromDemo);
        QVERIFY(demo.extracted);
        QCOMPARE(demo.manifestFiles(), archives);
        QCOMPARE(demo.files(), expectedFiles);
    }

    void manualPackageFollowsTheCatalogue()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString catalogue = folder.filePath(QStringLiteral("catalogue"));
        QCOMPARE(runService({ QStringLiteral("--make-demo"), catalogue }), 0);
        const QDir root(catalogue);
        auto write = [&](const QString &relative, const QByteArray &content) {
            QFile file(root.filePath(relative));
            return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                && file.write(content) == content.size();
        };
        // A newer database, no notifier, a third release of the motorbike's
        // data in one language, the car's highest release answered by an
        // override, and English chosen first.
        QVERIFY(write(QStringLiteral("database_auto/version.txt"), "2.00\r\n"));
        QVERIFY(write(QStringLiteral("pal_ov_balloon/version.txt"), "0"));
        // The new release list goes before the demo's lines, which match any language.
        QByteArray ini = fileBytes(root.filePath(QStringLiteral("service.ini")));
        QVERIFY(ini.contains("[bbad_releases]\n"));
        ini.replace("[bbad_releases]\n",
                    "[bbad_releases]\neng|moto_files|praxo => 1.00\\r\\n1.10\\r\\n1.15\\r\\n\n");
        ini += "\n[answers]\n/files/varnohub/get_max_bbad_release.asp?workdir_product=&customization=praxo "
               "=> 1.30\n";
        QVERIFY(write(QStringLiteral("service.ini"), ini));

        const QString zip = folder.filePath(QStringLiteral("manual.zip"));
        QByteArray output;
        QCOMPARE(runService({ QStringLiteral("--make-manual-package"), zip, QStringLiteral("--root"),
                              catalogue, QStringLiteral("--languages"), QStringLiteral("eng,ita"),
                              QStringLiteral("--account"), QStringLiteral("DEMO-0001") },
                            &output),
                 0);
        ExtractedPackage package(zip);
        QVERIFY(package.extracted);
        const QStringList files = package.manifestFiles();
        QCOMPARE(files.size(), 17);
        QCOMPARE(files.last(), QStringLiteral("database_auto_0.zip"));
        QVERIFY(!package.files().contains(QStringLiteral("balloon_balloon.zip")));
        // English first: its packages come before the Italian ones.
        QVERIFY(files.indexOf(QStringLiteral("adfiles_eng_pc_ad_auto_eng_1.10.zip"))
                < files.indexOf(QStringLiteral("adfiles_ita_pc_ad_auto_ita_1.10.zip")));

        TIniFiles &manifest = *package.manifest;
        QCOMPARE(manifest.readString(QStringLiteral("pc_update_ad"), QStringLiteral("moto_fileseng")),
                 QStringLiteral("0 - 1.15"));
        QCOMPARE(manifest.readString(QStringLiteral("pc_update_ad"), QStringLiteral("moto_filesita")),
                 QStringLiteral("0 - 1.10"));
        QCOMPARE(manifest.readString(QStringLiteral("pc_update_mit"), QStringLiteral("moto_fileseng")),
                 QStringLiteral("0 - 1.10"));
        TIniFiles &syslang = *package.syslang;
        QCOMPARE(syslang.readString(QStringLiteral("lingua"), QStringLiteral("sel")), QStringLiteral("eng"));
        QCOMPARE(syslang.readUtf8String(QStringLiteral("lingua"), QStringLiteral("description_sel")),
                 QStringLiteral("English"));
        QCOMPARE(syslang.readUtf8String(QStringLiteral("lingua"), QStringLiteral("description_def")),
                 QStringLiteral("Italiano"));
        QCOMPARE(syslang.readString(QStringLiteral("admoto_files"), QStringLiteral("eng")),
                 QStringLiteral("1.15"));
        QCOMPARE(syslang.readString(QStringLiteral("release"), QString()), QStringLiteral("1.30"));
        QCOMPARE(syslang.readString(QStringLiteral("database_auto"), QStringLiteral("version")),
                 QStringLiteral("2.00"));
    }

    void manualPackageRefusesWhatWouldNotInstall_data()
    {
        QTest::addColumn<QString>("removed"); // a file of the demo catalogue taken away
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("a package a download answer names")
            << QStringLiteral("praxo/moto_files/ad/moto/eng/ad_moto_eng_1.10.zip") << QStringList();
        QTest::newRow("the PC software version")
            << QStringLiteral("praxo/software_varno/pc/version_pc.txt") << QStringList();
        QTest::newRow("the catalogue itself") << QStringLiteral("service.ini") << QStringList();
        QTest::newRow("an unknown customization")
            << QString() << QStringList { QStringLiteral("--customization"), QStringLiteral("other") };
        QTest::newRow("no language list")
            << QStringLiteral("praxo/update_software_varno_update/language_list.ini") << QStringList();
    }

    void manualPackageRefusesWhatWouldNotInstall()
    {
        QFETCH(QString, removed);
        QFETCH(QStringList, arguments);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString catalogue = folder.filePath(QStringLiteral("catalogue"));
        QCOMPARE(runService({ QStringLiteral("--make-demo"), catalogue }), 0);
        if (!removed.isEmpty())
            QVERIFY(QFile::remove(QDir(catalogue).filePath(removed)));
        const QString zip = folder.filePath(QStringLiteral("manual.zip"));
        QVERIFY(fileBytes(zip).isEmpty());
        QVERIFY(QFile(zip).open(QIODevice::WriteOnly)); // an older package of that name is not replaced
        QByteArray output;
        QCOMPARE(runService(QStringList { QStringLiteral("--make-manual-package"), zip,
                                          QStringLiteral("--root"), catalogue }
                                + arguments,
                            &output),
                 1);
        QVERIFY2(QFileInfo(zip).size() == 0, output.constData());
        QVERIFY(!QFile::exists(zip + QStringLiteral(".part")));

        // The same catalogue with the languages named still needs its list only for their names.
        if (removed.endsWith(QLatin1String("language_list.ini"))) {
            QCOMPARE(runService({ QStringLiteral("--make-manual-package"), zip, QStringLiteral("--root"),
                                  catalogue, QStringLiteral("--languages"), QStringLiteral("ita,eng") }),
                     0);
            ExtractedPackage package(zip);
            QCOMPARE(
                package.syslang->readUtf8String(QStringLiteral("lingua"), QStringLiteral("description_sel")),
                QStringLiteral("ita"));
        }
    }

private:
    ServiceFixture m_service;
};

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
