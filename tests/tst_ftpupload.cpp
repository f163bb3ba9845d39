// FTP upload against a real server on loopback: bytes arrive intact under the
// final name, every refusal is reported as a failure, and a server that stops
// answering ends the wait within the time-outs while the event loop keeps running.
#include "service/ftpupload.h"
#include "support/ftpfixture.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const QString folder = QStringLiteral("varnohub/log/versione");

QByteArray binaryContent()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    bytes += "line\r\nline\nline\r\r\n";
    // Large enough to need many reads of the upload buffer.
    QByteArray noise(300 * 1024, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (char &c : noise)
        c = static_cast<char>(generator.bounded(256));
    return bytes + noise;
}

FtpUpload::Request requestFor(int port)
{
    FtpUpload::Request request;
    request.host = QStringLiteral("127.0.0.1");
    request.port = port;
    request.user = QStringLiteral("drumelfask");
    request.password = QStringLiteral("vilta");
    request.folder = folder;
    request.content = binaryContent();
    request.temporaryName = QStringLiteral("SN1_2026-12-08_10-11-12_versione.tmp");
    request.finalName = QStringLiteral("SN1_2026-12-08_10-11-12_versione.db");
    request.connectTimeout = 5;
    request.responseTimeout = 2;
    request.lowSpeedTime = 2;
    return request;
}

/// A server that accepts connections and then answers from a script: each
/// line the client sends gets the next scripted reply; when the script runs
/// out it stays silent with the connection open.
class ScriptedServer : public QObject
{
public:
    explicit ScriptedServer(QList<QByteArray> script)
        : m_script(std::move(script))
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                m_sockets.emplace_back(socket);
                if (!m_script.isEmpty())
                    socket->write(m_script.takeFirst());
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    while (socket->canReadLine()) {
                        socket->readLine();
                        if (!m_script.isEmpty())
                            socket->write(m_script.takeFirst());
                    }
                });
            }
        });
    }
    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    int port() const { return m_server.serverPort(); }

private:
    QTcpServer m_server;
    QList<QByteArray> m_script;
    std::vector<std::unique_ptr<QTcpSocket>> m_sockets;
};

} // namespace

class TestFtpUpload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void uploadsBytesUnderFinalName();
    void refusalsAreFailures_data();
    void refusalsAreFailures();
    void silentServerEndsWithinTimeouts_data();
    void silentServerEndsWithinTimeouts();
};

void TestFtpUpload::initTestCase()
{
    if (!FtpFixture::available())
        QSKIP("/usr/bin/python3 with pyftpdlib is not installed");
}

void TestFtpUpload::uploadsBytesUnderFinalName()
{
    FtpFixture server(QStringLiteral("drumelfask"), QStringLiteral("vilta"));
    QVERIFY(server.start());
    QVERIFY(server.makeDir(folder));
    // A proxy from the environment must not divert the direct connection.
    qputenv("ftp_proxy", "http://127.0.0.1:1");
    qputenv("all_proxy", "http://127.0.0.1:1");

    const FtpUpload::Request request = requestFor(server.port());
    const FtpUpload::Result result = FtpUpload::upload(request);
    qunsetenv("ftp_proxy");
    qunsetenv("all_proxy");

    QVERIFY2(result.ok, qPrintable(result.message));
    QCOMPARE(server.fileNames(folder), QStringList { request.finalName });
    const QByteArray stored = server.readFile(folder + QLatin1Char('/') + request.finalName);
    QCOMPARE(stored.size(), request.content.size());
    QVERIFY(stored == request.content);
}

void TestFtpUpload::refusalsAreFailures_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("makeFolder");
    QTest::addColumn<QString>("makeInFolder");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("finalName");
    QTest::addColumn<QStringList>("leftInFolder");

    const QString tmp = QStringLiteral("SN1_2026-12-08_10-11-12_versione.tmp");
    const QString db = QStringLiteral("SN1_2026-12-08_10-11-12_versione.db");
    QTest::newRow("login refused") << "wrong" << folder << ""
                                   << "127.0.0.1" << db << QStringList();
    QTest::newRow("folder missing") << "vilta"
                                    << "varnohub/log"
                                    << ""
                                    << "127.0.0.1" << db << QStringList();
    // A folder in the way of the temporary name makes the server refuse the store.
    QTest::newRow("store refused") << "vilta" << folder << tmp << "127.0.0.1" << db << QStringList { tmp };
    // A folder in the way of the final name makes the server refuse the rename.
    QTest::newRow("rename refused") << "vilta" << folder << db << "127.0.0.1" << db
                                    << QStringList { db, tmp };
    QTest::newRow("command in name") << "vilta" << folder << ""
                                     << "127.0.0.1"
                                     << "x.db\r\nDELE " + tmp << QStringList();
    QTest::newRow("path in host") << "vilta" << folder << ""
                                  << "127.0.0.1/varnohub" << db << QStringList();
}

void TestFtpUpload::refusalsAreFailures()
{
    QFETCH(QString, password);
    QFETCH(QString, makeFolder);
    QFETCH(QString, makeInFolder);
    QFETCH(QString, host);
    QFETCH(QString, finalName);
    QFETCH(QStringList, leftInFolder);

    FtpFixture server(QStringLiteral("drumelfask"), QStringLiteral("vilta"));
    QVERIFY(server.start());
    QVERIFY(server.makeDir(makeFolder));
    if (!makeInFolder.isEmpty())
        QVERIFY(server.makeDir(folder + QLatin1Char('/') + makeInFolder));

    FtpUpload::Request request = requestFor(server.port());
    request.password = password;
    request.host = host;
    request.finalName = finalName;
    const FtpUpload::Result result = FtpUpload::upload(request);
    QVERIFY(!result.ok);
    QVERIFY(!result.message.isEmpty());

    QStringList left = QDir(server.root() + QLatin1Char('/') + folder)
                           .entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    QCOMPARE(left, leftInFolder);
}

void TestFtpUpload::silentServerEndsWithinTimeouts_data()
{
    QTest::addColumn<QList<QByteArray>>("script");
    QTest::newRow("no greeting") << QList<QByteArray> {};
    QTest::newRow("silent after folder change")
        << QList<QByteArray> { "220 ready\r\n", "331 password\r\n", "230 in\r\n", "257 \"/\"\r\n",
                               "250 ok\r\n" };
}

void TestFtpUpload::silentServerEndsWithinTimeouts()
{
    QFETCH(QList<QByteArray>, script);
    ScriptedServer server(script);
    QVERIFY(server.listen());

    // The wait runs a local event loop: the server above and this timer are served during it.
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, [&ticks] { ++ticks; });
    timer.start(100);

    QElapsedTimer clock;
    clock.start();
    const FtpUpload::Result result = FtpUpload::upload(requestFor(server.port()));
    QVERIFY(!result.ok);
    QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(ticks >= 5);
}

QTEST_GUILESS_MAIN(TestFtpUpload)
#include "tst_ftpupload.moc"
