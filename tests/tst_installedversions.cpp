// Installed-versions record: every value for a PC product and for the card
// product, the defaults of missing files, release files that are empty or
// binary, and the record as the notifier reads it back from the user settings.
#include "service/installedversions.h"
#include "settings/tregistrysettings.h"
#include "support/workspace.h"

#include <QDir>
#include <QSettings>
#include <QtTest>

#include <memory>

using namespace InstalledVersions;

class TestInstalledVersions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void firstLine_data();
    void firstLine();
    void pcProductValues();
    void cardProductValues();
    void defaultsWithoutFiles();
    void recordReadBack();
    void refusedWhileAnotherKeyIsOpen();

private:
    // QSettings fixes the user folder at its first use, so one private home serves every test.
    std::unique_ptr<TestWorkspace> ws;
    QStringList programsAsked;
    VersionReader reader;
};

namespace {

Inputs pcInputs(const QString &cardRoot)
{
    Inputs inputs;
    inputs.productFolder = QStringLiteral("praxo_sw");
    inputs.dataFolder = QStringLiteral("praxo_db");
    inputs.referenceDataFolder = QStringLiteral("praxo_td");
    inputs.languageId = QStringLiteral("ita");
    inputs.defaultLanguage = QStringLiteral("eng");
    inputs.cardRoot = cardRoot;
    return inputs;
}

QStringList names(const Values &values)
{
    QStringList list;
    for (const auto &value : values)
        list << value.first;
    return list;
}

QString valueOf(const Values &values, const QString &name)
{
    for (const auto &value : values) {
        if (value.first == name)
            return value.second;
    }
    return QStringLiteral("<absent>");
}

} // namespace

void TestInstalledVersions::initTestCase()
{
    ws = std::make_unique<TestWorkspace>();
    QVERIFY(ws->isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       ws->home() + QStringLiteral("/.config"));
    reader = [this](const QString &program) {
        programsAsked << program;
        return QStringLiteral("4.21");
    };
}

void TestInstalledVersions::init()
{
    programsAsked.clear();
    // Each test starts from an empty working folder.
    QDir work(ws->path());
    const QStringList entries = work.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &entry : entries) {
        QFileInfo info(work.filePath(entry));
        if (info.isDir())
            QDir(info.filePath()).removeRecursively();
        else
            QFile::remove(info.filePath());
    }
}

void TestInstalledVersions::cleanup()
{
    TRegistrySettings::release();
}

void TestInstalledVersions::firstLine_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("line");
    QTest::newRow("number and line end") << QByteArray("2.15\nsecond\n") << "2.15\n";
    QTest::newRow("crlf read in text mode") << QByteArray("2.15\r\nsecond\r\n") << "2.15\n";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("binary") << QByteArray("\xff\xfe\x01z\nrest", 9) << QString::fromLatin1("\xff\xfe\x01z\n");
    QTest::newRow("binary without line ends") << QByteArray(100000, '\xab') << QString(4095, QChar(0xab));
}

void TestInstalledVersions::firstLine()
{
    QFETCH(QByteArray, content);
    QVERIFY(ws->writeFile(QStringLiteral("rel.txt"), content));
    QTEST(InstalledVersions::firstLine(QStringLiteral("rel.txt")), "line");
    QCOMPARE(InstalledVersions::firstLine(QStringLiteral("missing.txt")), QStringLiteral("0.00"));
}

void TestInstalledVersions::pcProductValues()
{
    QVERIFY(
        ws->writeFile(QStringLiteral("http_server.ini"), "[server]\naddress=svc.example\nsubdir=praxo\n"));
    QVERIFY(ws->writeFile(QStringLiteral("syslang.ini"),
                          "[ad]\nad_ita=12.5\nad_eng=1\n[admoto_files]\nadmoto_files_ita=3\n"
                          "[adtruck_files]\nadtruck_files_ita=4\n[rmd]\nrmd_ita=9\n"));
    QVERIFY(ws->writeFile(QStringLiteral("rel_db_auto.txt"), "2.15\r\n"));
    QVERIFY(ws->writeFile(QStringLiteral("rel_db_moto.txt"), ""));
    QVERIFY(ws->writeFile(QStringLiteral("rel_db_truck.txt"), "5.5"));

    const QString h = QStringLiteral("http://svc.example/files/varnohub/");
    const Values expected {
        { "Language", "ita" },
        { "DefaultLanguage", "eng" },
        { "SwVersion", "4.21" },
        { "UpVersion", "3.65" },
        { "DiagAuto", "12.5" },
        { "DiagMoto", "3" },
        { "DiagTruck", "4" },
        { "UrlSwVersion", h + "get_filecontents.asp?file=praxo_sw/software_varno/pc/version_pc.txt" },
        { "UrlUpVersion",
          h + "get_filecontents.asp?file=praxo_sw/update_software_varno_update/pc/ver_update.txt" },
        { "UrlDiagAuto",
          h + "get_max_bbad_release_lingue.asp?workdir_product=&customization=praxo_sw&language=ita" },
        { "UrlDiagMoto",
          h
              + "get_max_bbad_release_lingue.asp?workdir_product=moto_files&customization=praxo_sw&language="
                "ita" },
        { "UrlDiagTruck",
          h
              + "get_max_bbad_release_lingue.asp?workdir_product=truck_files&customization=praxo_sw&language="
                "ita" },
        { "Remedo", "9" },
        { "DbAuto", "2.15\n" },
        { "DbAutoTd", "0.00" },
        { "DbMoto", "" },
        { "DbTruck", "5.5" },
        { "UrlRemedo", h + "remedo/version_rmd.txt" },
        { "UrlDbAuto", h + "praxo_db/database/rel_db_auto.txt" },
        { "UrlDbAutoTd", h + "praxo_td/rel_db_techdoc.txt" },
        { "UrlDbMoto", h + "praxo_db/moto_files/database/rel_db_moto.txt" },
        { "UrlDbTruck", h + "praxo_db/truck_files/database/rel_db_truck.txt" },
    };
    QCOMPARE(values(pcInputs(ws->filePath(QStringLiteral("card/"))), reader), expected);
    QCOMPARE(programsAsked, QStringList { QStringLiteral("main.exe") });
}

void TestInstalledVersions::cardProductValues()
{
    const QString cardRoot = ws->filePath(QStringLiteral("card")) + QLatin1Char('/');
    // The card's language file counts; the PC's is ignored for the card product.
    QVERIFY(ws->writeFile(QStringLiteral("syslang.ini"), "[ad]\nad_ita=1\n"));
    QVERIFY(ws->writeFile(QStringLiteral("card/varno/syslang.ini"), "[ad]\nad_ita=7\n[rmd]\nrmd_ita=9\n"));
    QVERIFY(ws->writeFile(QStringLiteral("rel_db_auto.txt"), "2.15\n"));
    Inputs inputs = pcInputs(cardRoot);
    inputs.productFolder = QStringLiteral("pal_aster");

    const Values card = values(inputs, reader);
    QCOMPARE(names(card),
             QStringList({ "Language", "DefaultLanguage", "SwVersion", "UpVersion", "DiagAuto", "DiagMoto",
                           "DiagTruck", "UrlSwVersion", "UrlUpVersion", "UrlDiagAuto", "UrlDiagMoto",
                           "UrlDiagTruck" }));
    QCOMPARE(values(pcInputs(cardRoot), reader).size() - card.size(), 10);
    QCOMPARE(valueOf(card, QStringLiteral("DiagAuto")), QStringLiteral("7"));
    QCOMPARE(valueOf(card, QStringLiteral("DiagMoto")), QStringLiteral("0"));
    QVERIFY(valueOf(card, QStringLiteral("UrlSwVersion"))
                .endsWith(QStringLiteral("=pal_aster/software_varno/palm/version_palm.txt")));
    QCOMPARE(programsAsked.first(), cardRoot + QStringLiteral("varno/main"));
}

void TestInstalledVersions::defaultsWithoutFiles()
{
    // No http_server.ini, no language file, no release files, no version marker.
    const Values all = values(pcInputs(QString()), [](const QString &) { return QString(); });
    for (const char *name : { "DiagAuto", "DiagMoto", "DiagTruck", "Remedo" })
        QCOMPARE(valueOf(all, QString::fromLatin1(name)), QStringLiteral("0"));
    for (const char *name : { "DbAuto", "DbAutoTd", "DbMoto", "DbTruck" })
        QCOMPARE(valueOf(all, QString::fromLatin1(name)), QStringLiteral("0.00"));
    QCOMPARE(valueOf(all, QStringLiteral("SwVersion")), QString());
    for (const auto &value : all) {
        if (value.first.startsWith(QLatin1String("Url")))
            QVERIFY2(value.second.startsWith(QLatin1String("http://update.orvane.com/files/varnohub/")),
                     qPrintable(value.second));
    }
}

void TestInstalledVersions::recordReadBack()
{
    QVERIFY(ws->writeFile(QStringLiteral("rel_db_auto.txt"), "2.15\n"));
    QVERIFY(ws->writeFile(QStringLiteral("syslang.ini"), "[ad]\nad_ita=12.5\n"));
    const Inputs inputs = pcInputs(QString());
    QVERIFY(record(inputs, reader));
    // Released: another key may be opened now.
    QVERIFY(TRegistrySettings::instance(QStringLiteral("other")));
    TRegistrySettings::release();

    QSettings stored(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Orvane"),
                     QStringLiteral("praxo_sw"));
    const Values expected = values(inputs, reader);
    QCOMPARE(stored.allKeys().size(), expected.size() + 1); // and InstallDir
    for (const auto &value : expected)
        QCOMPARE(stored.value(value.first).toString(), value.second);
    QCOMPARE(stored.value(QStringLiteral("DbAuto")).toString(), QStringLiteral("2.15\n"));
    QVERIFY(stored.contains(QStringLiteral("InstallDir")));
}

void TestInstalledVersions::refusedWhileAnotherKeyIsOpen()
{
    QVERIFY(TRegistrySettings::instance(QStringLiteral("NotificaAggiornamenti")));
    Inputs inputs = pcInputs(QString());
    inputs.productFolder = QStringLiteral("refused_sw");
    QVERIFY(!record(inputs, reader));
    TRegistrySettings::release();
    QSettings stored(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Orvane"),
                     QStringLiteral("refused_sw"));
    QVERIFY(stored.allKeys().isEmpty());

    inputs.productFolder.clear();
    QVERIFY(!record(inputs, reader));

    // A folder name from the service that climbs out of the maker's key
    // writes nothing, here or beside the settings folder.
    inputs.productFolder = QStringLiteral("../../escaped");
    QVERIFY(!record(inputs, reader));
    QVERIFY(!QFile::exists(ws->home() + QStringLiteral("/escaped.conf")));
    QVERIFY(!QFile::exists(ws->home() + QStringLiteral("/.config/escaped.conf")));
}

QTEST_GUILESS_MAIN(TestInstalledVersions)
#include "tst_installedversions.moc"
