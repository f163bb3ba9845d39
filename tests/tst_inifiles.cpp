// The program's own INI syntax: what a file reads as, what writing produces,
// and that odd bytes and odd files never lose data or crash.
#include "settings/tinifiles.h"
#include "support/workspace.h"

#include <QFile>
#include <QtTest>

namespace {

const QString fileName = QStringLiteral("test.ini");

} // namespace

class TestIniFiles : public QObject
{
    Q_OBJECT

private slots:
    void readsFileSyntax_data();
    void readsFileSyntax();
    void readInt_data();
    void readInt();
    void writesSortedSectionsWithoutBlankLines();
    void updatesCapitalisedFileInPlace();
    void roundTripsValues_data();
    void roundTripsValues();
    void lineBreaksCannotForgeEntries();
    void utf8Strings();
    void rewriteKeepsEntriesBeforeFirstSection();
    void rewriteOfCrLfFileAddsNoEmptyKeys();
    void sectionNames();
    void missingFileIsNotCreatedByReading();
    void hostileFilesNeverCrash_data();
    void hostileFilesNeverCrash();
    void otherExtensionsUseSameSyntax();
};

void TestIniFiles::readsFileSyntax_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("plainKeys");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("crlf and capitals, plain keys")
        << QByteArray("[LinGua]\r\nDefault=ita\r\n") << true << "LINGUA"
        << "Default"
        << "ita";
    QTest::newRow("key in other case") << QByteArray("[Lingua1]\nLingua1_IDLingua=x\n") << false << "LINGUA1"
                                       << "idlingua"
                                       << "x";
    QTest::newRow("plain key in other case") << QByteArray("[list]\nCount=3\n") << true << "list"
                                             << "count"
                                             << "3";
    QTest::newRow("blanks around = kept") << QByteArray("[s]\nkey = value\n") << true << "s"
                                          << "key "
                                          << " value";
    QTest::newRow("blank-free key misses it") << QByteArray("[s]\nkey = value\n") << true << "s"
                                              << "key"
                                              << "DEFAULT";
    QTest::newRow("further = in value") << QByteArray("[s]\nk=a=b=\n") << true << "s"
                                        << "k"
                                        << "a=b=";
    QTest::newRow("line without =") << QByteArray("[s]\nflag\n") << true << "s"
                                    << "flag"
                                    << "";
    QTest::newRow("text after ] ignored") << QByteArray("[s] old\nk=v\n") << true << "s"
                                          << "k"
                                          << "v";
    QTest::newRow("indented header is an entry") << QByteArray("[a]\n [b]\nk=v\n") << true << "a"
                                                 << "k"
                                                 << "v";
    QTest::newRow("odd section name not a header") << QByteArray("[a]\n[my-sec]\nk=v\n") << true << "a"
                                                   << "k"
                                                   << "v";
    QTest::newRow("no comment syntax") << QByteArray("[s]\n;k=v\n") << true << "s"
                                       << ";k"
                                       << "v";
    QTest::newRow("later duplicate wins") << QByteArray("[s]\nk=1\nk=2\n") << true << "s"
                                          << "k"
                                          << "2";
    QTest::newRow("latin-1 byte") << QByteArray("[s]\nk=caf\xe9\n") << true << "s"
                                  << "k" << QString::fromUtf8("café");
    QTest::newRow("no final line end") << QByteArray("[s]\nk=v") << true << "s"
                                       << "k"
                                       << "v";
    QTest::newRow("entry before any section unreachable") << QByteArray("k=v\n[s]\n") << true << ""
                                                          << "k"
                                                          << "DEFAULT";
}

void TestIniFiles::readsFileSyntax()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, plainKeys);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    TestWorkspace ws;
    QVERIFY(ws.writeFile(fileName, content));
    TIniFiles ini(fileName, plainKeys);
    QCOMPARE(ini.readString(section, key, QStringLiteral("DEFAULT")), expected);
}

void TestIniFiles::readInt_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("base");
    QTest::addColumn<int>("defaultValue");
    QTest::addColumn<int>("expected");

    QTest::newRow("decimal") << QByteArray("[s]\nk=42\n") << 10 << 7 << 42;
    QTest::newRow("hexadecimal") << QByteArray("[s]\nk=ff\n") << 16 << 7 << 255;
    QTest::newRow("negative") << QByteArray("[s]\nk=-3\n") << 10 << 7 << -3;
    QTest::newRow("not a number") << QByteArray("[s]\nk=12abc\n") << 10 << 7 << 0;
    QTest::newRow("empty value") << QByteArray("[s]\nk=\n") << 10 << 7 << 0;
    QTest::newRow("absent") << QByteArray("[s]\n") << 10 << 7 << 7;
    // The default is returned as given, not re-read in the base.
    QTest::newRow("absent, base 16") << QByteArray("[s]\n") << 16 << 10 << 10;
}

void TestIniFiles::readInt()
{
    QFETCH(QByteArray, content);
    QFETCH(int, base);
    QFETCH(int, defaultValue);
    QFETCH(int, expected);
    TestWorkspace ws;
    QVERIFY(ws.writeFile(fileName, content));
    TIniFiles ini(fileName, true);
    QCOMPARE(ini.readInt(QStringLiteral("s"), QStringLiteral("k"), base, defaultValue), expected);
}

void TestIniFiles::writesSortedSectionsWithoutBlankLines()
{
    TestWorkspace ws;
    {
        TIniFiles ini(fileName, false);
        ini.writeString(QStringLiteral("Version"), QStringLiteral("Languages"), QStringLiteral("1.5"));
        ini.writeInt(QStringLiteral("selected"), QStringLiteral("currentlanguage"), 2);
        ini.writeString(QStringLiteral("Lingua1"), QStringLiteral("IDLingua"), QStringLiteral("ita"));
        ini.writeString(QStringLiteral("Lingua1"), QStringLiteral("Description"), QStringLiteral("Italiano"));
    }
    QCOMPARE(ws.readFile(fileName),
             QByteArray("[lingua1]\n"
                        "lingua1_description=Italiano\n"
                        "lingua1_idlingua=ita\n"
                        "[selected]\n"
                        "selected_currentlanguage=2\n"
                        "[version]\n"
                        "version_languages=1.5\n"));
}

void TestIniFiles::updatesCapitalisedFileInPlace()
{
    TestWorkspace ws;
    QVERIFY(QFile::copy(QStringLiteral(UPDATE_HUB_TEST_DATA "/settings/language_crlf.ini"),
                        ws.filePath(fileName)));
    QFile::setPermissions(ws.filePath(fileName), QFile::ReadOwner | QFile::WriteOwner);
    {
        TIniFiles ini(fileName, false);
        QCOMPARE(ini.readString(QStringLiteral("lingua2"), QStringLiteral("idlingua")),
                 QStringLiteral("eng"));
        QCOMPARE(ini.readInt(QStringLiteral("selected"), QStringLiteral("currentlanguage"), 10, 1), 2);
        ini.writeInt(QStringLiteral("selected"), QStringLiteral("currentlanguage"), 1);
    }
    // One [Selected] section with the stored spelling, no second lower-case copy.
    QCOMPARE(ws.readFile(fileName),
             QByteArray("[Lingua1]\n"
                        "Lingua1_Description=Italiano\n"
                        "Lingua1_IDLingua=ita\n"
                        "[Lingua2]\n"
                        "Lingua2_Description=English\n"
                        "Lingua2_IDLingua=eng\n"
                        "Lingua2_Reserve=1\n"
                        "[Selected]\n"
                        "Selected_CurrentLanguage=1\n"));
}

void TestIniFiles::roundTripsValues_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    QByteArray allBytes;
    for (int b = 1; b < 256; ++b) {
        if (b != '\r' && b != '\n')
            allBytes += char(b);
    }
    QTest::newRow("backslash and percent") << "k%1\\x"
                                           << "C:\\orvane\\100%";
    QTest::newRow("value with =") << "k"
                                  << "a=b";
    QTest::newRow("slash in key") << "pal/ov/balloon"
                                  << "1.0";
    QTest::newRow("latin-1 text") << "k" << QString::fromUtf8("Velocità è");
    QTest::newRow("every byte but line ends") << "k" << QString::fromLatin1(allBytes);
    QTest::newRow("leading and trailing blanks") << " k "
                                                 << "  v  ";
    QTest::newRow("empty value") << "k"
                                 << "";
}

void TestIniFiles::roundTripsValues()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    TestWorkspace ws;
    {
        TIniFiles ini(fileName, true);
        ini.writeString(QStringLiteral("s"), key, value);
    }
    TIniFiles ini(fileName, true);
    QCOMPARE(ini.readString(QStringLiteral("s"), key, QStringLiteral("DEFAULT")), value);
    // QSettings keeps what it wrote in memory; parse the file itself as well.
    QFile file(ws.filePath(fileName));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QSettings::SettingsMap map;
    QVERIFY(TIniFiles::readIniDevice(file, map));
    QCOMPARE(map.value(QStringLiteral("s/") + key).toString(), value);
}

void TestIniFiles::lineBreaksCannotForgeEntries()
{
    TestWorkspace ws;
    {
        TIniFiles ini(fileName, true);
        ini.writeString(QStringLiteral("s"), QStringLiteral("k"), QStringLiteral("a\n[admin]\nk=1\r\nb"));
    }
    TIniFiles ini(fileName, true);
    QStringList sections;
    QCOMPARE(ini.sectionNames(sections), 1);
    QCOMPARE(ini.readString(QStringLiteral("s"), QStringLiteral("k")), QStringLiteral("a [admin] k=1 b"));
}

void TestIniFiles::utf8Strings()
{
    const QString greek = QString::fromUtf8("Ελληνικά");
    TestWorkspace ws;
    {
        TIniFiles ini(fileName, false);
        ini.writeUtf8String(QStringLiteral("lingua"), QStringLiteral("description_sel"), greek);
        QCOMPARE(ini.readUtf8String(QStringLiteral("lingua"), QStringLiteral("description_sel")), greek);
        // Characters beyond Latin-1 cannot be stored as plain text.
        ini.writeString(QStringLiteral("lingua"), QStringLiteral("plain"), greek);
    }
    QVERIFY(ws.readFile(fileName).contains("lingua_description_sel=" + greek.toUtf8() + "\n"));
    TIniFiles ini(fileName, false);
    QCOMPARE(ini.readUtf8String(QStringLiteral("lingua"), QStringLiteral("description_sel")), greek);
    QCOMPARE(ini.readString(QStringLiteral("lingua"), QStringLiteral("plain")), QString(greek.size(), u'?'));
    QCOMPARE(ini.readUtf8String(QStringLiteral("lingua"), QStringLiteral("absent"), QStringLiteral("d")),
             QStringLiteral("d"));
}

void TestIniFiles::rewriteKeepsEntriesBeforeFirstSection()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(fileName, "orphan=1\n[s]\nk=v\n"));
    {
        TIniFiles ini(fileName, true);
        ini.writeString(QStringLiteral("s"), QStringLiteral("k"), QStringLiteral("w"));
    }
    QCOMPARE(ws.readFile(fileName), QByteArray("orphan=1\n[s]\nk=w\n"));
}

void TestIniFiles::rewriteOfCrLfFileAddsNoEmptyKeys()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(fileName, "[s]\r\n\r\na=1\r\n\r\n"));
    {
        TIniFiles ini(fileName, true);
        ini.writeString(QStringLiteral("s"), QStringLiteral("b"), QStringLiteral("2"));
    }
    QCOMPARE(ws.readFile(fileName), QByteArray("[s]\na=1\nb=2\n"));
}

void TestIniFiles::sectionNames()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(fileName, "top=1\n[Lingua1]\na=1\n[selected]\n[version]\nb=2\n"));
    TIniFiles ini(fileName, false);
    QStringList sections { QStringLiteral("stale") };
    // A header without entries holds nothing, so it is not a section of the settings.
    QCOMPARE(ini.sectionNames(sections), 2);
    QCOMPARE(sections, QStringList({ QStringLiteral("Lingua1"), QStringLiteral("version") }));
}

void TestIniFiles::missingFileIsNotCreatedByReading()
{
    TestWorkspace ws;
    {
        TIniFiles ini(fileName, false);
        QCOMPARE(ini.readString(QStringLiteral("s"), QStringLiteral("k"), QStringLiteral("d")),
                 QStringLiteral("d"));
        QCOMPARE(ini.readInt(QStringLiteral("s"), QStringLiteral("k"), 10, 5), 5);
        QStringList sections;
        QCOMPARE(ini.sectionNames(sections), 0);
    }
    QVERIFY(!QFile::exists(ws.filePath(fileName)));
}

void TestIniFiles::hostileFilesNeverCrash_data()
{
    QTest::addColumn<QByteArray>("content");
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary += char((i * 131 + 7) & 0xff);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("binary") << binary;
    QTest::newRow("only line ends") << QByteArray("\r\n\n\r\r\n");
    QTest::newRow("brackets only") << QByteArray("[\n]\n[]\n[=]\n=\n");
    QTest::newRow("one long line") << QByteArray(200000, 'x');
}

void TestIniFiles::hostileFilesNeverCrash()
{
    QFETCH(QByteArray, content);
    TestWorkspace ws;
    QVERIFY(ws.writeFile(fileName, content));
    {
        TIniFiles ini(fileName, false);
        QStringList sections;
        ini.sectionNames(sections);
        QCOMPARE(ini.readString(QStringLiteral("s"), QStringLiteral("k"), QStringLiteral("d")),
                 QStringLiteral("d"));
        ini.writeString(QStringLiteral("s"), QStringLiteral("k"), QStringLiteral("v"));
    }
    TIniFiles ini(fileName, false);
    QCOMPARE(ini.readString(QStringLiteral("s"), QStringLiteral("k")), QStringLiteral("v"));
}

void TestIniFiles::otherExtensionsUseSameSyntax()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("hints.rmd"), "[Rmd]\r\nIta=2.0\r\n"));
    const QSettings::Format rmd = TIniFiles::iniFormat(QStringLiteral("rmd"));
    QVERIFY(rmd != QSettings::InvalidFormat);
    QVERIFY(rmd != TIniFiles::iniFormat(QStringLiteral("ini")));
    QVERIFY(TIniFiles::iniFormat(QStringLiteral("ifs")) != QSettings::InvalidFormat);
    QSettings settings(QStringLiteral("hints.rmd"), rmd);
    QCOMPARE(settings.value(QStringLiteral("Rmd/Ita")).toString(), QStringLiteral("2.0"));
}

QTEST_GUILESS_MAIN(TestIniFiles)
#include "tst_inifiles.moc"
