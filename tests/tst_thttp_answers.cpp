// The client's rules without a service: value preparation, date and version
// answers, speed and time-left texts, the settings file and the proxy, and
// the progress accounting driven through its slots with chosen numbers.
#include "service/serviceanswers.h"
#include "service/thttp.h"
#include "support/workspace.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QSignalSpy>
#include <QtTest>

class TestTHttpAnswers : public QObject
{
    Q_OBJECT

private slots:
    void preparedValues_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("code with dashes") << "code"
                                          << "AB-12--CD-"
                                          << "AB12CD";
        QTest::newRow("code without dashes") << "code"
                                             << "AB12CD"
                                             << "AB12CD";
        QTest::newRow("code other characters kept") << "code"
                                                    << " a_b "
                                                    << " a_b ";
        QTest::newRow("empty version") << "version"
                                       << ""
                                       << "0";
        QTest::newRow("NOT FOUND version") << "version"
                                           << "NOT FOUND"
                                           << "0";
        QTest::newRow("not found lower case kept") << "version"
                                                   << "not found"
                                                   << "not found";
        QTest::newRow("version kept") << "version"
                                      << "2.10"
                                      << "2.10";
        QTest::newRow("empty product") << "product"
                                       << ""
                                       << "standard_product";
        QTest::newRow("product kept") << "product"
                                      << "moto"
                                      << "moto";
        // Query values go out as Latin-1 bytes; what could split or end the
        // query is encoded once; "/" stays (paths), except in customer data.
        QTest::newRow("value: Latin-1 bytes") << "value" << QString::fromUtf8("Società è") << "Societ%E0%20%E8";
        QTest::newRow("value: query characters")
            << "value" << "a&b=c+d#e%f?g;h" << "a%26b%3Dc%2Bd%23e%25f%3Fg%3Bh";
        QTest::newRow("value: an escape is not taken as one") << "value" << "%41%" << "%2541%25";
        QTest::newRow("value: beyond Latin-1") << "value" << QString::fromUtf8("a€b😀c")
                                               << "a%3Fb%3Fc";
        QTest::newRow("value: path keeps its slashes") << "value" << "/files/x y/1.zip" << "/files/x%20y/1.zip";
        QTest::newRow("customer data: every reserved character")
            << "userdata" << "Via Roma 1/A, (2) @x:y!$*'" << "Via%20Roma%201%2FA%2C%20%282%29%20%40x%3Ay%21%24%2A%27";
        // Paths as built keep their escapes and query; only what a request
        // line cannot carry raw is encoded.
        QTest::newRow("path: accents and blanks")
            << "path" << QString::fromUtf8("/files/varnohub/caffè latte.zip") << "/files/varnohub/caff%E8%20latte.zip";
        QTest::newRow("path: escapes and query kept") << "path" << "/a%20b.txt?x=1%262+3" << "/a%20b.txt?x=1%262+3";
        QTest::newRow("path: # and a lone %") << "path" << "/a#1/100%.zip" << "/a%231/100%25.zip";
        QTest::newRow("path: beyond Latin-1 starts no query") << "path" << QString::fromUtf8("/a€.zip")
                                                              << "/a%3F.zip";
        QTest::newRow("path: control characters") << "path" << QStringLiteral("/a\r\nb\x01") << "/a%0D%0Ab%01";
    }

    void preparedValues()
    {
        QFETCH(QString, kind);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        if (kind == QLatin1String("code"))
            QCOMPARE(ServiceAnswers::accountCode(input), expected);
        else if (kind == QLatin1String("version"))
            QCOMPARE(ServiceAnswers::versionValue(input), expected);
        else if (kind == QLatin1String("value"))
            QCOMPARE(ServiceAnswers::queryValue(input), expected);
        else if (kind == QLatin1String("userdata"))
            QCOMPARE(ServiceAnswers::queryValue(input, QByteArray()), expected);
        else if (kind == QLatin1String("path"))
            QCOMPARE(QString::fromLatin1(ServiceAnswers::requestTarget(input)), expected);
        else
            QCOMPARE(ServiceAnswers::productValue(input), expected);
    }

    void dateAnswers_data()
    {
        QTest::addColumn<bool>("stamp"); // datetime_ov.asp, else datetime_ms.asp
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ms: last character dropped") << false << "2026-12-08 10:11:12.345\n"
                                                    << "2026-12-08 10:11:12.345";
        QTest::newRow("ms: any last character") << false << "2026-12-08 10:11:12Z"
                                                << "2026-12-08 10:11:12";
        QTest::newRow("ms: slashes") << false << "08/12/2026 10:11:12\n"
                                     << "";
        QTest::newRow("ms: day/month/year with dashes") << false << "08-12-2026 10:11\n"
                                                        << "";
        QTest::newRow("ms: no blank after the day") << false << "2026-12-08T10:11\n"
                                                    << "";
        QTest::newRow("ms: blank is the dropped character") << false << "2026-12-08 "
                                                            << "";
        QTest::newRow("ms: empty") << false << ""
                                   << "";
        QTest::newRow("ms: one character") << false << "x"
                                           << "";
        QTest::newRow("ms: html error page") << false << "<html>404 - not - found</html>"
                                             << "";
        QTest::newRow("stamp") << true << "2026-12-08_10-11-12"
                               << "2026-12-08_10-11-12";
        QTest::newRow("stamp: nothing dropped") << true << "2026-12-08_"
                                                << "2026-12-08_";
        QTest::newRow("stamp: blank instead of _") << true << "2026-12-08 10-11-12"
                                                   << "";
        QTest::newRow("stamp: short year") << true << "26-12-08_10"
                                           << "";
        QTest::newRow("stamp: three-digit month") << true << "2026-012-08_10"
                                                  << "";
        QTest::newRow("stamp: empty") << true << ""
                                      << "";
        QTest::newRow("stamp: line end and blanks trimmed") << true << " 2026-12-08_10-11-12\r\n"
                                                            << "2026-12-08_10-11-12";
        QTest::newRow("stamp: control character inside") << true << "2026-12-08_10\r\x0e.-00"
                                                         << "";
        QTest::newRow("stamp: folder separator inside") << true << "2026-12-08_../../x"
                                                        << "";
    }

    void dateAnswers()
    {
        QFETCH(bool, stamp);
        QFETCH(QString, answer);
        QFETCH(QString, expected);
        QCOMPARE(stamp ? ServiceAnswers::dateStamp(answer) : ServiceAnswers::dateTimeMs(answer), expected);
    }

    void versionNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        QTest::newRow("plain") << "3.65" << 3.65;
        QTest::newRow("trailing zero") << "3.10" << 3.1;
        QTest::newRow("line end of a file") << "3.70\r\n" << 3.7;
        QTest::newRow("not a number") << "abc" << 0.0;
        QTest::newRow("decimal comma") << "3,65" << 0.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("sentinel") << "NOT FOUND" << 0.0;
        QTest::newRow("infinity") << "inf" << 0.0;
        QTest::newRow("negative infinity") << "-inf\r\n" << 0.0;
        QTest::newRow("NaN") << "nan" << 0.0;
        QTest::newRow("beyond double") << "1e999" << 0.0;
    }

    void versionNumbers()
    {
        QFETCH(QString, text);
        QFETCH(double, expected);
        QCOMPARE(ServiceAnswers::versionNumber(text), expected);
    }

    void fileSizeAnswers_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("size") << "1500" << qint64(1500);
        QTest::newRow("beyond 32 bits, line end") << "3600000000\r\n" << Q_INT64_C(3600000000);
        QTest::newRow("empty file") << "0" << qint64(0);
        QTest::newRow("missing file") << "-1" << qint64(-1);
        QTest::newRow("dropped answer") << "" << qint64(-1);
        QTest::newRow("not a number") << "12 bytes" << qint64(-1);
        QTest::newRow("error page") << "<html>500</html>" << qint64(-1);
        QTest::newRow("negative") << "-7" << qint64(-1);
    }

    void fileSizeAnswers()
    {
        QFETCH(QString, answer);
        QFETCH(qint64, expected);
        QCOMPARE(ServiceAnswers::fileSize(answer), expected);
    }

    void speedAndTimeTexts_data()
    {
        QTest::addColumn<qint64>("rate");
        QTest::addColumn<qint64>("lastSecond");
        QTest::addColumn<QString>("speed");
        QTest::newRow("5000 in the first second") << qint64(5000) << qint64(5000) << "4.00 kB/s";
        QTest::newRow("900 in the first second") << qint64(900) << qint64(900) << "900.00 B/s";
        QTest::newRow("exactly 1024") << qint64(1024) << qint64(1024) << "1.00 kB/s";
        QTest::newRow("fast average, slow second") << qint64(850000) << qint64(1023) << "850000.00 B/s";
        QTest::newRow("slow average, fast second") << qint64(850) << qint64(4096) << "0.00 kB/s";
        QTest::newRow("beyond 32 bits") << qint64(5) * 1024 * 1024 * 1024 << qint64(1) << "5368709120.00 B/s";
    }

    void speedAndTimeTexts()
    {
        QFETCH(qint64, rate);
        QFETCH(qint64, lastSecond);
        QFETCH(QString, speed);
        QCOMPARE(ServiceAnswers::speedText(rate, lastSecond), speed);
    }

    void timeLeftTexts_data()
    {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("unknown") << qint64(-1) << " ";
        QTest::newRow("more received than announced") << qint64(-3725) << " ";
        QTest::newRow("done") << qint64(0) << " 00:00:00";
        QTest::newRow("hours minutes seconds") << qint64(3725) << " 01:02:05";
        QTest::newRow("more than a day") << qint64(90061) << " 25:01:01";
    }

    void timeLeftTexts()
    {
        QFETCH(qint64, seconds);
        QFETCH(QString, text);
        QCOMPARE(ServiceAnswers::timeLeftText(seconds), text);
    }

    void settingsFile_data()
    {
        QTest::addColumn<QByteArray>("ini"); // empty: no file at all
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("customization");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("ftpPort");
        QTest::addColumn<int>("stall");
        QTest::addColumn<bool>("useProxy");
        QTest::newRow("no file") << QByteArray() << "update.orvane.com"
                                 << "praxo" << 80 << 21 << 60 << false;
        QTest::newRow("old file") << QByteArray(
            "[server]\naddress=host.example\nsubdir=moto\nuse_proxy_parameters=0\n")
                                  << "host.example"
                                  << "moto" << 80 << 21 << 60 << false;
        QTest::newRow("new keys") << QByteArray("[server]\nport=8080\nftp_port=2121\nstall_timeout=5\n"
                                                "use_proxy_parameters=1\n")
                                  << "update.orvane.com"
                                  << "praxo" << 8080 << 2121 << 5 << true;
        QTest::newRow("bad numbers fall back")
            << QByteArray("[server]\nport=http\nftp_port=70000\nstall_timeout=-3\n") << "update.orvane.com"
            << "praxo" << 80 << 21 << 60 << false;
    }

    void settingsFile()
    {
        QFETCH(QByteArray, ini);
        TestWorkspace ws;
        if (!ini.isEmpty())
            QVERIFY(ws.writeFile(QStringLiteral("http_server.ini"), ini));
        THttp http;
        QTEST(http.address(), "address");
        QTEST(http.customization(), "customization");
        QTEST(http.port(), "port");
        QTEST(http.ftpPort(), "ftpPort");
        QTEST(http.stallTimeout(), "stall");
        QTEST(http.useProxyParameters(), "useProxy");
        QCOMPARE(http.statusCode(), 0);
    }

    void proxy_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<bool>("set");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("none") << QByteArray("[server]\n") << false << "" << 0;
        QTest::newRow("blanks only") << QByteArray("[server]\nproxy_server=\"  \"\nproxy_port=\" \"\n")
                                     << false << "" << 0;
        QTest::newRow("server and port") << QByteArray("[server]\nproxy_server=proxy.lan\nproxy_port=3128\n")
                                         << true << "proxy.lan" << 3128;
        QTest::newRow("port only") << QByteArray("[server]\nproxy_port=3128\n") << true << "" << 3128;
        QTest::newRow("port not a number")
            << QByteArray("[server]\nproxy_server=proxy.lan\nproxy_port=abc\n") << true << "proxy.lan" << 0;
        QTest::newRow("port out of range")
            << QByteArray("[server]\nproxy_server=proxy.lan\nproxy_port=65536\n") << true << "proxy.lan" << 0;
    }

    void proxy()
    {
        QFETCH(QByteArray, ini);
        QFETCH(bool, set);
        TestWorkspace ws;
        QVERIFY(ws.writeFile(QStringLiteral("http_server.ini"), ini));
        THttp http;
        const QNetworkProxy proxy = http.networkManager()->proxy();
        if (!set) {
            // No proxy of its own: the system's settings decide.
            QCOMPARE(proxy.type(), QNetworkProxy::DefaultProxy);
            QVERIFY(QNetworkProxyFactory::usesSystemConfiguration());
            return;
        }
        QCOMPARE(proxy.type(), QNetworkProxy::HttpProxy);
        QTEST(proxy.hostName(), "host");
        QTEST(int(proxy.port()), "port");
    }

    void accounting()
    {
        TestWorkspace ws;
        THttp http;
        QSignalSpy values(&http, &THttp::emitValue);

        // First tick with 5000 bytes: kB/s; nothing announced: no time left.
        http.dataReadProgress(2000, 5000);
        http.dataReadProgress(5000, 5000);
        QCOMPARE(http.countedThisSecond(), qint64(5000));
        http.timeSpeed();
        QCOMPARE(http.speedText(), QStringLiteral("4.00 kB/s"));
        QCOMPARE(http.timeText(), QStringLiteral(" "));
        QCOMPARE(http.received(), qint64(5000));
        QCOMPARE(http.secondsActive(), 1);
        QCOMPARE(http.countedThisSecond(), qint64(0));

        // Seconds without bytes leave everything as it was.
        http.timeSpeed();
        http.timeSpeed();
        QCOMPARE(http.secondsActive(), 1);
        QCOMPARE(http.speedText(), QStringLiteral("4.00 kB/s"));

        // A new transfer reporting less than the last one counts from zero;
        // the slow second picks B/s while the value is the average.
        http.dataSendProgress(900, 0);
        QCOMPARE(http.countedThisSecond(), qint64(900));
        http.timeSpeed();
        QCOMPARE(http.received(), qint64(5900));
        QCOMPARE(http.speedText(), QStringLiteral("2950.00 B/s"));

        // Counts beyond 2 GiB pass through unharmed (the same transfer goes
        // on from 900).
        const qint64 big = qint64(3) * 1024 * 1024 * 1024;
        http.dataReadProgress(big, big + 10);
        QCOMPARE(http.countedThisSecond(), big - 900);
        http.timeSpeed();
        QCOMPARE(http.received(), 5900 + (big - 900));

        // Every report is forwarded with the current texts and total.
        QCOMPARE(values.size(), 4);
        const QList<QVariant> last = values.last();
        QCOMPARE(last.at(0).toLongLong(), big);
        QCOMPARE(last.at(1).toLongLong(), big + 10);
        QCOMPARE(last.at(2).toString(), QStringLiteral(" "));
        QCOMPARE(last.at(3).toString(), QStringLiteral("2950.00 B/s"));
        QCOMPARE(last.at(4).toLongLong(), qint64(5900));
    }
};

QTEST_GUILESS_MAIN(TestTHttpAnswers)
#include "tst_thttp_answers.moc"
