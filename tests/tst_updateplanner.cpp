// The update plan against the reference service: the requests in order, the
// download list, the language files and the work manifests for each scope,
// version comparisons, the notifier, and where a failure leaves the files.
#include "update/updateplanner.h"
#include "language/languagefiles.h"
#include "platform/platform.h"
#include "service/thttp.h"
#include "settings/tinifiles.h"
#include "settings/tregistrysettings.h"
#include "support/servicefixture.h"
#include "support/workspace.h"

#include <QDirIterator>
#include <QFile>
#include <QtTest>

#include <memory>

namespace {

const QString dataDir = QStringLiteral(UPDATE_HUB_TEST_DATA "/plan/");

QByteArray dataFile(const QString &relative)
{
    QFile file(dataDir + relative);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList dataLines(const QString &relative)
{
    return QString::fromUtf8(dataFile(relative)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// An installation (the PC's files and a card) and a service, both filled from
// tests/data/plan, with one client.
struct Setup
{
    TestWorkspace ws;
    ServiceFixture &service = ServiceFixture::shared();
    std::unique_ptr<THttp> http;
    QHash<QString, QString> programVersions;
    PlanInput input;

    bool start(int scope, const QByteArray &extraCatalogue = QByteArray())
    {
        if (!service.startShared())
            return false;
        for (const QString &part :
             { QStringLiteral("pc"), QStringLiteral("card"), QStringLiteral("service") }) {
            QDirIterator it(dataDir + part, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString file = it.next();
                const QString relative = file.mid(dataDir.size() + part.size() + 1);
                QFile in(file);
                if (!in.open(QIODevice::ReadOnly))
                    return false;
                const QByteArray bytes = in.readAll();
                const bool written = part == QLatin1String("pc") ? ws.writeFile(relative, bytes)
                    : part == QLatin1String("card") ? ws.writeFile(QStringLiteral("card/") + relative, bytes)
                    : relative == QLatin1String("service.ini")
                    ? service.writeCatalogue(bytes + '\n' + extraCatalogue)
                    : service.writeFile(relative, bytes);
                if (!written)
                    return false;
            }
        }
        if (!ServiceFixture::writeHttpServerIni(ws.path(), service.port()))
            return false;
        http = std::make_unique<THttp>();
        input.updateScope = scope;
        input.cardRoot = ws.filePath(QStringLiteral("card/"));
        input.softwareFolder = QStringLiteral("praxo");
        input.databaseFolders = QStringList { QStringLiteral("database_auto") };
        input.accountCode = QStringLiteral("DEMO-0001");
        input.selectedLanguageId = QStringLiteral("eng");
        input.reserveLanguageId = QStringLiteral("ita");
        input.selectedDescription = QStringLiteral("English \u2014 UK");
        input.reserveDescription = QStringLiteral("Italiano");
        programVersions = { { QStringLiteral("main.exe"), QStringLiteral("3.60") },
                            { input.cardRoot + QStringLiteral("varno/main"), QStringLiteral("2.00") } };
        return ws.writeFile(QStringLiteral("work/old_package.zip"), "old")
            && ws.writeFile(QStringLiteral("work/kept/inside.txt"), "kept");
    }

    PlanResult run()
    {
        UpdatePlanner planner(*http, [this](const QString &file) { return programVersions.value(file); });
        return planner.run(input);
    }

    bool logged(const QString &part) const { return !service.requestLines().filter(part).isEmpty(); }
};

QString shownTexts(const PlanResult &result)
{
    QString texts = (result.diagnosisTexts + result.informationTexts).join(QLatin1Char('\n'));
    return texts.replace(QStringLiteral("\r\n"), QStringLiteral("|")) + QLatin1Char('\n');
}

QStringList balloonEntries(const PlanResult &result)
{
    return result.downloadList.filter(QStringLiteral(":balloon"));
}

} // namespace

class TestUpdatePlanner : public QObject
{
    Q_OBJECT

private slots:
    void parseProducts_data();
    void parseProducts();
    void downloadOrder_data();
    void downloadOrder();
    void wholeRun_data();
    void wholeRun();
    void cardLanguages_data();
    void cardLanguages();
    void failures_data();
    void failures();
    void softwareVersions_data();
    void softwareVersions();
    void notifier_data();
    void notifier();
    void withoutDatabases();
};

void TestUpdatePlanner::parseProducts_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("products"); // name=id, comma-separated

    QTest::newRow("car and motorbike") << "varno;1;auto;Automobili;;varno;2;moto;Motocicli;moto_files"
                                       << "Automobili=,Motocicli=moto_files";
    QTest::newRow("item without its id field") << "varno;1;auto;Automobili;;varno;2;moto;Motocicli"
                                               << "Automobili=";
    QTest::newRow("second empty id skipped") << "v;1;a;Auto;;v;2;b;Altro;;v;3;c;Moto;moto_files"
                                             << "Auto=,Moto=moto_files";
    QTest::newRow("fourth product kept") << "v;1;a;A;;v;2;b;B;moto_files;v;3;c;C;truck_files;v;4;d;D;bus"
                                         << "A=,B=moto_files,C=truck_files,D=bus";
    QTest::newRow("line end after the last id") << "v;1;a;Moto;moto_files\r\n"
                                                << "Moto=moto_files";
    QTest::newRow("empty answer") << ""
                                  << "";
    QTest::newRow("empty marker matches nothing") << ";1;a;Auto;x;;2"
                                                  << "";
    QTest::newRow("sentinel") << "NOT FOUND"
                              << "";
    // The last product needs no closing ";": its id beyond the end is empty.
    QTest::newRow("last product without a closing ;") << "v;1;a;Moto;moto_files;v;2;b;Automobili"
                                                       << "Moto=moto_files,Automobili=";
    QTest::newRow("closing ;") << "v;1;a;Moto;moto_files;"
                               << "Moto=moto_files";
    QTest::newRow("last item without a name field") << "v;1;a;Moto;moto_files;v;2;b"
                                                    << "Moto=moto_files";
}

void TestUpdatePlanner::parseProducts()
{
    QFETCH(QString, answer);
    QFETCH(QString, products);
    QStringList items;
    for (const UpdatePlanner::Product &product : UpdatePlanner::parseProducts(answer))
        items << product.name + QLatin1Char('=') + product.id;
    QCOMPARE(items.join(QLatin1Char(',')), products);
}

void TestUpdatePlanner::downloadOrder_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("ordered");

    QTest::newRow("databases, then the notifier, last")
        << "/b/balloon.zip:balloon\r\n/d/0.zip:database_auto\r\n/a.zip:adfiles\r\n/r/"
           "database_rmd.zip:database"
        << QStringList { "/a.zip:adfiles", "/d/0.zip:database_auto", "/r/database_rmd.zip:database",
                         "/b/balloon.zip:balloon" };
    QTest::newRow("duplicates and blank lines")
        << "/a.zip:adfiles\r\n\r\n/m.zip:mitfiles\r\n/a.zip:adfiles\r\n\r\n"
        << QStringList { "/a.zip:adfiles", "/m.zip:mitfiles" };
    QTest::newRow("lines without path or target")
        << "FOUND\r\n:adfiles\r\n /x.zip\r\n/m.zip:mitfiles" << QStringList { "/m.zip:mitfiles" };
}

void TestUpdatePlanner::downloadOrder()
{
    QFETCH(QString, answer);
    QFETCH(QStringList, ordered);
    QCOMPARE(UpdatePlanner::orderedDownloads(UpdatePlanner::downloadEntries(answer)), ordered);
    // The list rule alone, on a list that still holds raw lines.
    const QStringList raw { "", "FOUND", "x:balloon", "", "FOUND", "y:t" };
    QCOMPARE(UpdatePlanner::orderedDownloads(raw), (QStringList { "y:t", "x:balloon" }));
}

void TestUpdatePlanner::wholeRun_data()
{
    QTest::addColumn<int>("scope");
    QTest::addColumn<QString>("missing"); // a package taken off the service
    QTest::newRow("PC only") << 0 << QString();
    QTest::newRow("card only") << 1 << QString();
    QTest::newRow("PC and card") << 2 << QString();
    // Left out of the list, the database package still stands behind its
    // version in the manifest's record, so that version is not recorded.
    QTest::newRow("PC and card, database package missing") << 2 << QStringLiteral("database_auto/0.zip");
}

void TestUpdatePlanner::wholeRun()
{
    QFETCH(int, scope);
    QFETCH(QString, missing);
    Setup s;
    QVERIFY(s.start(scope));
    if (!missing.isEmpty())
        QVERIFY(QFile::remove(s.service.root() + QLatin1Char('/') + missing));
    const QString suffix = QStringLiteral("_scope%1.txt").arg(scope);

    const PlanResult result = s.run();
    QVERIFY2(result.ok, qPrintable(result.failedAt));
    QStringList requests = dataLines(QStringLiteral("expected/requests") + suffix);
    QStringList downloads = dataLines(QStringLiteral("expected/downloads") + suffix);
    if (!missing.isEmpty()) {
        // Its size is asked for once, and not again for the total.
        for (qsizetype i = requests.size() - 1; i >= 0; --i) {
            if (requests.at(i).contains(missing)) {
                requests.removeAt(i);
                break;
            }
        }
        downloads.removeIf([&missing](const QString &entry) { return entry.contains(missing); });
    }
    QCOMPARE(s.service.requestLines(), requests);
    QCOMPARE(result.downloadList, downloads);
    QCOMPARE(result.productIds, (QStringList { "", "moto_files" }));
    QCOMPARE(result.productNames, (QStringList { "Automobili", "Motocicli" }));
    QCOMPARE(shownTexts(result), QString::fromUtf8(dataFile(QStringLiteral("expected/texts") + suffix)));

    qint64 total = 0;
    for (const QString &entry : result.downloadList)
        total += QFileInfo(s.service.root() + entry.section(QLatin1Char(':'), 0, 0).mid(15)).size();
    QCOMPARE(result.totalDownloadSize, total);

    QCOMPARE(s.ws.readFile("work/update.ini"),
             dataFile(QStringLiteral("expected/update_scope%1.ini").arg(scope)));
    QCOMPARE(s.ws.readFile("work/syslang.ini"), dataFile("expected/syslang.ini"));
    QVERIFY(!QFile::exists(s.ws.filePath("work/old_package.zip")));
    QVERIFY(QFile::exists(s.ws.filePath("work/kept/inside.txt")));
    QCOMPARE(s.ws.readFile("language.ini"), dataFile("expected/language.ini"));
    QCOMPARE(s.ws.readFile("card/varno/language.ini"),
             dataFile(scope == 1 ? "expected/card_language_scope1.ini" : "card/varno/language.ini"));

    // A second run on the same client plans the same, with its own total.
    s.service.clearLog();
    const PlanResult again = s.run();
    QCOMPARE(again.totalDownloadSize, total);
    QCOMPARE(again.downloadList, result.downloadList);
    QCOMPARE(s.ws.readFile("work/update.ini"),
             dataFile(QStringLiteral("expected/update_scope%1.ini").arg(scope)));
}

void TestUpdatePlanner::cardLanguages_data()
{
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("reserve");
    QTest::addColumn<QString>("cardLanguages"); // ids of lingua1.., "*" marks the reserve
    QTest::addColumn<int>("current");

    // The card holds ita (1) and fra (2); the PC ita, eng and deu.
    QTest::newRow("both on the card") << "ita"
                                      << "fra"
                                      << "ita fra*" << 1;
    QTest::newRow("selected copied") << "eng"
                                     << "ita"
                                     << "ita* fra eng" << 3;
    QTest::newRow("both copied") << "eng"
                                 << "deu"
                                 << "ita fra eng deu*" << 3;
    QTest::newRow("one language chosen twice") << "eng"
                                               << "eng"
                                               << "ita fra eng*" << 3;
    QTest::newRow("not on the PC either") << "jpn"
                                          << "ita"
                                          << "ita* fra" << 2;
}

void TestUpdatePlanner::cardLanguages()
{
    QFETCH(QString, selected);
    QFETCH(QString, reserve);
    QFETCH(QString, cardLanguages);
    QFETCH(int, current);
    Setup s;
    // The run stops at the first request: what remains is the language step.
    QVERIFY(s.start(1, "[faults]\n/files/varnohub/get_product_names.asp => status 500\n"));
    s.input.selectedLanguageId = selected;
    s.input.reserveLanguageId = reserve;
    QVERIFY(!s.run().ok);

    TIniFiles card(s.ws.filePath("card/varno/language.ini"), false);
    QStringList ids;
    for (int i = 1; i <= LanguageFiles::countLanguages(card); ++i) {
        const QString section = QStringLiteral("lingua%1").arg(i);
        ids << card.readString(section, "idlingua")
                + (card.readString(section, "reserve") == QLatin1String("1") ? "*" : "");
    }
    QCOMPARE(ids.join(QLatin1Char(' ')), cardLanguages);
    QCOMPARE(card.readInt("selected", "currentlanguage", 10, 0), current);
    if (selected == QLatin1String("eng"))
        QCOMPARE(card.readString("lingua3", "file"), QStringLiteral("translations/main_eng.lng"));
}

void TestUpdatePlanner::failures_data()
{
    QTest::addColumn<QByteArray>("catalogue");
    QTest::addColumn<QString>("lastRequest");

    const QByteArray fault = "[faults]\n/files/varnohub/";
    QTest::newRow("product names") << fault + "get_product_names.asp => status 500\n"
                                   << "get_product_names.asp";
    QTest::newRow("language version")
        << fault + "praxo/software_varno/languages/version_languages.txt => status 404\n"
        << "version_languages.txt";
    QTest::newRow("PC version") << fault + "praxo/software_varno/pc/version_pc.txt => status 500\n"
                                << "version_pc.txt";
    QTest::newRow("instrument version")
        << fault + "praxo/software_varno/palm/version_palm.txt => status 500\n"
        << "version_palm.txt";
    QTest::newRow("NOT FOUND inside a longer answer") << QByteArray(
        "[answers]\n/files/varnohub/get_filebbad2download.asp?password=DEMO0001&bbadversion=0.90"
        "&wdir=standard_product&customization=praxo => /x.zip:bbadfile\\r\\nERROR: NOT FOUND\n")
                                                      << "get_filebbad2download.asp";
    QTest::newRow("download answer with an error status") << fault + "get_file2download.asp => status 500\n"
                                                          << "get_file2download.asp";
    QTest::newRow("database version") << fault + "database_auto/version.txt => status 404\n"
                                      << "database_auto/version.txt";
}

void TestUpdatePlanner::failures()
{
    QFETCH(QByteArray, catalogue);
    QFETCH(QString, lastRequest);
    Setup s;
    QVERIFY(s.start(2, catalogue));

    const PlanResult result = s.run();
    QVERIFY(!result.ok);
    QVERIFY(!result.failedAt.isEmpty());
    QVERIFY2(s.service.requestLines().constLast().contains(lastRequest),
             qPrintable(s.service.requestLines().constLast()));
    // The language choice stays recorded; the work folder is not touched.
    QCOMPARE(s.ws.readFile("language.ini"), dataFile("expected/language.ini"));
    QCOMPARE(s.ws.readFile("work/old_package.zip"), QByteArray("old"));
    QVERIFY(!QFile::exists(s.ws.filePath("work/update.ini")));
}

void TestUpdatePlanner::softwareVersions_data()
{
    QTest::addColumn<QByteArray>("localLanguages");
    QTest::addColumn<QByteArray>("serverLanguages");
    QTest::addColumn<QString>("localProgram");
    QTest::addColumn<QByteArray>("serverProgram");
    QTest::addColumn<bool>("incrementalThere");
    QTest::addColumn<QStringList>("packages"); // file names of the PC entries

    const QStringList languages { "translations.zip", "flags_pc.zip" };
    QTest::newRow("equal") << QByteArray("1.1") << QByteArray("1.1") << "3.70" << QByteArray("3.70") << true
                           << QStringList();
    QTest::newRow("3.10 equals 3.1") << QByteArray("3.10") << QByteArray("3.1") << "3.7" << QByteArray("3.70")
                                     << true << QStringList();
    QTest::newRow("newer languages, incremental")
        << QByteArray("1.0") << QByteArray("1.1") << "3.60" << QByteArray("3.70") << true
        << languages + QStringList { "release_3.60-3.70.zip" };
    QTest::newRow("incremental missing, full")
        << QByteArray("1.1") << QByteArray("1.1") << "3.60" << QByteArray("3.70") << false
        << QStringList { "release_0-3.70.zip" };
    QTest::newRow("no program installed")
        << QByteArray("1.1") << QByteArray("1.1") << "" << QByteArray("3.70") << true
        << QStringList { "release_0-3.70.zip" };
    QTest::newRow("version file not a number")
        << QByteArray("1.1") << QByteArray("new") << "3.60" << QByteArray("latest") << true << QStringList();
    QTest::newRow("newer but no package")
        << QByteArray("1.1") << QByteArray("1.1") << "3.60" << QByteArray("3.80") << true << QStringList();
}

void TestUpdatePlanner::softwareVersions()
{
    QFETCH(QByteArray, localLanguages);
    QFETCH(QByteArray, serverLanguages);
    QFETCH(QString, localProgram);
    QFETCH(QByteArray, serverProgram);
    QFETCH(bool, incrementalThere);
    QFETCH(QStringList, packages);
    Setup s;
    QVERIFY(s.start(0));
    QVERIFY(s.ws.writeFile("language.ini", "[version]\nversion_languages=" + localLanguages + "\n"));
    QVERIFY(s.service.writeFile("praxo/software_varno/languages/version_languages.txt", serverLanguages));
    QVERIFY(s.service.writeFile("praxo/software_varno/pc/version_pc.txt", serverProgram));
    if (!incrementalThere)
        QVERIFY(QFile::remove(s.service.root() + "/praxo/software_varno/pc/release_3.60-3.70.zip"));
    s.programVersions.insert("main.exe", localProgram);

    const PlanResult result = s.run();
    QVERIFY(result.ok);
    QStringList names;
    for (const QString &entry : result.downloadList.filter(QStringLiteral(":varno_pc")))
        names << entry.section(QLatin1Char('/'), -1).section(QLatin1Char(':'), 0, 0);
    QCOMPARE(names, packages);
    // Without an installed program the incremental package from "" is asked
    // for first, then the full one.
    QCOMPARE(s.logged(QStringLiteral("get_filesize.asp?file=/files/varnohub/praxo/software_varno/pc/release_-")),
             localProgram.isEmpty());
}

void TestUpdatePlanner::notifier_data()
{
    QTest::addColumn<QString>("installed"); // registry version
    QTest::addColumn<bool>("programThere");
    QTest::addColumn<QByteArray>("catalogue");
    QTest::addColumn<bool>("wanted");

    QTest::newRow("not installed") << "1.20" << false << QByteArray() << true;
    QTest::newRow("current") << "1.20" << true << QByteArray() << false;
    QTest::newRow("older") << "1.10" << true << QByteArray() << true;
    QTest::newRow("answer not fetched")
        << "0.00" << false
        << QByteArray("[faults]\n/files/varnohub/pal_ov_balloon/version.txt => "
                      "status 500\n")
        << false;
}

void TestUpdatePlanner::notifier()
{
    QFETCH(QString, installed);
    QFETCH(bool, programThere);
    QFETCH(QByteArray, catalogue);
    QFETCH(bool, wanted);
    Setup s;
    QVERIFY(s.start(0, catalogue));
    TRegistrySettings *registry = TRegistrySettings::instance("NotificaAggiornamenti");
    QVERIFY(registry);
    registry->setValue("Versione", installed);
    TRegistrySettings::release();
    if (programThere) {
        const QString program = Platform::orvaneFolder() + "ov_update_notify/OVUpdateNotify.exe";
        QVERIFY(QDir().mkpath(QFileInfo(program).absolutePath()));
        QFile file(program);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    const PlanResult result = s.run();
    QVERIFY(result.ok);
    QCOMPARE(balloonEntries(result).size(), wanted ? 1 : 0);
    if (wanted)
        QCOMPARE(result.downloadList.constLast(),
                 QStringLiteral("/files/varnohub/pal_ov_balloon/balloon.zip:balloon"));
    // The handle was given back: another key can be opened now.
    QVERIFY(TRegistrySettings::instance("praxo"));
    TRegistrySettings::release();
}

void TestUpdatePlanner::withoutDatabases()
{
    Setup s;
    QVERIFY(s.start(0));
    s.input.databaseFolders.clear();
    const PlanResult result = s.run();
    QVERIFY(result.ok);
    QVERIFY(!s.logged(QStringLiteral("database_auto")));
    QVERIFY(result.downloadList.filter(QStringLiteral(":database_auto")).isEmpty());
    QVERIFY(!s.ws.readFile("work/syslang.ini").contains("database_auto"));
}

QTEST_MAIN(TestUpdatePlanner)
#include "tst_updateplanner.moc"
