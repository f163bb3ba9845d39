// The service client against a small HTTP responder on loopback (real TCP):
// request lines as sent, status rules, the part-file download and its
// failures, and the progress accounting with chosen numbers.
#include "service/serviceanswers.h"
#include "service/thttp.h"
#include "support/loopbackservice.h"
#include "support/workspace.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

// Every test's service answers all targets alike unless it says otherwise.
struct Responder : LoopbackService
{
    void set(const QByteArray &body, int status = 200) { answerOthers(body, status); }
};

void writeServerIni(const TestWorkspace &ws, quint16 port, const QByteArray &extra = QByteArray())
{
    ws.writeFile(QStringLiteral("http_server.ini"),
                 "[server]\naddress=127.0.0.1\nport=" + QByteArray::number(port) + "\nsubdir=custom\n" + extra);
}

} // namespace

class TestTHttp : public QObject
{
    Q_OBJECT

private slots:
    void answers_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("dashes") << "code" << "AB-12-CD" << "AB12CD";
        QTest::newRow("empty version") << "version" << "" << "0";
        QTest::newRow("not found version") << "version" << "NOT FOUND" << "0";
        QTest::newRow("version kept") << "version" << "2.10" << "2.10";
        QTest::newRow("car product") << "product" << "" << "standard_product";
        QTest::newRow("date ms") << "ms" << "2026-12-08 10:11:12Z" << "2026-12-08 10:11:12";
        QTest::newRow("date ms slashes") << "ms" << "08/12/2026 10:11:12Z" << "";
        QTest::newRow("date ms empty") << "ms" << "" << "";
        QTest::newRow("stamp") << "stamp" << "2026-12-08_10-11-12" << "2026-12-08_10-11-12";
        QTest::newRow("stamp with blank") << "stamp" << "2026-12-08 10-11-12" << "";
        QTest::newRow("stamp short year") << "stamp" << "26-12-08_10" << "";
    }

    void answers()
    {
        QFETCH(QString, kind);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QString result;
        if (kind == QLatin1String("code"))
            result = ServiceAnswers::accountCode(input);
        else if (kind == QLatin1String("version"))
            result = ServiceAnswers::versionValue(input);
        else if (kind == QLatin1String("product"))
            result = ServiceAnswers::productValue(input);
        else if (kind == QLatin1String("ms"))
            result = ServiceAnswers::dateTimeMs(input);
        else
            result = ServiceAnswers::dateStamp(input);
        QCOMPARE(result, expected);
    }

    void versionNumbers()
    {
        QCOMPARE(ServiceAnswers::versionNumber(QStringLiteral("3.10")), ServiceAnswers::versionNumber(QStringLiteral("3.1")));
        QCOMPARE(ServiceAnswers::versionNumber(QStringLiteral("abc")), 0.0);
        QCOMPARE(ServiceAnswers::versionNumber(QStringLiteral("3.65\r\n")), 3.65);
    }

    void settingsAndProxy()
    {
        {
            TestWorkspace ws;
            THttp http;
            QCOMPARE(http.address(), QStringLiteral("update.orvane.com"));
            QCOMPARE(http.customization(), QStringLiteral("praxo"));
            QCOMPARE(http.port(), 80);
            QCOMPARE(http.ftpPort(), 21);
            QCOMPARE(http.stallTimeout(), 60);
            QCOMPARE(http.networkManager()->proxy().type(), QNetworkProxy::NoProxy);
        }
        {
            TestWorkspace ws;
            ws.writeFile(QStringLiteral("http_server.ini"), "[server]\nproxy_port=3128\nftp_port=2121\n");
            THttp http;
            QCOMPARE(http.networkManager()->proxy().type(), QNetworkProxy::HttpProxy);
            QCOMPARE(http.networkManager()->proxy().hostName(), QString());
            QCOMPARE(http.networkManager()->proxy().port(), quint16(3128));
            QCOMPARE(http.ftpPort(), 2121);
        }
        {
            TestWorkspace ws;
            ws.writeFile(QStringLiteral("http_server.ini"), "[server]\nproxy_server=proxy.local\nproxy_port=abc\n");
            THttp http;
            QCOMPARE(http.networkManager()->proxy().port(), quint16(0));
        }
    }

    void speedAndTimeLeft()
    {
        TestWorkspace ws;
        THttp http;
        http.dataReadProgress(5000, 10000);
        http.timeSpeed();
        QCOMPARE(http.speedText(), QStringLiteral("4.00 kB/s"));
        QCOMPARE(http.timeText(), QStringLiteral(" "));

        THttp slow;
        slow.dataReadProgress(900, 900);
        slow.timeSpeed();
        QCOMPARE(slow.speedText(), QStringLiteral("900.00 B/s"));
        // A second without bytes changes nothing.
        slow.timeSpeed();
        QCOMPARE(slow.secondsActive(), 1);
        QCOMPARE(slow.speedText(), QStringLiteral("900.00 B/s"));
        // A new transfer starting below the last report counts from zero.
        slow.dataReadProgress(100, 1000);
        QCOMPARE(slow.countedThisSecond(), qint64(100));
        QCOMPARE(ServiceAnswers::timeLeftText(3725), QStringLiteral(" 01:02:05"));
    }

    void requestLinesAsSent()
    {
        TestWorkspace ws;
        Responder responder;
        writeServerIni(ws, responder.port());
        THttp http;
        responder.set("UPDATED");
        QCOMPARE(http.updateUserData(QStringLiteral("A-1"), QStringLiteral("ragione_sociale"), QStringLiteral("Rossi & Figli srl")),
                 QStringLiteral("UPDATED"));
        http.getFile2Download(QStringLiteral("A-1"), QStringLiteral("ita"), QStringLiteral("NOT FOUND"), QString(), QString(),
                              QStringLiteral("soft"));
        responder.set("1234");
        QCOMPARE(http.getFileSize(QStringLiteral("/files/varnohub/db/0.zip:db")), qint64(1234));
        responder.set("3.70");
        QVERIFY(http.isUpdaterNewer(3.65));
        QCOMPARE(responder.requests,
                 QStringList({QStringLiteral("GET /files/varnohub/update_user_data.asp?password=A1&data2update=ragione_sociale"
                                             "&value=Rossi%20%26%20Figli%20srl"),
                              QStringLiteral("GET /files/varnohub/get_file2download.asp?password=A1&language=ita&adversion=0"
                                             "&mitversion=0&id_product_active=standard_product&customization=soft"),
                              QStringLiteral("GET /files/varnohub/get_filesize.asp?file=/files/varnohub/db/0.zip"),
                              QStringLiteral("GET /files/varnohub/custom/update_software_varno_update/pc/ver_update.txt")}));
    }

    void statusKeptWhenNoHeaderArrives()
    {
        TestWorkspace ws;
        Responder responder;
        responder.set("not found", 404);
        writeServerIni(ws, responder.port());
        THttp http;
        http.getText(QStringLiteral("/files/varnohub/x"));
        QCOMPARE(http.statusCode(), 404);

        // Nothing listens on a freshly closed port: refused, empty, status kept.
        quint16 closed = 0;
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            closed = probe.serverPort();
        }
        TestWorkspace ws2;
        writeServerIni(ws2, closed);
        THttp refused;
        QCOMPARE(refused.getText(QStringLiteral("/files/varnohub/x")), QString());
        QCOMPARE(refused.statusCode(), 0);
    }

    void downloadReplacesOnlyWhenComplete()
    {
        TestWorkspace ws;
        Responder responder;
        writeServerIni(ws, responder.port(), "stall_timeout=1\n");
        ws.writeFile(QStringLiteral("language_list.ini"), "old");
        THttp http;

        responder.set(QByteArray(300000, 'n'));
        QVERIFY(http.getToFile(QStringLiteral("/files/varnohub/a"), QStringLiteral("language_list.ini")));
        QCOMPARE(ws.readFile(QStringLiteral("language_list.ini")), QByteArray(300000, 'n'));
        QVERIFY(!QFile::exists(ws.filePath(QStringLiteral("language_list.ini.part"))));

        // Dropped after a few bytes: the file stays as it was.
        responder.set(QByteArray(300000, 'd'));
        responder.closeAfter = 1000;
        QVERIFY(!http.getToFile(QStringLiteral("/files/varnohub/a"), QStringLiteral("language_list.ini")));
        QCOMPARE(ws.readFile(QStringLiteral("language_list.ini")), QByteArray(300000, 'n'));
        QVERIFY(!QFile::exists(ws.filePath(QStringLiteral("language_list.ini.part"))));

        // Stalled: abandoned after the stall time-out, nothing replaced.
        responder.closeAfter = -1;
        responder.stallAfter = 10;
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!http.getToFile(QStringLiteral("/files/varnohub/a"), QStringLiteral("language_list.ini")));
        QVERIFY(timer.elapsed() >= 900 && timer.elapsed() < 10000);
        QCOMPARE(ws.readFile(QStringLiteral("language_list.ini")), QByteArray(300000, 'n'));

        // A status other than 200 never replaces the file either.
        responder.stallAfter = -1;
        responder.set(QByteArray(300000, 'x'), 404);
        QVERIFY(!http.getToFile(QStringLiteral("/files/varnohub/a"), QStringLiteral("language_list.ini")));
        QCOMPARE(ws.readFile(QStringLiteral("language_list.ini")), QByteArray(300000, 'n'));
    }

    void uploadAnswerMustBeExact()
    {
        TestWorkspace ws;
        Responder responder;
        writeServerIni(ws, responder.port());
        ws.writeFile(QStringLiteral("SN_x.zip"), "zipbytes");
        THttp http;
        responder.set("UPLOAD OK");
        QVERIFY(http.uploadFile(QString(), QStringLiteral("log/data/"), QStringLiteral("SN_x.zip")));
        QCOMPARE(responder.requests.last(),
                 QStringLiteral("POST /files/varnohub/upload_file.asp?file_name=log/data/SN_x.zip"));
        responder.set("UPLOAD OK ");
        QVERIFY(!http.uploadFile(QString(), QStringLiteral("log/data/"), QStringLiteral("SN_x.zip")));
        QVERIFY(!http.uploadFile(QString(), QStringLiteral("log/data/"), QStringLiteral("missing.zip")));
    }
};

QTEST_GUILESS_MAIN(TestTHttp)
#include "tst_thttp.moc"
