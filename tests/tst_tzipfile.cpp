// Zip archives made by Info-ZIP and by TZipFile itself, extracted, tested and
// read back entry by entry.

#include "archive/tzipfile.h"
#include "support/testsystem.h"
#include "support/workspace.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <zlib.h>

namespace {

/// Runs a program in the current folder; true when it exits with 0.
bool run(const QString &program, const QStringList &arguments)
{
    return TestSystem::runHostProgram(program, arguments, QDir::currentPath()) == 0;
}

/// Files below root as "path=content" lines, sorted: a whole tree in one value.
QStringList filesOf(const QString &root)
{
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (!file.open(QIODevice::ReadOnly))
            return { QStringLiteral("unreadable ") + it.filePath() };
        found.append(QDir(root).relativeFilePath(it.filePath()) + QLatin1Char('=')
                     + QString::fromLatin1(file.readAll().toHex()));
    }
    found.sort();
    return found;
}

struct EntryInfo
{
    QString name;
    unz_file_info64 info;
};

/// The entries of an archive as the zip library reports them.
QList<EntryInfo> entriesOf(const QString &archive)
{
    QList<EntryInfo> entries;
    unzFile zip = unzOpen64(QFile::encodeName(archive).constData());
    if (!zip)
        return entries;
    for (int result = unzGoToFirstFile(zip); result == UNZ_OK; result = unzGoToNextFile(zip)) {
        EntryInfo entry;
        char name[1024] = {};
        unzGetCurrentFileInfo64(zip, &entry.info, name, sizeof name - 1, nullptr, 0, nullptr, 0);
        entry.name = QString::fromUtf8(name);
        entries.append(entry);
    }
    unzClose(zip);
    return entries;
}

QStringList namesOf(const QString &archive)
{
    QStringList names;
    for (const EntryInfo &entry : entriesOf(archive))
        names.append(entry.name);
    names.sort();
    return names;
}

QByteArray noise(int size, quint32 seed)
{
    QByteArray data(size, '\0');
    QRandomGenerator random(seed);
    for (char &c : data)
        c = char(random.bounded(256));
    return data;
}

/// A source tree with nested folders, an empty file, text and binary data.
void makeTree(const TestWorkspace &ws, const QString &root)
{
    ws.writeFile(root + QStringLiteral("/top.txt"), "top level\n");
    ws.writeFile(root + QStringLiteral("/empty.dat"), QByteArray());
    ws.writeFile(root + QStringLiteral("/sub/inner.txt"), QByteArray(20000, 'i'));
    ws.writeFile(root + QStringLiteral("/sub/deep/noise.bin"), noise(300000, 11));
    ws.writeFile(root + QStringLiteral("/sub/deep/.hidden"), "hidden");
    ws.makeDir(root + QStringLiteral("/emptyfolder"));
}

QStringList g_messages;

void collectMessages(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    if (qstrcmp(context.category, "update_hub.archive") == 0)
        g_messages.append(message);
}

void enableArchiveDebug(QLoggingCategory *category)
{
    // The test runner switches debug output off; this category is needed on.
    if (qstrcmp(category->categoryName(), "update_hub.archive") == 0)
        category->setEnabled(QtDebugMsg, true);
}

} // namespace

class TestZipFile : public QObject
{
    Q_OBJECT

private slots:
    void relativePath_data();
    void relativePath();
    void fileAttributes();
    void touchFile();
    void infoZipArchives_data();
    void infoZipArchives();
    void destinationForms_data();
    void destinationForms();
    void flatExtraction();
    void zeroLengthEntryReplacesFile();
    void progressSignals();
    void zipDirectoryNamesAndFields();
    void zipDirectoryRoundTrip();
    void zipDirectoryMixedData();
    void zipDirectoryMissingSource();
    void zipUnreadableFiles();
    void nonAsciiArchivePaths();
    void zipSingleFileAddsToArchive();
    void zipSingleFileAfterOtherData();
    void missingOrForeignFiles_data();
    void missingOrForeignFiles();
    void uncompressedSize();
    void encryptedEntries();
    void debugTexts();
};

void TestZipFile::relativePath_data()
{
    QTest::addColumn<QString>("full");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("expectNull");

    QTest::newRow("below base") << "work//sub"
                                << "work/"
                                << "sub" << false;
    QTest::newRow("nested") << "work//sub//deep"
                            << "work/"
                            << "sub//deep" << false;
    QTest::newRow("backslashes stripped") << "logs\\\\a.txt"
                                          << "logs"
                                          << "a.txt" << false;
    QTest::newRow("base equals full") << "logs/a.txt"
                                      << "logs/a.txt"
                                      << "" << false;
    QTest::newRow("first occurrence") << "x/ab/ab/c"
                                      << "ab"
                                      << "ab/c" << false;
    QTest::newRow("base missing") << "work"
                                  << "work/"
                                  << "" << true;
    QTest::newRow("null base") << "some/path" << QString() << "some/path" << false;
    QTest::newRow("empty base") << "//some/path"
                                << ""
                                << "some/path" << false;
}

void TestZipFile::relativePath()
{
    QFETCH(QString, full);
    QFETCH(QString, base);
    QFETCH(QString, expected);
    QFETCH(bool, expectNull);
    const QString result = TZipFile::RelativePath(full, base);
    QCOMPARE(result.isNull(), expectNull);
    QCOMPARE(result, expected);
}

void TestZipFile::fileAttributes()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("plain.txt"), "x"));
    QVERIFY(ws.writeFile(QStringLiteral("locked.txt"), "x"));
    QVERIFY(ws.writeFile(QStringLiteral(".hidden"), "x"));
    QVERIFY(ws.writeFile(QStringLiteral("tool.exe"), "x"));
    QVERIFY(ws.makeDir(QStringLiteral("folder")));
    QVERIFY(QFile::setPermissions(QStringLiteral("locked.txt"), QFileDevice::ReadOwner));
    QVERIFY(QFile::setPermissions(QStringLiteral("tool.exe"), QFileDevice::ReadOwner | QFileDevice::ExeOwner));

    QCOMPARE(TZipFile::FileAttributes(QStringLiteral("plain.txt")), 0x20u);
    QCOMPARE(TZipFile::FileAttributes(QStringLiteral(".hidden")), 0x22u);
    QCOMPARE(TZipFile::FileAttributes(QStringLiteral("folder")), 0x30u);
    QCOMPARE(TZipFile::FileAttributes(QStringLiteral("tool.exe")), 0x20u); // executable: not read-only
    if (QFileInfo(QStringLiteral("locked.txt")).isWritable())
        QSKIP("running as root: permission bits do not make a file read-only");
    QCOMPARE(TZipFile::FileAttributes(QStringLiteral("locked.txt")), 0x21u);
}

void TestZipFile::touchFile()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("full.txt"), "content"));
    TZipFile::TouchFile(QStringLiteral("full.txt"));
    TZipFile::TouchFile(QStringLiteral("new.txt"));
    TZipFile::TouchFile(QStringLiteral("missing/folder/x.txt"));
    QCOMPARE(QFileInfo(QStringLiteral("full.txt")).size(), 0);
    QVERIFY(QFileInfo(QStringLiteral("new.txt")).isFile());
    QCOMPARE(QFileInfo(QStringLiteral("new.txt")).size(), 0);
    QVERIFY(!QFileInfo::exists(QStringLiteral("missing")));
}

void TestZipFile::infoZipArchives_data()
{
    QTest::addColumn<QStringList>("zipOptions");
    QTest::newRow("deflated with folder entries") << QStringList { QStringLiteral("-9") };
    QTest::newRow("no folder entries") << QStringList { QStringLiteral("-D") };
    QTest::newRow("stored") << QStringList { QStringLiteral("-0") };
    QTest::newRow("streamed with data descriptors") << QStringList { QStringLiteral("-fd") };
}

void TestZipFile::infoZipArchives()
{
    QFETCH(QStringList, zipOptions);
    TestWorkspace ws;
    makeTree(ws, QStringLiteral("src"));
    QDir::setCurrent(ws.filePath(QStringLiteral("src")));
    QStringList arguments = { QStringLiteral("-r"), QStringLiteral("-q") };
    if (zipOptions.first() == QLatin1String("-fd")) {
        // Written to a pipe, so sizes and CRCs follow each entry's data.
        QVERIFY(run(QStringLiteral("sh"),
                    { QStringLiteral("-c"), QStringLiteral("zip -r -q - . >../package.zip") }));
    } else {
        QVERIFY(run(QStringLiteral("zip"),
                    arguments + zipOptions
                        + QStringList { ws.filePath(QStringLiteral("package.zip")), QStringLiteral(".") }));
    }
    QDir::setCurrent(ws.path());

    QVERIFY(TZipFile::TestArchive(QStringLiteral("package.zip"), QString()));
    QVERIFY(TZipFile::UnzipArchive(QStringLiteral("package.zip"), QStringLiteral("out/"), true, QString(),
                                   nullptr));
    QCOMPARE(filesOf(ws.filePath(QStringLiteral("out"))), filesOf(ws.filePath(QStringLiteral("src"))));
    if (!zipOptions.contains(QStringLiteral("-D")) && !zipOptions.contains(QStringLiteral("-fd")))
        QVERIFY(QFileInfo(QStringLiteral("out/emptyfolder")).isDir());
}

void TestZipFile::destinationForms_data()
{
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("landsIn");
    QTest::newRow("slash") << "dest/"
                           << "dest";
    QTest::newRow("backslash") << "dest\\"
                               << "dest";
    QTest::newRow("no separator") << "dest"
                                  << "dest";
    QTest::newRow("nested, missing") << "a/b/dest/"
                                     << "a/b/dest";
    QTest::newRow("current folder") << "./"
                                    << ".";
}

void TestZipFile::destinationForms()
{
    QFETCH(QString, destination);
    QFETCH(QString, landsIn);
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("in/f.txt"), "eff"));
    QDir::setCurrent(ws.filePath(QStringLiteral("in")));
    QVERIFY(run(QStringLiteral("zip"),
                { QStringLiteral("-q"), ws.filePath(QStringLiteral("p.zip")), QStringLiteral("f.txt") }));
    QDir::setCurrent(ws.path());
    QVERIFY(TZipFile::UnzipArchive(QStringLiteral("p.zip"), destination, true, QString(), nullptr));
    QCOMPARE(ws.readFile(landsIn + QStringLiteral("/f.txt")), QByteArray("eff"));
}

void TestZipFile::flatExtraction()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("src/a/same.txt"), "from a"));
    QVERIFY(ws.writeFile(QStringLiteral("src/b/same.txt"), "from b"));
    QVERIFY(ws.writeFile(QStringLiteral("src/c/d/other.txt"), "other"));
    QDir::setCurrent(ws.filePath(QStringLiteral("src")));
    // Listed in this order, so b/same.txt comes after a/same.txt.
    QVERIFY(
        run(QStringLiteral("zip"),
            { QStringLiteral("-q"), ws.filePath(QStringLiteral("flat.zip")), QStringLiteral("a/"),
              QStringLiteral("a/same.txt"), QStringLiteral("c/d/other.txt"), QStringLiteral("b/same.txt") }));
    QDir::setCurrent(ws.path());
    QVERIFY(TZipFile::UnzipArchive(QStringLiteral("flat.zip"), QStringLiteral("out/"), false, QString(),
                                   nullptr));
    QCOMPARE(QDir(QStringLiteral("out")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList { QStringLiteral("other.txt"), QStringLiteral("same.txt") }));
    QCOMPARE(ws.readFile(QStringLiteral("out/same.txt")), QByteArray("from b"));
}

void TestZipFile::zeroLengthEntryReplacesFile()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("src/blank.txt"), QByteArray()));
    QVERIFY(ws.writeFile(QStringLiteral("src/kept.txt"), "new"));
    QVERIFY(TZipFile::ZipDirectory(QStringLiteral("src"), QStringLiteral("src/"), QStringLiteral("z.zip"),
                                   QString()));
    QVERIFY(ws.writeFile(QStringLiteral("out/blank.txt"), "old content that must go"));
    QVERIFY(ws.writeFile(QStringLiteral("out/kept.txt"), "old and longer than the new one"));
    QVERIFY(
        TZipFile::UnzipArchive(QStringLiteral("z.zip"), QStringLiteral("out/"), true, QString(), nullptr));
    QVERIFY(QFileInfo(QStringLiteral("out/blank.txt")).isFile());
    QCOMPARE(QFileInfo(QStringLiteral("out/blank.txt")).size(), 0);
    QCOMPARE(ws.readFile(QStringLiteral("out/kept.txt")), QByteArray("new"));
}

void TestZipFile::progressSignals()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("src/big.bin"), noise(3 << 20, 5)));
    QVERIFY(ws.writeFile(QStringLiteral("src/small.txt"), "small"));
    QVERIFY(ws.writeFile(QStringLiteral("src/none.txt"), QByteArray()));
    QVERIFY(TZipFile::ZipDirectory(QStringLiteral("src"), QStringLiteral("src/"), QStringLiteral("p.zip"),
                                   QString()));
    const uint expectedTotal = (3u << 20) + 5u;

    QZipFileNotificationInterface notifier;
    QList<QPair<uint, uint>> steps;
    uint announced = 0;
    int progressBeforeTotal = 0;
    connect(&notifier, &QZipFileNotificationInterface::total, this, [&](uint total) { announced = total; });
    connect(&notifier, &QZipFileNotificationInterface::progress, this, [&](uint done, uint total) {
        if (announced == 0)
            ++progressBeforeTotal;
        steps.append({ done, total });
    });
    QVERIFY(
        TZipFile::UnzipArchive(QStringLiteral("p.zip"), QStringLiteral("out/"), true, QString(), &notifier));
    QCOMPARE(announced, expectedTotal);
    QCOMPARE(progressBeforeTotal, 0);
    QVERIFY(steps.size() >= 3); // several chunks for the big file, one for the small
    uint previous = 0;
    for (const auto &step : steps) {
        QCOMPARE(step.second, expectedTotal);
        QVERIFY(step.first > previous);
        previous = step.first;
    }
    QCOMPARE(previous, expectedTotal);

    // Creation reports bytes read so far against the current file's size.
    QList<QPair<uint, uint>> zipSteps;
    QZipFileNotificationInterface zipNotifier;
    connect(&zipNotifier, &QZipFileNotificationInterface::progress, this, [&](uint done, uint total) {
        zipSteps.append({ done, total });
    });
    QVERIFY(TZipFile::ZipSingleFile(QStringLiteral("src/big.bin"), QStringLiteral("src/big.bin"),
                                    QStringLiteral("single.zip"), QString(), &zipNotifier));
    QVERIFY(!zipSteps.isEmpty());
    QCOMPARE(zipSteps.last(), qMakePair(3u << 20, 3u << 20));
}

void TestZipFile::zipDirectoryNamesAndFields()
{
    TestWorkspace ws;
    makeTree(ws, QStringLiteral("work"));
    const QDateTime stamp(QDate(2021, 3, 4), QTime(5, 6, 8));
    {
        QFile file(QStringLiteral("work/top.txt"));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(stamp, QFileDevice::FileModificationTime));
    }
    QVERIFY(TZipFile::ZipDirectory(QStringLiteral("work"), QStringLiteral("work/"),
                                   QStringLiteral("copy.zip"), QString(), nullptr, nullptr));

    QCOMPARE(namesOf(QStringLiteral("copy.zip")),
             (QStringList { QStringLiteral("//empty.dat"), QStringLiteral("//top.txt"),
                            QStringLiteral("sub//deep//.hidden"), QStringLiteral("sub//deep//noise.bin"),
                            QStringLiteral("sub//inner.txt") }));
    for (const EntryInfo &entry : entriesOf(QStringLiteral("copy.zip"))) {
        const QString onDisk = QStringLiteral("work/")
            + QString(entry.name).replace(QStringLiteral("//"), QStringLiteral("/"));
        QCOMPARE(entry.info.compression_method, uLong(Z_DEFLATED));
        // The zip library replaces the internal word by 1 when deflate saw text.
        QVERIFY(entry.info.internal_fa == TZipFile::FileAttributes(onDisk) || entry.info.internal_fa == 1);
        QCOMPARE(entry.info.external_fa, uLong(TZipFile::FileAttributes(onDisk)));
        if (entry.name == QLatin1String("//top.txt")) {
            QCOMPARE(int(entry.info.tmu_date.tm_year), 2021);
            QCOMPARE(int(entry.info.tmu_date.tm_mon), 2);
            QCOMPARE(int(entry.info.tmu_date.tm_mday), 4);
            QCOMPARE(int(entry.info.tmu_date.tm_hour), 5);
            QCOMPARE(int(entry.info.tmu_date.tm_min), 6);
            QCOMPARE(int(entry.info.tmu_date.tm_sec), 8);
        }
        if (entry.name.endsWith(QLatin1String(".hidden")))
            QCOMPARE(entry.info.external_fa & 0x02, uLong(0x02));
    }
}

void TestZipFile::zipDirectoryRoundTrip()
{
    TestWorkspace ws;
    makeTree(ws, QStringLiteral("work"));
    QVERIFY(ws.writeFile(QStringLiteral("work/sub/caff\u00e8.txt"), "accent"));
    QVERIFY(TZipFile::ZipDirectory(QStringLiteral("work"), QStringLiteral("work/"),
                                   QStringLiteral("copy.zip"), QString()));
    QVERIFY(TZipFile::TestArchive(QStringLiteral("copy.zip")));
    // Another reader agrees that the archive is sound.
    QVERIFY(run(QStringLiteral("unzip"), { QStringLiteral("-tqq"), QStringLiteral("copy.zip") }));
    QVERIFY(TZipFile::UnzipArchive(QStringLiteral("copy.zip"), QStringLiteral("back/"), true, QString(),
                                   nullptr));
    QCOMPARE(filesOf(ws.filePath(QStringLiteral("back"))), filesOf(ws.filePath(QStringLiteral("work"))));
}

void TestZipFile::zipDirectoryMixedData()
{
    // Data that does not shrink is stored within the deflate stream and the
    // stream returns to compressing when the data does: the file must come
    // back byte for byte, other readers must accept it, and the text part
    // must still be compressed.
    TestWorkspace ws;
    QByteArray text;
    for (int line = 0; text.size() < (12 << 20); ++line)
        text += "line " + QByteArray::number(line % 977) + " of some ordinary log text\n";
    const QByteArray mixed = noise(1 << 20, 21) + text + noise(70000, 22);
    QVERIFY(ws.writeFile(QStringLiteral("src/mixed.bin"), mixed));
    QVERIFY(ws.writeFile(QStringLiteral("src/noise.bin"), noise(3 << 20, 23)));
    QVERIFY(TZipFile::ZipDirectory(QStringLiteral("src"), QStringLiteral("src/"), QStringLiteral("m.zip"),
                                   QString()));
    QVERIFY(run(QStringLiteral("unzip"), { QStringLiteral("-tqq"), QStringLiteral("m.zip") }));
    QVERIFY(
        TZipFile::UnzipArchive(QStringLiteral("m.zip"), QStringLiteral("out/"), true, QString(), nullptr));
    QCOMPARE(filesOf(ws.filePath(QStringLiteral("out"))), filesOf(ws.filePath(QStringLiteral("src"))));
    for (const EntryInfo &entry : entriesOf(QStringLiteral("m.zip"))) {
        QCOMPARE(entry.info.compression_method, uLong(Z_DEFLATED));
        if (entry.name.endsWith(QLatin1String("mixed.bin")))
            QVERIFY2(entry.info.compressed_size < entry.info.uncompressed_size / 2,
                     qPrintable(QString::number(entry.info.compressed_size)));
        else // stored blocks cost a few bytes each, nothing more
            QVERIFY(entry.info.compressed_size < entry.info.uncompressed_size + 1024);
    }
}

void TestZipFile::zipDirectoryMissingSource()
{
    TestWorkspace ws;
    QVERIFY(!TZipFile::ZipDirectory(QStringLiteral("nothing"), QStringLiteral("nothing/"),
                                    QStringLiteral("n.zip"), QString()));
    QVERIFY(!QFileInfo::exists(QStringLiteral("n.zip")));
}

void TestZipFile::zipUnreadableFiles()
{
    // A file that cannot be read becomes an empty entry; the others go in whole.
    // Reading /proc/self/mem at offset 0 fails for every user; a file without
    // read permission cannot be opened except by root.
    if (!QFileInfo(QStringLiteral("/proc/self/mem")).isFile())
        QSKIP("no /proc/self/mem here");
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("src/a.txt"), "alpha"));
    QVERIFY(ws.writeFile(QStringLiteral("src/z.txt"), QByteArray(50000, 'z')));
    QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), ws.filePath(QStringLiteral("src/mem"))));
    if (!QFileInfo(ws.filePath(QStringLiteral("src/mem"))).isSymbolicLink())
        QSKIP("a link here is a shortcut file (Windows), not a way to a file that cannot be read");
    QVERIFY(ws.writeFile(QStringLiteral("src/locked.txt"), "secret"));
    QVERIFY(QFile::setPermissions(ws.filePath(QStringLiteral("src/locked.txt")), QFileDevice::WriteOwner));
    QFile probe(ws.filePath(QStringLiteral("src/locked.txt")));
    const QByteArray locked = probe.open(QIODevice::ReadOnly) ? QByteArray("secret") : QByteArray();
    probe.close();
    QVERIFY(TZipFile::ZipDirectory(QStringLiteral("src"), QStringLiteral("src/"), QStringLiteral("u.zip"),
                                   QString()));
    QVERIFY(TZipFile::ZipSingleFile(QStringLiteral("src/mem"), QStringLiteral("src/mem"),
                                    QStringLiteral("single.zip"), QString()));
    QVERIFY(run(QStringLiteral("unzip"), { QStringLiteral("-tqq"), QStringLiteral("u.zip") }));
    QVERIFY(TZipFile::UnzipArchive(QStringLiteral("u.zip"), QStringLiteral("out/"), true, QString(), nullptr));
    QCOMPARE(filesOf(ws.filePath(QStringLiteral("out"))),
             (QStringList { QStringLiteral("a.txt=") + QString::fromLatin1(QByteArray("alpha").toHex()),
                            QStringLiteral("locked.txt=") + QString::fromLatin1(locked.toHex()),
                            QStringLiteral("mem="),
                            QStringLiteral("z.txt=") + QString::fromLatin1(QByteArray(50000, 'z').toHex()) }));
    QCOMPARE(namesOf(QStringLiteral("single.zip")), QStringList { QStringLiteral("//mem") });
    QVERIFY(TZipFile::TestArchive(QStringLiteral("single.zip")));
}

void TestZipFile::nonAsciiArchivePaths()
{
    // Archive, source and destination names beyond ASCII, written and read back.
    TestWorkspace ws;
    const QString folder = QStringLiteral("cart\u00e8lla \u0416");
    QVERIFY(ws.writeFile(folder + QStringLiteral("/f\u00fcr.txt"), "data"));
    const QString archive = folder + QStringLiteral("/archivio \u00e0\u20ac.zip");
    const QString file = folder + QStringLiteral("/f\u00fcr.txt");
    QVERIFY(TZipFile::ZipSingleFile(file, file, archive, QString()));
    QVERIFY(TZipFile::TestArchive(archive));
    QVERIFY(TZipFile::UnzipArchive(archive, folder + QStringLiteral("/usc\u00ecta/"), true, QString(), nullptr));
    QCOMPARE(ws.readFile(folder + QStringLiteral("/usc\u00ecta/f\u00fcr.txt")), QByteArray("data"));
}

void TestZipFile::zipSingleFileAddsToArchive()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("logs/one.log"), "first log"));
    QVERIFY(ws.writeFile(QStringLiteral("logs/two.log"), "second log"));
    const QString one = ws.filePath(QStringLiteral("logs/one.log"));
    const QString two = ws.filePath(QStringLiteral("logs/two.log"));
    QVERIFY(TZipFile::ZipSingleFile(one, one, QStringLiteral("logs.zip"), QString()));
    QVERIFY(TZipFile::ZipSingleFile(two, two, QStringLiteral("logs.zip"), QString()));
    QVERIFY(TZipFile::ZipSingleFile(QStringLiteral("logs/absent.log"), QStringLiteral("logs/absent.log"),
                                    QStringLiteral("logs.zip"), QString()));
    QVERIFY(TZipFile::ZipSingleFile(ws.filePath(QStringLiteral("logs.zip")),
                                    ws.filePath(QStringLiteral("logs.zip")), QStringLiteral("logs.zip"),
                                    QString()));
    QCOMPARE(namesOf(QStringLiteral("logs.zip")),
             (QStringList { QStringLiteral("//one.log"), QStringLiteral("//two.log") }));
    QVERIFY(
        TZipFile::UnzipArchive(QStringLiteral("logs.zip"), QStringLiteral("out/"), true, QString(), nullptr));
    QCOMPARE(ws.readFile(QStringLiteral("out/one.log")), QByteArray("first log"));
    QCOMPARE(ws.readFile(QStringLiteral("out/two.log")), QByteArray("second log"));
}

void TestZipFile::zipSingleFileAfterOtherData()
{
    // A file that is not an archive gets a new archive appended after its data.
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("stub.bin"), QByteArray(1000, 'S')));
    QVERIFY(ws.writeFile(QStringLiteral("payload.txt"), "payload"));
    QVERIFY(TZipFile::ZipSingleFile(QStringLiteral("payload.txt"), QStringLiteral("payload.txt"),
                                    QStringLiteral("stub.bin"), QString()));
    QCOMPARE(ws.readFile(QStringLiteral("stub.bin")).left(1000), QByteArray(1000, 'S'));
    QVERIFY(TZipFile::TestArchive(QStringLiteral("stub.bin")));
    QVERIFY(
        TZipFile::UnzipArchive(QStringLiteral("stub.bin"), QStringLiteral("out/"), true, QString(), nullptr));
    QCOMPARE(ws.readFile(QStringLiteral("out/payload.txt")), QByteArray("payload"));
}

void TestZipFile::missingOrForeignFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("missing") << "absent.zip" << QByteArray();
    QTest::newRow("text") << "text.zip" << QByteArray("just some text\n");
    QTest::newRow("empty") << "empty.zip" << QByteArray("");
    QTest::newRow("gzip") << "data.zip" << QByteArray::fromHex("1f8b0800000000000003030000000000000000");
}

void TestZipFile::missingOrForeignFiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    TestWorkspace ws;
    if (name != QLatin1String("absent.zip"))
        QVERIFY(ws.writeFile(name, content));
    QVERIFY(!TZipFile::TestArchive(name));
    QVERIFY(!TZipFile::UnzipArchive(name, QStringLiteral("out/"), true, QString(), nullptr));
    QVERIFY(!QFileInfo::exists(QStringLiteral("out")));
}

void TestZipFile::uncompressedSize()
{
    TestWorkspace ws;
    makeTree(ws, QStringLiteral("src"));
    QDir::setCurrent(ws.filePath(QStringLiteral("src")));
    QVERIFY(run(QStringLiteral("zip"),
                { QStringLiteral("-r"), QStringLiteral("-q"), QStringLiteral("-9"),
                  ws.filePath(QStringLiteral("package.zip")), QStringLiteral(".") }));
    QDir::setCurrent(ws.path());
    // top.txt, empty.dat, inner.txt, noise.bin, .hidden; folder entries count 0.
    QCOMPARE(TZipFile::UncompressedSize(QStringLiteral("package.zip")), qint64(10 + 0 + 20000 + 300000 + 6));

    QDir::setCurrent(ws.filePath(QStringLiteral("src")));
    QVERIFY(run(
        QStringLiteral("zip"),
        { QStringLiteral("-q"), ws.filePath(QStringLiteral("folder.zip")), QStringLiteral("emptyfolder/") }));
    QDir::setCurrent(ws.path());
    QCOMPARE(TZipFile::UncompressedSize(QStringLiteral("folder.zip")), qint64(0));
    QVERIFY(ws.writeFile(QStringLiteral("text.zip"), "not an archive at all\n"));
    QCOMPARE(TZipFile::UncompressedSize(QStringLiteral("text.zip")), qint64(-1));
    QCOMPARE(TZipFile::UncompressedSize(QStringLiteral("absent.zip")), qint64(-1));
    QByteArray cut = ws.readFile(QStringLiteral("package.zip"));
    cut.chop(40); // into the central directory's end record
    QVERIFY(ws.writeFile(QStringLiteral("cut.zip"), cut));
    QCOMPARE(TZipFile::UncompressedSize(QStringLiteral("cut.zip")), qint64(-1));
}

void TestZipFile::encryptedEntries()
{
    // Entries deflated at level 9 with a password carry the flag word 3, the
    // only one for which the password is used.
    TestWorkspace ws;
    const QByteArray text = QByteArray("secret text ").repeated(5000);
    const QByteArray data = noise(1 << 20, 3);
    {
        zipFile zip = zipOpen64("locked.zip", APPEND_STATUS_CREATE);
        QVERIFY(zip);
        const QList<QPair<QByteArray, QByteArray>> files { { "a/text.txt", text }, { "data.bin", data } };
        for (const auto &file : files) {
            zip_fileinfo info {};
            const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(file.second.constData()),
                                    uInt(file.second.size()));
            QCOMPARE(zipOpenNewFileInZip3_64(zip, file.first.constData(), &info, nullptr, 0, nullptr, 0,
                                             nullptr, Z_DEFLATED, 9, 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY,
                                             "pw", crc, 0),
                     ZIP_OK);
            QCOMPARE(zipWriteInFileInZip(zip, file.second.constData(), unsigned(file.second.size())), ZIP_OK);
            QCOMPARE(zipCloseFileInZip(zip), ZIP_OK);
        }
        QCOMPARE(zipClose(zip, nullptr), ZIP_OK);
    }
    for (const EntryInfo &entry : entriesOf(QStringLiteral("locked.zip")))
        QCOMPARE(entry.info.flag, uLong(3));

    // Some builds of the zip library leave decryption out; then no password
    // opens the entries, and both operations must fail cleanly.
    bool canDecrypt = false;
    if (unzFile zip = unzOpen64("locked.zip")) {
        canDecrypt = unzGoToFirstFile(zip) == UNZ_OK && unzOpenCurrentFilePassword(zip, "pw") == UNZ_OK;
        unzCloseCurrentFile(zip);
        unzClose(zip);
    }
    QCOMPARE(TZipFile::TestArchive(QStringLiteral("locked.zip"), QStringLiteral("pw")), canDecrypt);
    QCOMPARE(TZipFile::UnzipArchive(QStringLiteral("locked.zip"), QStringLiteral("out/"), true,
                                    QStringLiteral("pw"), nullptr),
             canDecrypt);
    if (canDecrypt) {
        QCOMPARE(ws.readFile(QStringLiteral("out/a/text.txt")), text);
        QCOMPARE(ws.readFile(QStringLiteral("out/data.bin")), data);
    }
    for (const QString &wrong : { QStringLiteral("px"), QString() }) {
        QVERIFY(!TZipFile::TestArchive(QStringLiteral("locked.zip"), wrong));
        QVERIFY(!TZipFile::UnzipArchive(QStringLiteral("locked.zip"), QStringLiteral("bad/"), true, wrong,
                                        nullptr));
        // Encrypted bytes are never written out as if they were the data.
        QVERIFY(QFileInfo(QStringLiteral("bad/a/text.txt")).size() == 0);
    }
}

void TestZipFile::debugTexts()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("src/f.txt"), "f"));
    QVERIFY(TZipFile::ZipDirectory(QStringLiteral("src"), QStringLiteral("src/"), QStringLiteral("a.zip"),
                                   QString()));

    g_messages.clear();
    const QLoggingCategory::CategoryFilter oldFilter = QLoggingCategory::installFilter(enableArchiveDebug);
    const QtMessageHandler oldHandler = qInstallMessageHandler(collectMessages);
    TZipFile::UnzipArchive(QStringLiteral("a.zip"), QStringLiteral("out/"), true, QString(), nullptr);
    TZipFile::ZipDirectory(QStringLiteral("gone"), QStringLiteral("gone/"), QStringLiteral("b.zip"),
                           QString());
    QVERIFY(ws.makeDir(QStringLiteral("out2/f.txt"))); // a folder in the way of the file
    TZipFile::UnzipArchive(QStringLiteral("a.zip"), QStringLiteral("out2/"), true, QString(), nullptr);
    qInstallMessageHandler(oldHandler);
    QLoggingCategory::installFilter(oldFilter);

    QCOMPARE(
        g_messages,
        (QStringList {
            QStringLiteral("Unzip File a.zip -> out/"),
            QStringLiteral("DECOMPRESSIONE DEI FILE TERMINATA CORRETTAMENTE!!!"),
            QStringLiteral("TZipFile::ZipDirectory > source dir [gone] does not exists"),
            QStringLiteral("Unzip File a.zip -> out2/"),
            QStringLiteral("decompressione terminata a causa di un errore nell'apertura del file: file.open( "
                           "QIODevice::WriteOnly )"),
        }));
}

QTEST_GUILESS_MAIN(TestZipFile)
#include "tst_tzipfile.moc"
