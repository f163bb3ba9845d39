// The service client against the reference update service on loopback: the
// request lines as the service logged them, answers and sentinels, the status
// rules, part-file downloads and their failures, uploads, time-outs and the
// proxy, and one connection for a whole series of requests.
#include "service/packagedownload.h"
#include "service/thttp.h"
#include "support/servicefixture.h"
#include "support/workspace.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// A free loopback port with nobody listening on it.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// One test's world: a working folder, the service, and a client whose
// http_server.ini points at the service.
struct Setup
{
    TestWorkspace ws;
    ServiceFixture service;
    std::unique_ptr<THttp> http;

    bool start(const QByteArray &catalogue = QByteArray(), const QByteArray &extraIni = QByteArray())
    {
        if (!catalogue.isEmpty() && !service.writeCatalogue(catalogue))
            return false;
        if (!service.start())
            return false;
        if (!ServiceFixture::writeHttpServerIni(ws.path(), service.port(), QStringLiteral("custom"),
                                                extraIni))
            return false;
        http = std::make_unique<THttp>();
        return true;
    }

    // The logged requests as "METHOD TARGET", without the status.
    QStringList requests() const
    {
        QStringList lines = service.requestLines();
        for (QString &line : lines)
            line = line.left(line.lastIndexOf(QLatin1Char(' ')));
        return lines;
    }
};

using Call = std::function<QString(THttp &)>;

} // namespace

Q_DECLARE_METATYPE(Call)

class TestTHttp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
#ifndef UPDATE_HUB_SERVICE_BIN
        QSKIP("the reference service is not built");
#endif
    }

    void requestLines_data()
    {
        QTest::addColumn<Call>("call");
        QTest::addColumn<QString>("target");
        const QString root = QStringLiteral("/files/varnohub/");
        QTest::newRow("login, dashes removed")
            << Call([](THttp &h) { return h.login(QStringLiteral("DE-MO-0001")); })
            << root + "login.asp?password=DEMO0001";
        QTest::newRow("login without dashes")
            << Call([](THttp &h) { return h.login(QStringLiteral("DEMO0001")); })
            << root + "login.asp?password=DEMO0001";
        QTest::newRow("user data, three words") << Call([](THttp &h) {
            return h.updateUserData(QStringLiteral("A-1"), QStringLiteral("rivenditore"),
                                    QStringLiteral("Tre Parole Qui"));
        }) << root + "update_user_data.asp?password=A1&data2update=rivenditore&value=Tre%20Parole%20Qui";
        QTest::newRow("user data, characters of a query") << Call([](THttp &h) {
            return h.updateUserData(QStringLiteral("A1"), QStringLiteral("ragione_sociale"),
                                    QStringLiteral("Rossi & Figli=100%+"));
        })
                                                          << root
                + "update_user_data.asp?password=A1&data2update=ragione_sociale&value=Rossi%20%26%20Figli%"
                  "3D100%25%2B";
        QTest::newRow("redirection") << Call([](THttp &h) { return h.getCustomRedirection(); })
                                     << root + "get_custom_redirection.asp?customization=custom";
        QTest::newRow("bbad releases, car product sent empty")
            << Call([](THttp &h) { return h.getBbadReleases(QStringLiteral("ita"), QString()); })
            << root + "get_bbad_releases.asp?language=ita&workdir_product=&customization=custom";
        QTest::newRow("mit releases")
            << Call([](THttp &h) { return h.getMitReleases(QStringLiteral("eng"), QStringLiteral("moto")); })
            << root + "get_mit_releases.asp?language=eng&workdir_product=moto&customization=custom";
        QTest::newRow("product names") << Call([](THttp &h) { return h.getProductNames(); })
                                       << root + "get_product_names.asp?customization=custom";
        QTest::newRow("max bbad release, caller's key") << Call([](THttp &h) {
            return h.getMaxBbadRelease(QStringLiteral("truck"), QStringLiteral("soft"));
        }) << root + "get_max_bbad_release.asp?workdir_product=truck&customization=soft";
        QTest::newRow("bbad downloads, values normalised") << Call([](THttp &h) {
            return h.getFileBbad2Download(QStringLiteral("A-1"), QStringLiteral("NOT FOUND"), QString(),
                                          QStringLiteral("soft"));
        })
                                                           << root
                + "get_filebbad2download.asp?password=A1&bbadversion=0&wdir=standard_product&customization="
                  "soft";
        QTest::newRow("downloads, values normalised") << Call([](THttp &h) {
            return h.getFile2Download(QStringLiteral("A-1"), QStringLiteral("ita"),
                                      QStringLiteral("NOT FOUND"), QString(), QString(),
                                      QStringLiteral("soft"));
        })
                                                      << root
                + "get_file2download.asp?password=A1&language=ita&adversion=0&mitversion=0"
                  "&id_product_active=standard_product&customization=soft";
        QTest::newRow("downloads, values kept") << Call([](THttp &h) {
            return h.getFile2Download(QStringLiteral("A1"), QStringLiteral("ita"), QStringLiteral("2.10"),
                                      QStringLiteral("1.5"), QStringLiteral("moto"), QStringLiteral("soft"));
        })
                                                << root
                + "get_file2download.asp?password=A1&language=ita&adversion=2.10&mitversion=1.5"
                  "&id_product_active=moto&customization=soft";
        QTest::newRow("file size, path part of the entry") << Call([](THttp &h) {
            return QString::number(h.getFileSize(QStringLiteral("/files/varnohub/db/0.zip:db:x")));
        }) << root + "get_filesize.asp?file=/files/varnohub/db/0.zip";
        QTest::newRow("sizes of a list, one request per entry")
            << Call([](THttp &h) {
                   return QString::number(h.sumFileSizes({ QStringLiteral("/files/varnohub/a.zip:varno_pc"),
                                                           QStringLiteral("/files/varnohub/db/0.zip:db") }));
               })
            << root + "get_filesize.asp?file=/files/varnohub/a.zip\n" + root
                + "get_filesize.asp?file=/files/varnohub/db/0.zip";
        QTest::newRow("download into a file, path as built") << Call([](THttp &h) {
            return QString::number(h.getToFile(QStringLiteral("/files/varnohub/praxo/pc/release_0-3.70.zip"),
                                               QStringLiteral("release.zip")));
        }) << root + "praxo/pc/release_0-3.70.zip";
        QTest::newRow("service date")
            << Call([](THttp &h) { return h.getDateTimeMs(); }) << root + "datetime_ms.asp";
        QTest::newRow("service stamp")
            << Call([](THttp &h) { return h.getDateStamp(); }) << root + "datetime_ov.asp";
        QTest::newRow("updater version file")
            << Call([](THttp &h) { return QString::number(h.isUpdaterNewer(3.65)); })
            << root + "custom/update_software_varno_update/pc/ver_update.txt";
        // Values are sent as their Latin-1 bytes, everything that could cut
        // the query encoded once; the log holds the target as received.
        QTest::newRow("login, Latin-1 account code")
            << Call([](THttp &h) { return h.login(QString::fromUtf8("CAFF-È#1")); })
            << root + "login.asp?password=CAFF%C8%231";
        QTest::newRow("user data, accents and reserved characters") << Call([](THttp &h) {
            return h.updateUserData(QStringLiteral("A1"), QStringLiteral("ragione_sociale"),
                                    QString::fromUtf8("Società #1/2 50% €"));
        }) << root + "update_user_data.asp?password=A1&data2update=ragione_sociale&value=Societ%E0%20%231%2F2%2050%25%20%3F";
        QTest::newRow("downloads, every value encoded") << Call([](THttp &h) {
            return h.getFile2Download(QStringLiteral("a&b"), QString::fromUtf8("ità"), QStringLiteral("1+1"),
                                      QStringLiteral("2=2"), QStringLiteral("p#q"), QStringLiteral("k%"));
        }) << root + "get_file2download.asp?password=a%26b&language=it%E0&adversion=1%2B1&mitversion=2%3D2"
                     "&id_product_active=p%23q&customization=k%25";
        QTest::newRow("file size, package path with an accent and #") << Call([](THttp &h) {
            return QString::number(h.getFileSize(QString::fromUtf8("/files/varnohub/p/caffè#2.zip:x")));
        }) << root + "get_filesize.asp?file=/files/varnohub/p/caff%E8%232.zip";
        QTest::newRow("download, package path with an accent, # and a lone %") << Call([](THttp &h) {
            return QString::number(h.getToFile(QString::fromUtf8("/files/varnohub/p/caffè#100%.zip"),
                                               QStringLiteral("p.zip")));
        }) << root + "p/caff%E8%23100%25.zip";
        QTest::newRow("path already encoded is not encoded again")
            << Call([](THttp &h) { return h.getText(QStringLiteral("/files/varnohub/a%20b.txt?x=1%262+3")); })
            << root + "a%20b.txt?x=1%262+3";
    }

    void requestLines()
    {
        QFETCH(Call, call);
        QFETCH(QString, target); // one line per request
        Setup s;
        QVERIFY(s.start());
        call(*s.http);
        QStringList expected;
        for (const QString &line : target.split(QLatin1Char('\n')))
            expected << QLatin1String("GET ") + line;
        QCOMPARE(s.requests(), expected);
    }

    void answersAndSentinels()
    {
        Setup s;
        QVERIFY(
            s.start("[account DEMO0001]\nRAGIONE SOCIALE => Caff\\xe8 Rossi\n"
                    "[service]\ndatetime_ms => 2026-12-08 10:11:12.345\ndatetime_ov => 08/12/2026\n"
                    "[answers]\n/files/varnohub/get_filesize.asp?file=big.zip => 3600000000\n"
                    "/files/varnohub/get_filesize.asp?file=odd.zip => 12 bytes\n"
                    "/files/varnohub/custom/update_software_varno_update/pc/ver_update.txt => 3.70\\r\\n\n"));
        THttp &http = *s.http;

        // Latin-1 text, lines as sent.
        QCOMPARE(http.login(QStringLiteral("DEMO-0001")),
                 QStringLiteral("OK\r\nRAGIONE SOCIALE=Caff\u00e8 Rossi"));
        QCOMPARE(http.statusCode(), 200);
        QVERIFY(http.login(QStringLiteral("NOBODY")).contains(QLatin1String("NO USER FOUND")));
        // A value sent back comes back unchanged, run after run.
        const QString company = QString::fromUtf8("Societ\u00e0 #1 & 50%+x=y");
        for (int run = 0; run < 2; ++run) {
            const QString login = http.login(QStringLiteral("DEMO-0001"));
            QVERIFY(http.updateUserData(QStringLiteral("DEMO-0001"), QStringLiteral("ragione_sociale"),
                                        run == 0 ? company : login.section(QLatin1Char('='), 1))
                        .contains(QLatin1String("UPDATED")));
            QCOMPARE(http.login(QStringLiteral("DEMO-0001")), QStringLiteral("OK\r\nRAGIONE SOCIALE=") + company);
        }
        QVERIFY(http.getFile2Download(QStringLiteral("A1"), QStringLiteral("ita"), QString(), QString(),
                                      QString(), QStringLiteral("praxo"))
                    .contains(QLatin1String("NOT FOUND")));

        // Sizes: beyond 32 bits, -1 for a missing file, 0 for what is no number.
        QVERIFY(s.service.writeFile(QStringLiteral("pkg/a.zip"), QByteArray(1500, 'a')));
        QCOMPARE(http.getFileSize(QStringLiteral("big.zip:x")), Q_INT64_C(3600000000));
        QCOMPARE(http.getFileSize(QStringLiteral("/files/varnohub/pkg/a.zip:work")), qint64(1500));
        QCOMPARE(http.getFileSize(QStringLiteral("/files/varnohub/pkg/none.zip:work")), qint64(-1));
        // A size that is no number, an error page or a dropped answer is unknown: -1.
        QCOMPARE(http.getFileSize(QStringLiteral("odd.zip")), qint64(-1));

        // The sum is never cleared: a second call adds to the first.
        const QStringList entries { QStringLiteral("big.zip:x"),
                                    QStringLiteral("/files/varnohub/pkg/a.zip:work") };
        QCOMPARE(http.sumFileSizes(entries), Q_INT64_C(3600001500));
        QCOMPARE(http.sumFileSizes(entries), Q_INT64_C(7200003000));
        QCOMPARE(http.expected(), Q_INT64_C(7200003000));
        QCOMPARE(http.filesCounted(), 2);
        // An unknown size adds nothing to the sum.
        QCOMPARE(http.sumFileSizes({ QStringLiteral("odd.zip") }), Q_INT64_C(7200003000));

        // Dates: the last character dropped; a stamp written otherwise is refused.
        QCOMPARE(http.getDateTimeMs(), QStringLiteral("2026-12-08 10:11:12.345"));
        QCOMPARE(http.getDateStamp(), QString());

        QVERIFY(http.isUpdaterNewer(3.65));
        QVERIFY(!http.isUpdaterNewer(3.7));
        QVERIFY(!http.isUpdaterNewer(3.71));
    }

    void statusRules()
    {
        Setup s;
        QVERIFY(s.start("[faults]\n/files/varnohub/err => status 500\n/files/varnohub/stall => stall 0\n",
                        "stall_timeout=1\n"));
        THttp &http = *s.http;
        QVERIFY(s.service.writeFile(QStringLiteral("ok.txt"), "fine"));

        // An HTTP error is an answer: status and body are kept.
        QCOMPARE(http.getText(QStringLiteral("/files/varnohub/missing.txt")), QStringLiteral("NOT FOUND"));
        QCOMPARE(http.statusCode(), 404);
        QCOMPARE(http.getText(QStringLiteral("/files/varnohub/err")), QStringLiteral("FAULT STATUS 500"));
        QCOMPARE(http.statusCode(), 500);

        QVERIFY(http.getText(QStringLiteral("/files/varnohub/ok.txt")).size() > 0);
        QVERIFY(http.answeredOk());

        // A stalled answer fails like a lost connection: empty, status kept,
        // and not taken for an answer even though the kept status is 200.
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(http.getText(QStringLiteral("/files/varnohub/stall")), QString());
        QVERIFY2(timer.elapsed() < 8000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(http.statusCode(), 200);
        QVERIFY(!http.answeredOk());

        // The isUpdaterNewer of a missing version file is "no", and 404 stays.
        QVERIFY(!http.isUpdaterNewer(0.5));
        QCOMPARE(http.statusCode(), 404);
    }

    void unreachableService_data()
    {
        QTest::addColumn<QByteArray>("ini");
        const QByteArray port = QByteArray::number(closedPort());
        QTest::newRow("connection refused")
            << "[server]\naddress=127.0.0.1\nport=" + port + "\nstall_timeout=2\n";
        QTest::newRow("proxy refuses")
            << "[server]\naddress=127.0.0.1\nport=80\nproxy_server=127.0.0.1\nproxy_port=" + port
                + "\nstall_timeout=2\n";
        QTest::newRow("proxy without a host")
            << QByteArray("[server]\naddress=127.0.0.1\nport=80\nproxy_port=3128\n"
                          "stall_timeout=2\n");
    }

    void unreachableService()
    {
        QFETCH(QByteArray, ini);
        TestWorkspace ws;
        QVERIFY(ws.writeFile(QStringLiteral("http_server.ini"), ini));
        QVERIFY(ws.writeFile(QStringLiteral("target.zip"), "old"));
        QVERIFY(ws.writeFile(QStringLiteral("up.zip"), "data"));
        THttp http;
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(http.login(QStringLiteral("A1")), QString());
        // No answer is no size: the package must not count as present.
        QCOMPARE(http.getFileSize(QStringLiteral("x.zip:y")), qint64(-1));
        QCOMPARE(http.getDateStamp(), QString());
        QVERIFY(!http.getToFile(QStringLiteral("/files/varnohub/x.zip"), QStringLiteral("target.zip")));
        QVERIFY(!http.uploadFile(QString(), QString(), QStringLiteral("up.zip")));
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(http.statusCode(), 0);
        QCOMPARE(ws.readFile(QStringLiteral("target.zip")), QByteArray("old"));
        QVERIFY(!QFile::exists(ws.filePath(QStringLiteral("target.zip.part"))));
    }

    void downloadToFile()
    {
        Setup s;
        QVERIFY(s.start());
        QByteArray package(3 * 1024 * 1024 + 17, Qt::Uninitialized);
        for (qsizetype i = 0; i < package.size(); ++i)
            package[i] = char(i * 7 + i / 4096);
        QVERIFY(s.service.writeFile(QStringLiteral("pkg/big.zip"), package));
        QVERIFY(s.service.writeFile(QStringLiteral("pkg/empty.txt"), QByteArray()));
        QVERIFY(s.ws.writeFile(QStringLiteral("work/big.zip"), "older copy"));
        QSignalSpy progress(s.http.get(), &THttp::emitValue);

        QVERIFY(
            s.http->getToFile(QStringLiteral("/files/varnohub/pkg/big.zip"), QStringLiteral("work/big.zip")));
        QCOMPARE(s.http->statusCode(), 200);
        QVERIFY(s.ws.readFile(QStringLiteral("work/big.zip")) == package);
        QVERIFY(!QFile::exists(s.ws.filePath(QStringLiteral("work/big.zip.part"))));
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last().at(0).toLongLong(), qint64(package.size()));
        QCOMPARE(progress.last().at(1).toLongLong(), qint64(package.size()));

        // An empty file is a complete download too.
        QVERIFY(
            s.http->getToFile(QStringLiteral("/files/varnohub/pkg/empty.txt"), QStringLiteral("empty.txt")));
        QVERIFY(QFile::exists(s.ws.filePath(QStringLiteral("empty.txt"))));

        // A folder that does not exist: nothing created, nothing asked.
        s.service.clearLog();
        QVERIFY(!s.http->getToFile(QStringLiteral("/files/varnohub/pkg/big.zip"),
                                   QStringLiteral("nowhere/big.zip")));
        QVERIFY(s.service.requestLines().isEmpty());
    }

    void brokenDownloads_data()
    {
        QTest::addColumn<QByteArray>("fault");
        QTest::newRow("dropped halfway") << QByteArray("close 100000");
        QTest::newRow("dropped before the body") << QByteArray("close 0");
        QTest::newRow("stalled halfway") << QByteArray("stall 100000");
        QTest::newRow("stalled before the body") << QByteArray("stall 0");
        QTest::newRow("not found") << QByteArray("status 404");
        QTest::newRow("server error") << QByteArray("status 500");
    }

    void brokenDownloads()
    {
        QFETCH(QByteArray, fault);
        Setup s;
        QVERIFY(s.start("[faults]\n/files/varnohub/pkg/ => " + fault + "\n", "stall_timeout=2\n"));
        QVERIFY(s.service.writeFile(QStringLiteral("pkg/a.zip"), QByteArray(400000, 'n')));
        QVERIFY(s.service.writeFile(QStringLiteral("good.txt"), "fine"));
        QVERIFY(s.ws.writeFile(QStringLiteral("a.zip"), "older copy"));
        QCOMPARE(s.http->getText(QStringLiteral("/files/varnohub/good.txt")), QStringLiteral("fine"));
        s.http->getText(QStringLiteral("/files/varnohub/missing.txt"));
        QCOMPARE(s.http->statusCode(), 404);

        QElapsedTimer timer;
        timer.start();
        QVERIFY(!s.http->getToFile(QStringLiteral("/files/varnohub/pkg/a.zip"), QStringLiteral("a.zip")));
        QVERIFY2(timer.elapsed() < 8000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(s.ws.readFile(QStringLiteral("a.zip")), QByteArray("older copy"));
        QVERIFY(!QFile::exists(s.ws.filePath(QStringLiteral("a.zip.part"))));
        // Only an HTTP answer changes the status; a broken transfer leaves the last one.
        QCOMPARE(s.http->statusCode(), fault.startsWith("status") ? fault.mid(7).toInt() : 404);

        // The same client goes on working afterwards.
        QCOMPARE(s.http->getText(QStringLiteral("/files/varnohub/good.txt")), QStringLiteral("fine"));
    }

    void resumedDownloads_data()
    {
        // first: the faults of a first fetch without retries ("-": none made);
        // tamper: what happens to the cache or the file between the fetches;
        // second: the faults of a fetch with two retries; requests: status and
        // headers of each request of the second fetch; sent: body bytes the
        // service sent in it (-1: not checked, a transfer cut by the client).
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QString>("tamper");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<bool>("done");
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<qint64>("sent");
        const QByteArray drop = "close 100000";
        QTest::newRow("continued with If-Range")
            << drop << QString() << QByteArray() << true << QStringList { "206 Range If-Range" } << qint64(300000);
        QTest::newRow("service ignores Range")
            << drop << QString() << QByteArray("norange") << true << QStringList { "200 Range If-Range" }
            << qint64(400000);
        QTest::newRow("206 that starts elsewhere")
            << drop << QString() << QByteArray("badrange 1000 first 1") << true
            << QStringList { "206 Range If-Range", "200" } << qint64(-1);
        QTest::newRow("416") << drop << QString() << QByteArray("unsatisfiable") << true
                             << QStringList { "416 Range If-Range", "200" } << qint64(400021);
        QTest::newRow("file changed between runs")
            << drop << QStringLiteral("change") << QByteArray() << true << QStringList { "200 Range If-Range" }
            << qint64(400000);
        QTest::newRow("no validator: Range alone")
            << drop + "\n/files/varnohub/pkg/ => novalidator" << QString() << QByteArray("novalidator") << true
            << QStringList { "206 Range" } << qint64(300000);
        QTest::newRow("garbled record") << drop << QStringLiteral("garble") << QByteArray() << true
                                        << QStringList { "200" } << qint64(400000);
        QTest::newRow("part file longer than announced")
            << drop << QStringLiteral("grow") << QByteArray() << true << QStringList { "200" } << qint64(400000);
        QTest::newRow("part file gone") << drop << QStringLiteral("removepart") << QByteArray() << true
                                        << QStringList { "200" } << qint64(400000);
        QTest::newRow("dropped twice, resumed within the run")
            << QByteArray("-") << QString() << QByteArray("close 150000 first 2") << true
            << QStringList { "200", "206 Range If-Range", "206 Range If-Range", "..." } << qint64(-1);
        QTest::newRow("stalled, resumed within the run")
            << QByteArray("-") << QString() << QByteArray("stall 150000 first 1") << true
            << QStringList { "200", "206 Range If-Range" } << qint64(400000);
        // The network layer may send a request again by itself after a
        // dropped connection: "..." allows more of the line before it. The
        // tries count the transfers that brought no byte, however fast.
        QTest::newRow("tries used up") << QByteArray("-") << QString() << QByteArray("close 0") << false
                                       << QStringList { "200", "200", "200", "..." } << qint64(0);
        QTest::newRow("progress, then tries used up")
            << QByteArray("-") << QString() << QByteArray("close 150000 first 1\nclose 0") << false
            << QStringList { "200", "206 Range If-Range", "206 Range If-Range", "206 Range If-Range", "..." }
            << qint64(150000);
        // Each drop brought new bytes: the tries start afresh every time. What
        // was still in flight when the connection closed may be lost, so a
        // loaded machine can need one more range request.
        QTest::newRow("dropped after every 100000 bytes")
            << QByteArray("-") << QString() << QByteArray("close 100000") << true
            << QStringList { "200", "206 Range If-Range", "206 Range If-Range", "206 Range If-Range", "..." }
            << qint64(-1);
        QTest::newRow("service ignores Range and drops: no endless restart")
            << QByteArray("-") << QString() << QByteArray("close 100000\nnorange") << false
            << QStringList { "200", "200 Range If-Range", "200 Range If-Range", "200 Range If-Range", "..." }
            << qint64(-1);
        QTest::newRow("a drop, then one 503")
            << QByteArray("-") << QString() << QByteArray("close 150000 first 1\nstatus 503 first 1") << true
            << QStringList { "200", "503 Range If-Range", "206 Range If-Range" } << qint64(400016);
        QTest::newRow("busy proxy: 502, then 504")
            << QByteArray("-") << QString() << QByteArray("status 502 first 1\nstatus 504 first 1") << true
            << QStringList { "502", "504", "200" } << qint64(400032);
        QTest::newRow("408, then 429")
            << QByteArray("-") << QString() << QByteArray("status 408 first 1\nstatus 429 first 1") << true
            << QStringList { "408", "429", "200" } << qint64(400032);
        QTest::newRow("404 is not asked again") << drop << QString() << QByteArray("status 404") << false
                                                << QStringList { "404 Range If-Range" } << qint64(16);
        QTest::newRow("Retry-After: 5 is waited for")
            << QByteArray("-") << QString() << QByteArray("status 503 first 1\nretryafter 5 first 1") << true
            << QStringList { "503", "200" } << qint64(400016);
        QTest::newRow("Retry-After: 3600 ends the package")
            << QByteArray("-") << QString() << QByteArray("status 503\nretryafter 3600") << false
            << QStringList { "503" } << qint64(16);
        QTest::newRow("206 with another total starts over")
            << drop << QString() << QByteArray("rangetotal 1000 first 1") << true
            << QStringList { "206 Range If-Range", "200" } << qint64(-1);
        QTest::newRow("206 with another ETag starts over")
            << drop << QString() << QByteArray("rangetag first 1") << true
            << QStringList { "206 Range If-Range", "200" } << qint64(-1);
        QTest::newRow("weak ETag: If-Range with the date")
            << drop + "\nweaktag" << QString() << QByteArray("weaktag") << true
            << QStringList { "206 Range If-Range" } << qint64(300000);
        QTest::newRow("part file whole after a crash: checked, no range asked")
            << QByteArray() << QStringLiteral("unrename") << QByteArray() << true
            << QStringList { "304 If-None-Match" } << qint64(0);
        QTest::newRow("no Content-Length") << QByteArray("-") << QString() << QByteArray("nolength") << true
                                           << QStringList { "200" } << qint64(400000);
        QTest::newRow("whole copy reused after a 304")
            << QByteArray() << QString() << QByteArray() << true << QStringList { "304 If-None-Match" }
            << qint64(0);
        // A 304 may name the length of the body it stands for.
        QTest::newRow("whole copy reused after a 304 with Content-Length")
            << QByteArray() << QString() << QByteArray("lengthon304") << true
            << QStringList { "304 If-None-Match" } << qint64(0);
        QTest::newRow("whole copy of a changed file fetched again")
            << QByteArray() << QStringLiteral("change") << QByteArray() << true
            << QStringList { "200 If-None-Match" } << qint64(400000);
        QTest::newRow("whole copy without validator: size decides")
            << QByteArray("novalidator") << QString() << QByteArray("novalidator") << true << QStringList {}
            << qint64(0);
        QTest::newRow("a shorter file than planned is discarded")
            << QByteArray("-") << QStringLiteral("shrink") << QByteArray() << false << QStringList { "200" }
            << qint64(399999);
    }

    void resumedDownloads()
    {
        QFETCH(QByteArray, first);
        QFETCH(QString, tamper);
        QFETCH(QByteArray, second);
        QFETCH(bool, done);
        QFETCH(QStringList, requests);
        QFETCH(qint64, sent);
        Setup s;
        // Two seconds without a byte end a transfer: a loaded machine (Wine) can
        // take one before the first byte of an answer.
        QVERIFY(s.start(QByteArray(), "download_retries=0\nstall_timeout=2\n"));
        QByteArray package(400000, Qt::Uninitialized);
        for (qsizetype i = 0; i < package.size(); ++i)
            package[i] = char(i * 13 + i / 1000);
        QVERIFY(s.service.writeFile(QStringLiteral("pkg/a.zip"), package));
        const QString path = QStringLiteral("/files/varnohub/pkg/a.zip");
        const DownloadCache cache;
        const QString slot = DownloadCache::slotName(QStringLiteral("a.zip"), path);
        QVERIFY(s.ws.makeDir(QStringLiteral("work")));
        const auto rules = [](const QByteArray &faults) {
            QByteArray text = "[faults]\n";
            for (const QByteArray &fault : faults.split('\n')) {
                if (!fault.isEmpty())
                    text += fault.contains("=>") ? fault + '\n' : "/files/varnohub/pkg/ => " + fault + '\n';
            }
            return text;
        };

        if (first != "-") {
            QVERIFY(s.service.writeCatalogue(rules(first)));
            PackageDownload fetch(*s.http, cache);
            const auto outcome
                = fetch.fetch(path, QStringLiteral("a.zip"), package.size(), QStringLiteral("work/a.zip"));
            QCOMPARE(outcome == PackageDownload::Outcome::Done, first.isEmpty() || first == "novalidator");
            QVERIFY(QFile::remove(s.ws.filePath(QStringLiteral("work/a.zip"))) == (outcome == PackageDownload::Outcome::Done));
        }
        qint64 planned = package.size();
        if (tamper == QLatin1String("change")) {
            // Same size, other bytes, a later modification time.
            QTest::qWait(1100);
            package[0] = char(package[0] + 1);
            package[399999] = char(package[399999] + 1);
            QVERIFY(s.service.writeFile(QStringLiteral("pkg/a.zip"), package));
        } else if (tamper == QLatin1String("garble")) {
            QVERIFY(s.ws.writeFile(cache.recordFile(slot), "length=x\n\x01"));
        } else if (tamper == QLatin1String("grow")) {
            QFile part(cache.partFile(slot));
            QVERIFY(part.open(QIODevice::Append));
            part.write(QByteArray(400000, 'x'));
        } else if (tamper == QLatin1String("removepart")) {
            QVERIFY(QFile::remove(cache.partFile(slot)));
        } else if (tamper == QLatin1String("unrename")) {
            // The program ended after the last byte, before the rename.
            QVERIFY(QFile::rename(cache.wholeFile(slot), cache.partFile(slot)));
        } else if (tamper == QLatin1String("shrink")) {
            package.chop(1);
            QVERIFY(s.service.writeFile(QStringLiteral("pkg/a.zip"), package));
        }

        QVERIFY(s.service.writeCatalogue(rules(second)));
        QVERIFY(ServiceFixture::writeHttpServerIni(s.ws.path(), s.service.port(), QStringLiteral("custom"),
                                                   "download_retries=2\nstall_timeout=2\n"));
        s.http = std::make_unique<THttp>();
        s.service.clearLog();
        PackageDownload fetch(*s.http, cache);
        fetch.firstWaitMs = 50;
        int retries = 0;
        int lastWait = -1;
        fetch.onRetry = [&retries, &lastWait](int, int waitMs) {
            ++retries;
            lastWait = waitMs;
        };
        const auto outcome = fetch.fetch(path, QStringLiteral("a.zip"), planned, QStringLiteral("work/a.zip"));
        QCOMPARE(outcome == PackageDownload::Outcome::Done, done);

        const bool dropsLoseBytes = requests.endsWith(QStringLiteral("..."));
        QStringList logged = s.service.requestsWithHeaders();
        if (dropsLoseBytes) {
            // The service logs a request once its answer has gone out; after a
            // drop, a loaded machine can show that after the client is done.
            const QDeadlineTimer settle(3000);
            for (QStringList again; !settle.hasExpired(); logged = again) {
                QTest::qWait(100);
                again = s.service.requestsWithHeaders();
                if (again == logged)
                    break;
            }
        }
        QStringList seen;
        for (const QString &line : logged) {
            // "GET TARGET STATUS [Name: value]..." -> "STATUS Name Name"
            QStringList words { line.section(QLatin1Char(' '), 2, 2) };
            for (const QString &header : line.section(QLatin1Char(' '), 3).split(QLatin1Char('['), Qt::SkipEmptyParts))
                words << header.section(QLatin1Char(':'), 0, 0);
            seen << words.join(QLatin1Char(' '));
        }
        if (dropsLoseBytes) {
            requests.removeLast();
            // The first drop can lose all that was received (nothing kept:
            // the next request starts over), later ones the tail.
            while (seen.size() > requests.size() && seen.size() > 1 && seen.at(0) == requests.first()
                   && seen.at(1) == requests.first())
                seen.removeFirst();
            while (seen.size() > requests.size() && seen.last() == requests.last())
                seen.removeLast();
        }
        QCOMPARE(seen.join(QLatin1Char(',')), requests.join(QLatin1Char(',')));
        // A stalled answer is counted when the service notices the client
        // has gone, which may come after the download ended.
        if (sent >= 0)
            QTRY_COMPARE_WITH_TIMEOUT(s.service.bytesSent(), sent, 10000);
        if (done) {
            QVERIFY(s.ws.readFile(QStringLiteral("work/a.zip")) == package);
            QVERIFY(!QFile::exists(cache.partFile(slot)));
        } else {
            // Never a package in place from bytes that do not fit.
            QVERIFY(!QFile::exists(s.ws.filePath(QStringLiteral("work/a.zip"))));
        }
        // Only a broken transfer or a busy service waits for a retry; a
        // start-over goes on at once, a long Retry-After is not waited for.
        const bool retried = (second.startsWith("close") || second.startsWith("stall")
                              || (second.startsWith("status") && !second.startsWith("status 404")))
            && !second.contains("retryafter 3600");
        QCOMPARE(retries > 0, retried);
        if (!done && retries > 0 && !second.contains("first 1\nclose 0") && !second.contains("norange"))
            QCOMPARE(retries, s.http->downloadRetries());
        if (second.contains("retryafter 5"))
            QCOMPARE(lastWait, 5000);
    }

    void sameFileNameFromTwoFolders()
    {
        Setup s;
        QVERIFY(s.start());
        const QByteArray first(1000, 'a');
        const QByteArray second(2000, 'b');
        QVERIFY(s.service.writeFile(QStringLiteral("pkg/a.zip"), first));
        QVERIFY(s.service.writeFile(QStringLiteral("other/a.zip"), second));
        QVERIFY(s.ws.makeDir(QStringLiteral("work")));
        const DownloadCache cache;
        PackageDownload fetch(*s.http, cache);
        const QString target = QStringLiteral("work/a.zip");
        const auto both = [&]() {
            QVERIFY(fetch.fetch(QStringLiteral("/files/varnohub/pkg/a.zip"), QStringLiteral("a.zip"), 1000,
                                target)
                    == PackageDownload::Outcome::Done);
            QCOMPARE(s.ws.readFile(target), first);
            QVERIFY(fetch.fetch(QStringLiteral("/files/varnohub/other/a.zip"), QStringLiteral("a.zip"), 2000,
                                target)
                    == PackageDownload::Outcome::Done);
            QCOMPARE(s.ws.readFile(target), second);
        };
        both();
        // Each keeps its own copy: the next run sends nothing again.
        s.service.clearLog();
        both();
        QCOMPARE(s.requests().size(), 2);
        for (const QString &line : s.service.requestLines())
            QVERIFY2(line.endsWith(QLatin1String(" 304")), qPrintable(line));
    }

    void cacheRecords_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("whole") << QByteArray("path=/a.zip\nlength=10\netag=\"x\"\nlast_modified=\nreceived=4\n") << true;
        QTest::newRow("unknown length") << QByteArray("path=/a.zip\nlength=-1\nreceived=4\n") << true;
        QTest::newRow("no path") << QByteArray("length=10\nreceived=4\n") << false;
        QTest::newRow("more received than announced") << QByteArray("path=/a\nlength=3\nreceived=4\n") << false;
        QTest::newRow("count that is no number") << QByteArray("path=/a\nlength=3x\nreceived=1\n") << false;
        QTest::newRow("line without a key") << QByteArray("path=/a\nlength=3\nreceived=1\ngarbage\n") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }

    void cacheRecords()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, valid);
        DownloadCache::Record record;
        QCOMPARE(DownloadCache::parse(text, &record), valid);
        if (valid) {
            DownloadCache::Record again;
            QVERIFY(DownloadCache::parse(DownloadCache::format(record), &again));
            QCOMPARE(again.path, record.path);
            QCOMPARE(again.length, record.length);
            QCOMPARE(again.etag, record.etag);
            QCOMPARE(again.received, record.received);
        }
    }

    void slowButSteadyIsNotAStall()
    {
        // Six bytes half a second apart take longer than the stall time-out
        // (2 s) but never wait that long for one byte.
        Setup s;
        QVERIFY(s.start("[faults]\n/files/varnohub/slow.txt => drip 500\n", "stall_timeout=2\n"));
        QVERIFY(s.service.writeFile(QStringLiteral("slow.txt"), "abcdef"));
        QVERIFY(s.http->getToFile(QStringLiteral("/files/varnohub/slow.txt"), QStringLiteral("slow.txt")));
        QCOMPARE(s.ws.readFile(QStringLiteral("slow.txt")), QByteArray("abcdef"));
    }

    void oddAnswers()
    {
        Setup s;
        QVERIFY(s.start("[faults]\n/files/varnohub/garbage => garbage 70000\n"
                        "/files/varnohub/get_filesize.asp?file=g => garbage 64\n"));
        QVERIFY(s.service.writeFile(QStringLiteral("huge.txt"), QByteArray(17 * 1024 * 1024, 'h')));
        QVERIFY(s.service.writeFile(QStringLiteral("binary.bin"), QByteArray("\x00\xff\x80z", 4)));

        // Binary bytes come through one character each.
        QCOMPARE(s.http->getText(QStringLiteral("/files/varnohub/binary.bin")),
                 QString::fromLatin1("\x00\xff\x80z", 4));
        QCOMPARE(s.http->getText(QStringLiteral("/files/varnohub/garbage")).size(), 70000);
        QCOMPARE(s.http->getFileSize(QStringLiteral("g:x")), qint64(-1)); // garbage is no size

        // A text answer beyond 16 MiB is no answer; files may be any size.
        QCOMPARE(s.http->getText(QStringLiteral("/files/varnohub/huge.txt")), QString());
        QVERIFY(s.http->getToFile(QStringLiteral("/files/varnohub/huge.txt"), QStringLiteral("huge.txt")));
        QCOMPARE(QFileInfo(s.ws.filePath(QStringLiteral("huge.txt"))).size(), qint64(17 * 1024 * 1024));
    }

    void upload()
    {
        Setup s;
        QVERIFY(s.start());
        QByteArray body(2 * 1024 * 1024 + 3, Qt::Uninitialized);
        for (qsizetype i = 0; i < body.size(); ++i)
            body[i] = char(i % 251);
        QVERIFY(s.ws.writeFile(QStringLiteral("log/SN_1.zip"), body));

        QVERIFY(s.http->uploadFile(s.ws.filePath(QStringLiteral("log/")), QStringLiteral("log/data/"),
                                   QStringLiteral("SN_1.zip")));
        QVERIFY(s.service.uploaded(QStringLiteral("log/data/SN_1.zip")) == body);
        QCOMPARE(s.requests(),
                 QStringList {
                     QStringLiteral("POST /files/varnohub/upload_file.asp?file_name=log/data/SN_1.zip") });

        // A file that cannot be read is not sent at all.
        s.service.clearLog();
        QVERIFY(!s.http->uploadFile(s.ws.filePath(QStringLiteral("log/")), QString(),
                                    QStringLiteral("none.zip")));
        QVERIFY(s.service.requestLines().isEmpty());

        // Only the exact answer counts: "UPLOAD OK" with a blank, or a refusal, fails.
        QVERIFY(s.service.writeCatalogue(
            "[answers]\n/files/varnohub/upload_file.asp?file_name=x.zip => UPLOAD OK\\x20\n"));
        QVERIFY(s.ws.writeFile(QStringLiteral("x.zip"), "x"));
        QVERIFY(!s.http->uploadFile(QString(), QString(), QStringLiteral("x.zip")));
        QVERIFY(!s.http->uploadFile(QString(), QStringLiteral("../"), QStringLiteral("x.zip")));
        QCOMPARE(s.http->statusCode(), 403);
    }

    void oneConnectionForManyRequests()
    {
        Setup s;
        QVERIFY(s.start());
        QVERIFY(s.service.writeFile(QStringLiteral("pkg/a.zip"), QByteArray(200000, 'a')));
        QVERIFY(s.ws.writeFile(QStringLiteral("up.zip"), "up"));
        s.http->login(QStringLiteral("A1"));
        s.http->getFileSize(QStringLiteral("/files/varnohub/pkg/a.zip:work"));
        QVERIFY(s.http->getToFile(QStringLiteral("/files/varnohub/pkg/a.zip"), QStringLiteral("a.zip")));
        s.http->getText(QStringLiteral("/files/varnohub/missing"));
        QVERIFY(s.http->uploadFile(QString(), QString(), QStringLiteral("up.zip")));
        s.http->getDateStamp();
        QCOMPARE(s.service.requestLines().size(), 6);
        QCOMPARE(s.service.connectionCount(), 1);
    }
};

QTEST_GUILESS_MAIN(TestTHttp)
#include "tst_thttp.moc"
