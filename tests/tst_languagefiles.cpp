// Reading rules of the language files and the recording of installed versions.
#include "language/languagefiles.h"
#include "settings/tinifiles.h"
#include "support/workspace.h"

#include <QDate>
#include <QFile>
#include <QtTest>

using namespace LanguageFiles;

namespace {

const QString languageIni = QStringLiteral(UPDATE_HUB_TEST_DATA "/language/language.ini");

// A work file as the update plan prepares it: display "ita", reserve "eng".
const QByteArray workSyslang = "[ad]\nad_eng=4.1\nad_ing=4.0\nad_ita=4.2\n"
                               "[admoto_files]\nadmoto_files_ita=1.3\n"
                               "[lingua]\nlingua_def=eng\nlingua_sel=ita\n"
                               "[mit]\nmit_ita=7.0\n"
                               "[release]\nrelease_=2.10\nrelease_moto_files=3.0\n"
                               "[rmd]\nrmd_ing=0.9\nrmd_ita=1.1\n"
                               "[db_auto]\ndb_auto_version=5.5\n";

// An installed PC file: the car release 2.5 is newer than 2.10 read as a number.
const QByteArray installedSyslang = "[release]\nrelease_=2.5\nrelease_moto_files=2.9\n";

} // namespace

class TestLanguageFiles : public QObject
{
    Q_OBJECT

private slots:
    void countLanguages_data();
    void countLanguages();
    void decodeDisplayName_data();
    void decodeDisplayName();
    void readsDisplayNamesFromFile();
    void currentAndReserveIds_data();
    void currentAndReserveIds();
    void versionNumber_data();
    void versionNumber();
    void recordsPcVersions();
    void recordsCardVersionsWithoutPcOnlyKeys();
    void cardOnlyLeavesPcFileUntouched();
    void missingWorkFileRecordsNothing();
};

void TestLanguageFiles::countLanguages_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("count");
    QTest::newRow("numbered and extra")
        << QByteArray("[lingua1]\na=1\n[lingua2]\na=1\n[Lingua_extra]\na=1\n") << 3;
    QTest::newRow("word anywhere, any case") << QByteArray("[myLINGUAx]\na=1\n[selected]\na=1\n") << 1;
    QTest::newRow("none") << QByteArray("[selected]\na=1\n[version]\na=1\n") << 0;
    QTest::newRow("empty file") << QByteArray() << 0;
}

void TestLanguageFiles::countLanguages()
{
    QFETCH(QByteArray, content);
    QFETCH(int, count);
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("language.ini"), content));
    TIniFiles ini(QStringLiteral("language.ini"), false);
    QCOMPARE(LanguageFiles::countLanguages(ini), count);
}

void TestLanguageFiles::decodeDisplayName_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QString>("shown");

    const QString francais = QString::fromUtf8("Français");
    QTest::newRow("utf-8 named utf-8") << QByteArray("Fran\xc3\xa7"
                                                     "ais")
                                       << "UTF-8" << francais;
    QTest::newRow("utf-8, default latin-1 is identity") << QByteArray("Fran\xc3\xa7"
                                                                      "ais")
                                                        << "ISO8859-1" << francais;
    QTest::newRow("latin1 alias") << QByteArray("Fran\xc3\xa7"
                                                "ais")
                                  << "latin1" << francais;
    QTest::newRow("unknown codec keeps utf-8") << QByteArray("Fran\xc3\xa7"
                                                             "ais")
                                               << "NoSuchCodec" << francais;
    QTest::newRow("empty codec name is unknown") << QByteArray("Fran\xc3\xa7"
                                                               "ais")
                                                 << "" << francais;
    QTest::newRow("code page bytes, latin-1") << QByteArray("Fran\xe7"
                                                            "ais")
                                              << "ISO8859-1" << francais;
    QTest::newRow("code page bytes, unknown codec") << QByteArray("Fran\xe7"
                                                                  "ais")
                                                    << "NoSuchCodec" << francais;
    QTest::newRow("koi8-r bytes") << QByteArray("\xf2\xd5\xd3\xd3\xcb\xc9\xca") << "KOI8-R"
                                  << QString::fromUtf8("Русский");
    QTest::newRow("windows-1252 via utf-8")
        << QByteArray("\xc2\x80") << "windows-1252" << QString::fromUtf8("€");
    QTest::newRow("iso8859-15 byte") << QByteArray("\xa4") << "ISO8859-15" << QString::fromUtf8("€");
    QTest::newRow("beyond latin-1 stays utf-8")
        << QByteArray("\xce\x95\xce\xbb") << "ISO8859-1" << QString::fromUtf8("Ελ");
    QTest::newRow("plain ascii") << QByteArray("English") << "KOI8-R"
                                 << "English";
}

void TestLanguageFiles::decodeDisplayName()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, codec);
    QFETCH(QString, shown);
    QCOMPARE(LanguageFiles::decodeDisplayName(QString::fromLatin1(stored), codec), shown);
}

void TestLanguageFiles::readsDisplayNamesFromFile()
{
    TIniFiles ini(languageIni, false);
    const QString description = QStringLiteral("description");
    const QString codec = QStringLiteral("unicodecodecname");
    QCOMPARE(readDisplayName(ini, QStringLiteral("lingua2"), description, codec),
             QString::fromUtf8("Français"));
    QCOMPARE(readDisplayName(ini, QStringLiteral("lingua3"), description, codec),
             QString::fromUtf8("Русский"));
    QCOMPARE(readDisplayName(ini, QStringLiteral("lingua9"), description, codec), QStringLiteral("Italiano"));
}

void TestLanguageFiles::currentAndReserveIds_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("defaultCurrent");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("reserve");

    const QByteArray three = "[lingua1]\nlingua1_idlingua=ita\nlingua1_reserve=1\n"
                             "[lingua2]\nlingua2_idlingua=fra\nlingua2_reserve=0\n"
                             "[lingua3]\nlingua3_idlingua=rus\nlingua3_reserve=1\n";
    QTest::newRow("selected, two reserves: the later") << three + "[selected]\nselected_currentlanguage=2\n"
                                                       << 0 << "fra"
                                                       << "rus";
    QTest::newRow("no selection, default 0 gives ita") << three << 0 << "ita"
                                                       << "rus";
    QTest::newRow("no selection, default 3") << three << 3 << "rus"
                                             << "rus";
    QTest::newRow("selection past the end") << three + "[selected]\nselected_currentlanguage=7\n"
                                            << 0 << "ita"
                                            << "rus";
    QTest::newRow("no reserve") << QByteArray("[lingua1]\nlingua1_idlingua=deu\n") << 1 << "deu"
                                << "";
    // Only lingua1..linguaC are looked at: a reserve in lingua5 of a two-language file is not seen.
    QTest::newRow("reserve beyond count")
        << QByteArray("[lingua1]\nlingua1_idlingua=deu\n"
                      "[lingua5]\nlingua5_idlingua=spa\nlingua5_reserve=1\n")
        << 1 << "deu"
        << "";
    QTest::newRow("missing file") << QByteArray() << 0 << "ita"
                                  << "";
}

void TestLanguageFiles::currentAndReserveIds()
{
    QFETCH(QByteArray, content);
    QFETCH(int, defaultCurrent);
    QFETCH(QString, current);
    QFETCH(QString, reserve);
    TestWorkspace ws;
    if (!content.isEmpty())
        QVERIFY(ws.writeFile(QStringLiteral("language.ini"), content));
    TIniFiles ini(QStringLiteral("language.ini"), false);
    QCOMPARE(currentLanguageId(ini, defaultCurrent), current);
    QCOMPARE(reserveLanguageId(ini), reserve);
}

void TestLanguageFiles::versionNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("number");
    QTest::newRow("3.10 is 3.1") << "3.10" << 3.1;
    QTest::newRow("2.5") << "2.5" << 2.5;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("not a number") << "v2" << 0.0;
    QTest::newRow("comma is not a decimal point") << "2,5" << 0.0;
}

void TestLanguageFiles::versionNumber()
{
    QFETCH(QString, text);
    QFETCH(double, number);
    QCOMPARE(LanguageFiles::versionNumber(text), number);
}

void TestLanguageFiles::recordsPcVersions()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("work/syslang.ini"), workSyslang));
    QVERIFY(ws.writeFile(QStringLiteral("syslang.ini"), installedSyslang));
    recordInstalledVersions(QStringLiteral("./work/syslang.ini"), { QString(), QStringLiteral("moto_files") },
                            { QStringLiteral("db_auto"), QStringLiteral("db_moto") }, true, false, QString());

    TIniFiles pc(QStringLiteral("syslang.ini"), false);
    const QString none = QStringLiteral("ABSENT");
    auto read = [&](const char *section, const char *key) {
        return pc.readString(QString::fromLatin1(section), QString::fromLatin1(key), none);
    };
    QCOMPARE(read("ad", "ita"), QStringLiteral("4.2"));
    QCOMPARE(read("ad", "eng"), QStringLiteral("4.1"));
    QCOMPARE(read("ad", "ing"), QStringLiteral("4.0"));
    QCOMPARE(read("admoto_files", "ita"), QStringLiteral("1.3"));
    QCOMPARE(read("admoto_files", "eng"), QString()); // absent in the work file: written empty
    QCOMPARE(read("admoto_files", "ing"), none); // empty "ing" is not copied
    QCOMPARE(read("mit", "ita"), QStringLiteral("7.0"));
    QCOMPARE(read("mitmoto_files", "ita"), QString());
    QCOMPARE(read("release", ""), QStringLiteral("2.10"));
    QCOMPARE(read("release", "moto_files"), QStringLiteral("3.0"));
    QCOMPARE(read("datapack", ""), none); // 2.5 -> 2.10 is not a raise
    QCOMPARE(read("datapack", "moto_files"), QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    QCOMPARE(read("rmd", "ita"), QStringLiteral("1.1"));
    QCOMPARE(read("rmd", "eng"), QString());
    QCOMPARE(read("rmd", "ing"), QStringLiteral("0.9"));
    QCOMPARE(read("db_auto", "version"), QStringLiteral("5.5"));
    QCOMPARE(read("db_moto", "version"), QStringLiteral("0.00"));
}

void TestLanguageFiles::recordsCardVersionsWithoutPcOnlyKeys()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("work/syslang.ini"), workSyslang));
    QVERIFY(ws.writeFile(QStringLiteral("card/varno/syslang.ini"), installedSyslang));
    recordInstalledVersions(QStringLiteral("./work/syslang.ini"), { QString(), QStringLiteral("moto_files") },
                            { QStringLiteral("db_auto") }, false, true, ws.filePath(QStringLiteral("card/")));

    TIniFiles card(ws.filePath(QStringLiteral("card/varno/syslang.ini")), false);
    const QString none = QStringLiteral("ABSENT");
    QCOMPARE(card.readString(QStringLiteral("ad"), QStringLiteral("ita"), none), QStringLiteral("4.2"));
    QCOMPARE(card.readString(QStringLiteral("ad"), QStringLiteral("ing"), none), none);
    QStringList sections;
    card.sectionNames(sections);
    QVERIFY(!sections.contains(QStringLiteral("rmd")));
    QCOMPARE(card.readString(QStringLiteral("release"), QString(), none), QStringLiteral("2.10"));
    QCOMPARE(card.readString(QStringLiteral("datapack"), QString(), none), none);
    QCOMPARE(card.readString(QStringLiteral("datapack"), QStringLiteral("moto_files"), none),
             QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    QCOMPARE(card.readString(QStringLiteral("db_auto"), QStringLiteral("version"), none),
             QStringLiteral("5.5"));
}

void TestLanguageFiles::cardOnlyLeavesPcFileUntouched()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("work/syslang.ini"), workSyslang));
    QVERIFY(ws.writeFile(QStringLiteral("syslang.ini"), installedSyslang));
    QVERIFY(ws.makeDir(QStringLiteral("card/varno")));
    recordInstalledVersions(QStringLiteral("./work/syslang.ini"), { QString() }, {}, false, true,
                            ws.filePath(QStringLiteral("card/")));
    QCOMPARE(ws.readFile(QStringLiteral("syslang.ini")), installedSyslang);
    QVERIFY(ws.readFile(QStringLiteral("card/varno/syslang.ini")).contains("release_=2.10\n"));
}

void TestLanguageFiles::missingWorkFileRecordsNothing()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("syslang.ini"), "[ad]\nad_ita=4.2\n"));
    recordInstalledVersions(QStringLiteral("./work/syslang.ini"), { QString() },
                            { QStringLiteral("db_auto") }, true, false, QString());
    QCOMPARE(ws.readFile(QStringLiteral("syslang.ini")), QByteArray("[ad]\nad_ita=4.2\n"));
}

QTEST_GUILESS_MAIN(TestLanguageFiles)
#include "tst_languagefiles.moc"
