// The program's own INI syntax: what a file reads as, what writing produces,
// and that odd bytes and odd files never lose data or crash.
#include "settings/tinifiles.h"
#include "support/workspace.h"

#include <QFile>
#include <QtTest>

namespace {

const QString fileName = QStringLiteral("test.ini");
const QString absent = QStringLiteral("ABSENT");

QSettings::SettingsMap parseFile(const QString &path)
{
    QSettings::SettingsMap map;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        TIniFiles::readIniDevice(file, map);
    return map;
}

} // namespace

class TestIniFiles : public QObject
{
    Q_OBJECT

private slots:
    void reads_data();
    void reads();
    void readInt_data();
    void readInt();
    void rewrites_data();
    void rewrites();
    void roundTrips_data();
    void roundTrips();
    void utf8Strings();
    void sectionNamesAndMissingFile();
    void otherExtensionsUseSameSyntax();
};

// clang-format off
void TestIniFiles::reads_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("plainKeys");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("crlf, capitals") << QByteArray("[LinGua]\r\nDefault=ita\r\n") << true << "LINGUA" << "Default" << "ita";
    QTest::newRow("prefixed key, other case") << QByteArray("[Lingua1]\nLingua1_IDLingua=x") << false << "LINGUA1" << "idlingua" << "x";
    QTest::newRow("blanks around = kept") << QByteArray("[s]\nkey = value\n") << true << "s" << "key " << " value";
    QTest::newRow("further = in value") << QByteArray("[s]\nk=a=b=\n") << true << "s" << "k" << "a=b=";
    QTest::newRow("line without =") << QByteArray("[s]\nflag\n") << true << "s" << "flag" << "";
    QTest::newRow("indented header is an entry") << QByteArray("[a]\n [b]\nk=v\n") << true << "a" << "k" << "v";
    QTest::newRow("odd name is not a header") << QByteArray("[a]\n[my-sec]\nk=v\n") << true << "a" << "k" << "v";
    QTest::newRow("no comment syntax") << QByteArray("[s]\n;k=v\n") << true << "s" << ";k" << "v";
    QTest::newRow("latin-1 byte") << QByteArray("[s]\nk=caf\xe9\n") << true << "s" << "k" << QString::fromUtf8("café");
    QTest::newRow("entry before any section") << QByteArray("k=v\n[s]\n") << true << "" << "k" << absent;
    QTest::newRow("empty file") << QByteArray() << true << "s" << "k" << absent;
    QTest::newRow("line ends only") << QByteArray("\r\n\n\r\r\n") << true << "s" << "" << absent;
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary += char((i * 131 + 7) & 0xff);
    QTest::newRow("binary") << binary << false << "s" << "k" << absent;
}
// clang-format on

void TestIniFiles::reads()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, plainKeys);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    TestWorkspace ws;
    QVERIFY(ws.writeFile(fileName, content));
    TIniFiles ini(fileName, plainKeys);
    QCOMPARE(ini.readString(section, key, absent), expected);
}

// clang-format off
void TestIniFiles::readInt_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("base");
    QTest::addColumn<int>("expected");
    QTest::newRow("hexadecimal") << QByteArray("[s]\nk=ff\n") << 16 << 255;
    QTest::newRow("not a number") << QByteArray("[s]\nk=12abc\n") << 10 << 0;
    QTest::newRow("empty value") << QByteArray("[s]\nk=\n") << 10 << 0;
    // An absent value gives the default as given, not re-read in the base.
    QTest::newRow("absent, base 16") << QByteArray("[s]\n") << 16 << 10;
}
// clang-format on

void TestIniFiles::readInt()
{
    QFETCH(QByteArray, content);
    QFETCH(int, base);
    QFETCH(int, expected);
    TestWorkspace ws;
    QVERIFY(ws.writeFile(fileName, content));
    TIniFiles ini(fileName, true);
    QCOMPARE(ini.readInt(QStringLiteral("s"), QStringLiteral("k"), base, 10), expected);
}

// clang-format off
void TestIniFiles::rewrites_data()
{
    // One writeString (plainKeys false) on a file, and the bytes that result.
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("new file") << QByteArray() << "Selected" << "CurrentLanguage" << "2" << QByteArray("[selected]\nselected_currentlanguage=2\n");
    QTest::newRow("sections sorted, no blank lines") << QByteArray("[version]\nversion_languages=1.5\n\n[lingua1]\nlingua1_idlingua=ita\n") << "selected" << "currentlanguage" << "2" << QByteArray("[lingua1]\nlingua1_idlingua=ita\n[selected]\nselected_currentlanguage=2\n"
                      "[version]\nversion_languages=1.5\n");
    QTest::newRow("capitalised entry updated in place") << QByteArray("[Selected]\r\nSelected_CurrentLanguage=2\r\n") << "selected" << "currentlanguage" << "1" << QByteArray("[Selected]\nSelected_CurrentLanguage=1\n");
    QTest::newRow("crlf blank lines add no empty key") << QByteArray("[s]\r\n\r\ns_a=1\r\n\r\n") << "s" << "b" << "2" << QByteArray("[s]\ns_a=1\ns_b=2\n");
    QTest::newRow("entries before first section kept") << QByteArray("orphan=1\n[s]\ns_k=v\n") << "s" << "k" << "w" << QByteArray("orphan=1\n[s]\ns_k=w\n");
    QTest::newRow("line breaks cannot forge entries") << QByteArray() << "s" << "k" << "a\n[admin]\r\nk=1" << QByteArray("[s]\ns_k=a [admin] k=1\n");
}
// clang-format on

void TestIniFiles::rewrites()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, expected);
    TestWorkspace ws;
    if (!content.isEmpty())
        QVERIFY(ws.writeFile(fileName, content));
    {
        TIniFiles ini(fileName, false);
        ini.writeString(section, key, value);
    }
    QCOMPARE(ws.readFile(fileName), expected);
}

// clang-format off
void TestIniFiles::roundTrips_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("stored"); // what the file can hold
    QByteArray allBytes;
    for (int b = 1; b < 256; ++b) {
        if (b != '\r' && b != '\n')
            allBytes += char(b);
    }
    QTest::newRow("backslash and percent") << "k%1\\x" << "C:\\orvane\\100%" << "C:\\orvane\\100%";
    QTest::newRow("slash in key") << "pal/ov/balloon" << "1.0" << "1.0";
    QTest::newRow("every byte but line ends") << "k" << QString::fromLatin1(allBytes) << QString::fromLatin1(allBytes);
    QTest::newRow("blanks at both ends") << " k " << "  v  " << "  v  ";
    QTest::newRow("line breaks as blanks") << "k" << "a\r\nb\nc" << "a b c";
    QTest::newRow("beyond latin-1 as ?") << "k" << QString::fromUtf8("Ελ") << "??";
}
// clang-format on

void TestIniFiles::roundTrips()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, stored);
    TestWorkspace ws;
    {
        TIniFiles ini(fileName, true);
        ini.writeString(QStringLiteral("s"), key, value);
        QCOMPARE(ini.readString(QStringLiteral("s"), key, absent), stored);
    }
    // QSettings keeps what it wrote in memory, so parse the file itself too.
    QCOMPARE(parseFile(ws.filePath(fileName)).value(QStringLiteral("s/") + key).toString(), stored);
}

void TestIniFiles::utf8Strings()
{
    const QString greek = QString::fromUtf8("Ελληνικά");
    TestWorkspace ws;
    {
        TIniFiles ini(fileName, false);
        ini.writeUtf8String(QStringLiteral("lingua"), QStringLiteral("description_sel"), greek);
    }
    QCOMPARE(ws.readFile(fileName), "[lingua]\nlingua_description_sel=" + greek.toUtf8() + "\n");
    TIniFiles ini(fileName, false);
    QCOMPARE(ini.readUtf8String(QStringLiteral("lingua"), QStringLiteral("description_sel")), greek);
    QCOMPARE(ini.readUtf8String(QStringLiteral("lingua"), QStringLiteral("x"), absent), absent);
}

void TestIniFiles::sectionNamesAndMissingFile()
{
    TestWorkspace ws;
    QStringList sections { QStringLiteral("stale") };
    {
        TIniFiles missing(fileName, false);
        QCOMPARE(missing.sectionNames(sections), 0);
        QCOMPARE(missing.readInt(QStringLiteral("s"), QStringLiteral("k"), 10, 5), 5);
    }
    QVERIFY(!QFile::exists(ws.filePath(fileName))); // reading never creates the file
    QVERIFY(ws.writeFile(fileName, "top=1\n[Lingua1]\na=1\n[empty]\n[version]\nb=2\n"));
    TIniFiles ini(fileName, false);
    // A header without entries holds nothing, so it is not a section of the settings.
    QCOMPARE(ini.sectionNames(sections), 2);
    QCOMPARE(sections, QStringList({ QStringLiteral("Lingua1"), QStringLiteral("version") }));
}

void TestIniFiles::otherExtensionsUseSameSyntax()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("hints.rmd"), "[Rmd]\r\nIta=2.0\r\n"));
    const QSettings::Format rmd = TIniFiles::iniFormat(QStringLiteral("rmd"));
    QVERIFY(rmd != TIniFiles::iniFormat(QStringLiteral("ini")));
    QVERIFY(TIniFiles::iniFormat(QStringLiteral("ifs")) != QSettings::InvalidFormat);
    QSettings settings(QStringLiteral("hints.rmd"), rmd);
    QCOMPARE(settings.value(QStringLiteral("Rmd/Ita")).toString(), QStringLiteral("2.0"));
}

QTEST_GUILESS_MAIN(TestIniFiles)
#include "tst_inifiles.moc"
