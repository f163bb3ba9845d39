// Reading rules of the language files and the recording of installed versions.
#include "language/languagefiles.h"
#include "platform/platform.h"
#include "settings/tinifiles.h"
#include "support/workspace.h"

#include <QDate>
#include <QtTest>

using namespace LanguageFiles;

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
    void recordsInstalledVersions_data();
    void recordsInstalledVersions();
    void missingWorkFileRecordsNothing();
};

// clang-format off
void TestLanguageFiles::countLanguages_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("count");
    QTest::newRow("numbered and extra") << QByteArray("[lingua1]\na=1\n[lingua2]\na=1\n[Lingua_extra]\na=1\n") << 3;
    QTest::newRow("word anywhere, any case") << QByteArray("[myLINGUAx]\na=1\n[selected]\na=1\n") << 1;
    QTest::newRow("none") << QByteArray("[selected]\na=1\n") << 0;
}

// windowsCodePage is the code page MultiByteToWideChar decodes such a name
// with on Windows; here the same rows go through iconv.
void TestLanguageFiles::decodeDisplayName_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<uint>("windowsCodePage");
    const QString francais = QString::fromUtf8("Français");
    const QString russkij = QString::fromUtf8("Русский");
    const QByteArray utf8 = "Fran\xc3\xa7" "ais";
    const QByteArray latin1 = "Fran\xe7" "ais";
    QTest::newRow("utf-8 named utf-8") << utf8 << "UTF-8" << francais << 65001u;
    QTest::newRow("utf-8, latin-1 is identity") << utf8 << "ISO8859-1" << francais << 28591u;
    QTest::newRow("latin1 alias") << utf8 << "latin1" << francais << 28591u;
    QTest::newRow("unknown codec keeps utf-8") << utf8 << "NoSuchCodec" << francais << 0u;
    QTest::newRow("empty codec name is unknown") << utf8 << "" << francais << 0u;
    QTest::newRow("code page bytes, latin-1") << latin1 << "ISO8859-1" << francais << 28591u;
    QTest::newRow("code page bytes, unknown codec") << latin1 << "NoSuchCodec" << francais << 0u;
    QTest::newRow("koi8-r bytes") << QByteArray("\xf2\xd5\xd3\xd3\xcb\xc9\xca") << "KOI8-R" << russkij << 20866u;
    QTest::newRow("windows-1251 bytes") << QByteArray("\xd0\xf3\xf1\xf1\xea\xe8\xe9") << "windows-1251" << russkij << 1251u;
    QTest::newRow("iso 8859-5 with a blank") << QByteArray("\xc0\xe3\xe1\xe1\xda\xd8\xd9") << "ISO 8859-5" << russkij << 28595u;
    QTest::newRow("ibm 850 bytes") << latin1.left(4) + "\x87" "ais" << "IBM 850" << francais << 850u;
    QTest::newRow("shift_jis bytes") << QByteArray("\x93\xfa\x96\x7b\x8c\xea") << "Shift_JIS" << QString::fromUtf8("日本語") << 932u;
    QTest::newRow("windows-1252 via utf-8") << QByteArray("\xc2\x80") << "windows-1252" << QString::fromUtf8("€") << 1252u;
    QTest::newRow("iso8859-15 byte") << QByteArray("\xa4") << "ISO8859-15" << QString::fromUtf8("€") << 28605u;
    QTest::newRow("beyond latin-1 stays utf-8") << QByteArray("\xce\x95\xce\xbb") << "ISO8859-1" << QString::fromUtf8("Ελ") << 28591u;
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
    QTest::newRow("two reserves: the later") << three + "[selected]\nselected_currentlanguage=2\n" << 0 << "fra" << "rus";
    QTest::newRow("no selection, default 0") << three << 0 << "ita" << "rus";
    QTest::newRow("no selection, default 3") << three << 3 << "rus" << "rus";
    QTest::newRow("selection past the end") << three + "[selected]\nselected_currentlanguage=7\n" << 0 << "ita" << "rus";
    // Only lingua1..linguaC count: a reserve in lingua5 of a two-language file is not seen.
    QTest::newRow("reserve beyond count") << QByteArray("[lingua1]\nlingua1_idlingua=deu\n[lingua5]\nlingua5_reserve=1\n")
                                          << 1 << "deu" << "";
    QTest::newRow("missing file") << QByteArray() << 0 << "ita" << "";
}

void TestLanguageFiles::versionNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("number");
    QTest::newRow("3.10 is 3.1") << "3.10" << 3.1;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("not a number") << "v2" << 0.0;
    QTest::newRow("comma") << "2,5" << 0.0;
}

void TestLanguageFiles::recordsInstalledVersions_data()
{
    QTest::addColumn<bool>("pc");
    QTest::addColumn<bool>("card");
    // The installed files before the run: 2.5 -> 2.10 is not a raise (2.5 > 2.1), 2.9 -> 3.0 is.
    const QByteArray installed = "[release]\nrelease_=2.5\nrelease_moto_files=2.9\n";
    const QByteArray common = "[datapack]\ndatapack_moto_files=TODAY\n"
                              "[db_auto]\ndb_auto_version=5.5\n[db_moto]\ndb_moto_version=0.00\n"
                              "[mit]\nmit_eng=\nmit_ita=7.0\n[mitmoto_files]\nmitmoto_files_eng=\nmitmoto_files_ita=\n"
                              "[release]\nrelease_=2.10\nrelease_moto_files=3.0\n";
    // "ing" keys and the "rmd" section only on the PC; an empty "ing" is not copied.
    const QByteArray pc = "[ad]\nad_eng=4.1\nad_ing=4.0\nad_ita=4.2\n[admoto_files]\nadmoto_files_eng=\nadmoto_files_ita=1.3\n"
                          + common + "[rmd]\nrmd_eng=\nrmd_ing=0.9\nrmd_ita=1.1\n";
    const QByteArray card = "[ad]\nad_eng=4.1\nad_ita=4.2\n[admoto_files]\nadmoto_files_eng=\nadmoto_files_ita=1.3\n" + common;
    QTest::addColumn<QByteArray>("pcAfter");
    QTest::addColumn<QByteArray>("cardAfter");
    QTest::newRow("pc only") << true << false << pc << installed;
    QTest::newRow("card only") << false << true << installed << card;
    QTest::newRow("both") << true << true << pc << card;
}
// clang-format on

void TestLanguageFiles::countLanguages()
{
    QFETCH(QByteArray, content);
    QFETCH(int, count);
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("language.ini"), content));
    TIniFiles ini(QStringLiteral("language.ini"), false);
    QCOMPARE(LanguageFiles::countLanguages(ini), count);
}

void TestLanguageFiles::decodeDisplayName()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, codec);
    QFETCH(QString, shown);
    QFETCH(uint, windowsCodePage);
    QCOMPARE(LanguageFiles::decodeDisplayName(QString::fromLatin1(stored), codec), shown);
    QCOMPARE(Platform::windowsCodePage(codec), windowsCodePage);
}

void TestLanguageFiles::readsDisplayNamesFromFile()
{
    TIniFiles ini(QStringLiteral(UPDATE_HUB_TEST_DATA "/language/language.ini"), false);
    const QString description = QStringLiteral("description");
    const QString codec = QStringLiteral("unicodecodecname");
    QCOMPARE(readDisplayName(ini, QStringLiteral("lingua2"), description, codec),
             QString::fromUtf8("Français"));
    QCOMPARE(readDisplayName(ini, QStringLiteral("lingua3"), description, codec),
             QString::fromUtf8("Русский"));
    QCOMPARE(readDisplayName(ini, QStringLiteral("lingua9"), description, codec), QStringLiteral("Italiano"));
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

void TestLanguageFiles::versionNumber()
{
    QFETCH(QString, text);
    QFETCH(double, number);
    QCOMPARE(LanguageFiles::versionNumber(text), number);
}

void TestLanguageFiles::recordsInstalledVersions()
{
    QFETCH(bool, pc);
    QFETCH(bool, card);
    QFETCH(QByteArray, pcAfter);
    QFETCH(QByteArray, cardAfter);
    const QByteArray installed = "[release]\nrelease_=2.5\nrelease_moto_files=2.9\n";
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("work/syslang.ini"),
                         "[ad]\nad_eng=4.1\nad_ing=4.0\nad_ita=4.2\n[admoto_files]\nadmoto_files_ita=1.3\n"
                         "[lingua]\nlingua_def=eng\nlingua_sel=ita\n[mit]\nmit_ita=7.0\n"
                         "[release]\nrelease_=2.10\nrelease_moto_files=3.0\n[rmd]\nrmd_ing=0.9\nrmd_ita=1.1\n"
                         "[db_auto]\ndb_auto_version=5.5\n"));
    QVERIFY(ws.writeFile(QStringLiteral("syslang.ini"), installed));
    QVERIFY(ws.writeFile(QStringLiteral("card/varno/syslang.ini"), installed));

    recordInstalledVersions(QStringLiteral("./work/syslang.ini"), { QString(), QStringLiteral("moto_files") },
                            { QStringLiteral("db_auto"), QStringLiteral("db_moto") }, pc, card,
                            ws.filePath(QStringLiteral("card/")));

    const QByteArray today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")).toLatin1();
    QCOMPARE(ws.readFile(QStringLiteral("syslang.ini")), pcAfter.replace("TODAY", today));
    QCOMPARE(ws.readFile(QStringLiteral("card/varno/syslang.ini")), cardAfter.replace("TODAY", today));
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
