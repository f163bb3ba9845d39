// Hostile and broken archives: each is written byte by byte here, so every
// header field can lie. Whatever the archive says, extraction must return
// false or extract it sensibly, and nothing may appear outside the
// destination folder.

#include "archive/tzipfile.h"
#include "support/testsystem.h"
#include "support/workspace.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QtEndian>
#include "support/zipbytes.h"

#include <QtTest>


namespace {

using ZipBytes::crcOf;
using ZipBytes::deflateRaw;

/// One entry of a hand-made archive; every field the central directory
/// carries can be set to lie.
struct RawEntry
{
    QByteArray name;
    QByteArray data;
    quint16 method = 0;
    quint16 flag = 0;
    quint16 madeBy = 20; // DOS host, version 2.0
    quint32 external = 0;
    qint64 crc = -1; // -1: the real CRC of data
    qint64 declaredSize = -1; // -1: the real size of data
    int shareDataOf = -1; // index of an earlier entry whose local header this one reuses
    int cutCompressed = 0; // bytes dropped from the end of the stored data
};

class RawZip
{
public:
    RawZip &add(const RawEntry &entry)
    {
        m_entries.append(entry);
        return *this;
    }
    RawZip &add(const QByteArray &name, const QByteArray &data)
    {
        RawEntry entry;
        entry.name = name;
        entry.data = data;
        return add(entry);
    }

    QByteArray bytes() const
    {
        QByteArray out;
        QByteArray central;
        QList<quint32> offsets;
        for (const RawEntry &entry : m_entries) {
            QByteArray stored = entry.method == 8 ? deflateRaw(entry.data) : entry.data;
            stored.chop(entry.cutCompressed);
            const quint32 crc = entry.crc >= 0 ? quint32(entry.crc) : crcOf(entry.data);
            const quint32 size
                = entry.declaredSize >= 0 ? quint32(entry.declaredSize) : quint32(entry.data.size());
            quint32 offset = quint32(out.size());
            if (entry.shareDataOf >= 0) {
                offset = offsets.at(entry.shareDataOf);
            } else {
                put32(out, 0x04034b50);
                put16(out, 20);
                put16(out, entry.flag);
                put16(out, entry.method);
                put16(out, 0); // time
                put16(out, 0x5821); // date 2024-01-01
                put32(out, crc);
                put32(out, quint32(stored.size()));
                put32(out, size);
                put16(out, quint16(entry.name.size()));
                put16(out, 0);
                out += entry.name;
                out += stored;
            }
            offsets.append(offset);
            put32(central, 0x02014b50);
            put16(central, entry.madeBy);
            put16(central, 20);
            put16(central, entry.flag);
            put16(central, entry.method);
            put16(central, 0);
            put16(central, 0x5821);
            put32(central, crc);
            put32(central, quint32(stored.size()));
            put32(central, size);
            put16(central, quint16(entry.name.size()));
            put16(central, 0);
            put16(central, 0);
            put16(central, 0);
            put16(central, 0);
            put32(central, entry.external);
            put32(central, offset);
            central += entry.name;
        }
        const quint32 centralOffset = quint32(out.size());
        out += central;
        put32(out, 0x06054b50);
        put16(out, 0);
        put16(out, 0);
        put16(out, quint16(m_entries.size()));
        put16(out, quint16(m_entries.size()));
        put32(out, quint32(central.size()));
        put32(out, centralOffset);
        put16(out, 0);
        return out;
    }

private:
    static void put16(QByteArray &out, quint16 value)
    {
        char raw[2];
        qToLittleEndian(value, raw);
        out.append(raw, 2);
    }
    static void put32(QByteArray &out, quint32 value)
    {
        char raw[4];
        qToLittleEndian(value, raw);
        out.append(raw, 4);
    }
    QList<RawEntry> m_entries;
};

RawEntry entry(const QByteArray &name, const QByteArray &data, quint16 method = 0)
{
    RawEntry result;
    result.name = name;
    result.data = data;
    result.method = method;
    return result;
}

QByteArray zeros(int size)
{
    return QByteArray(size, '\0');
}

/// Every file and folder below root, relative to it, sorted.
QStringList treeOf(const QString &root)
{
    QStringList found;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(QDir(root).relativeFilePath(it.next()));
    found.sort();
    return found;
}

bool runAsRoot()
{
    return TestSystem::isSuperUser();
}

/// A small tmpfs mounted for one test and unmounted however the test ends.
class TmpfsMount
{
public:
    TmpfsMount(const QString &path, const QString &options)
        : m_path(path)
    {
        QDir().mkpath(path);
        m_mounted = QProcess::execute(QStringLiteral("mount"),
                                      { QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                        options, QStringLiteral("tmpfs"), path })
            == 0;
    }
    ~TmpfsMount()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), { m_path });
    }
    bool mounted() const { return m_mounted; }

private:
    QString m_path;
    bool m_mounted = false;
};

} // namespace

class TestZipHostile : public QObject
{
    Q_OBJECT

private slots:
    void hostileArchive_data();
    void hostileArchive();
    void acceptedOddities_data();
    void acceptedOddities();
    void mutatedArchivesNeverEscape();
    void countsBeyond32Bits();
    void fullDiskFailsCleanly();
    void readOnlyDestination();
    void destinationBelowAFile();
    void entriesBeforeAFailureAreWhole();
    void cancelFails();
};

void TestZipHostile::hostileArchive_data()
{
    QTest::addColumn<QByteArray>("archive");

    const QByteArray payload("payload\n");
    const auto single
        = [&](const QByteArray &name) { return RawZip().add("ok.txt", "fine").add(name, payload).bytes(); };

    // Leaving the destination, in every spelling.
    QTest::newRow("dot-dot") << single("../escape.txt");
    QTest::newRow("dot-dot twice") << single("../../escape.txt");
    QTest::newRow("climb after folder") << single("a/../../escape.txt");
    QTest::newRow("backslash dot-dot") << single("..\\escape.txt");
    QTest::newRow("backslash climb") << single("a\\..\\..\\escape.txt");
    QTest::newRow("mixed separators") << single("a/..\\../escape.txt");
    QTest::newRow("dot then dot-dot") << single("./../escape.txt");
    QTest::newRow("own top form then dot-dot") << single("//../escape.txt");
    QTest::newRow("absolute /tmp") << single("/tmp/uh_zip_escape.txt");
    QTest::newRow("absolute /etc") << single("/etc/uh_zip_escape.txt");
    QTest::newRow("root backslash") << single("\\escape.txt");
    QTest::newRow("unc") << single("\\\\host\\share\\escape.txt");
    QTest::newRow("drive backslash") << single("C:\\escape.txt");
    QTest::newRow("drive slash") << single("C:/escape.txt");
    QTest::newRow("drive relative") << single("C:escape.txt");
    QTest::newRow("nul in name") << single(QByteArray("ok\0/../../escape.txt", 21));
    QTest::newRow("name is only dot-dot") << single("..");
    QTest::newRow("file named by its folder climb") << single("a/..");

    RawEntry link = entry("link", "../../outside");
    link.madeBy = (3 << 8) | 30;
    link.external = (0120777u << 16);
    QTest::newRow("symbolic link") << RawZip().add("ok.txt", "fine").add(link).bytes();

    QTest::newRow("bzip2 method") << RawZip().add(entry("x.txt", payload, 12)).bytes();
    QTest::newRow("unknown method") << RawZip().add(entry("x.txt", payload, 99)).bytes();

    RawEntry badCrc = entry("x.txt", payload);
    badCrc.crc = crcOf(payload) ^ 1;
    QTest::newRow("stored wrong crc") << RawZip().add(badCrc).bytes();
    RawEntry badDeflateCrc = entry("x.txt", QByteArray(5000, 'z'), 8);
    badDeflateCrc.crc = 0x12345678;
    QTest::newRow("deflate wrong crc") << RawZip().add(badDeflateCrc).bytes();

    RawEntry larger = entry("x.txt", QByteArray(5000, 'z'), 8);
    larger.declaredSize = 6000;
    QTest::newRow("declared size larger") << RawZip().add(larger).bytes();
    RawEntry smaller = entry("x.txt", QByteArray(5000, 'z'), 8);
    smaller.declaredSize = 4000;
    QTest::newRow("declared size smaller") << RawZip().add(smaller).bytes();
    RawEntry storedSmaller = entry("x.txt", payload);
    storedSmaller.declaredSize = 3;
    QTest::newRow("stored size smaller") << RawZip().add(storedSmaller).bytes();
    RawEntry zeroSize = entry("x.txt", QByteArray(5000, 'z'), 8);
    zeroSize.declaredSize = 0;
    QTest::newRow("declared size zero") << RawZip().add(zeroSize).bytes();

    // The compressed data ends early, and the header says so: the entry
    // reads short of its declared size.
    RawEntry cut = entry("x.txt", QByteArray(200000, 'c') + QByteArray(3000, 'd'), 8);
    cut.cutCompressed = 40;
    QTest::newRow("deflate data cut short") << RawZip().add(cut).bytes();
    RawEntry cutStored = entry("x.txt", QByteArray(3000, 's'));
    cutStored.cutCompressed = 100;
    QTest::newRow("stored data cut short") << RawZip().add(cutStored).bytes();

    QByteArray corrupt
        = RawZip().add(entry("x.txt", QByteArray(20000, 'q') + QByteArray(20000, 'r'), 8)).bytes();
    corrupt[60] = char(corrupt.at(60) ^ 0x5a);
    QTest::newRow("corrupt deflate stream") << corrupt;

    // Many entries reading one compressed block: a zip bomb.
    RawZip bomb;
    bomb.add(entry("b00.txt", zeros(1 << 20), 8));
    for (int i = 1; i < 60; ++i) {
        RawEntry shared
            = entry(QStringLiteral("b%1.txt").arg(i, 2, 10, QLatin1Char('0')).toLatin1(), zeros(1 << 20), 8);
        shared.shareDataOf = 0;
        bomb.add(shared);
    }
    QTest::newRow("overlapping entries") << bomb.bytes();

    const QByteArray sound = RawZip().add("a.txt", "alpha").add("b.txt", "beta").bytes();
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("text file") << QByteArray("this is not an archive\n");
    QTest::newRow("truncated central directory") << sound.left(sound.size() - 30);
    QTest::newRow("no end record") << sound.left(sound.size() - 22);
    QByteArray badCount = sound;
    badCount[badCount.size() - 12] = 9; // entries on this disk
    badCount[badCount.size() - 14] = 9; // entries in total
    QTest::newRow("entry count lies") << badCount;
    QByteArray badOffset = sound;
    badOffset[badOffset.size() - 6] = char(badOffset.at(badOffset.size() - 6) + 7);
    QTest::newRow("central offset lies") << badOffset;
}

void TestZipHostile::hostileArchive()
{
    QFETCH(QByteArray, archive);
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("in/hostile.zip"), archive));
    QVERIFY(ws.makeDir(QStringLiteral("root/dest")));
    const QStringList before = treeOf(ws.path());

    QVERIFY(!TZipFile::TestArchive(ws.filePath(QStringLiteral("in/hostile.zip")), QString()));
    for (const bool keepPaths : { true, false }) {
        QVERIFY(!TZipFile::UnzipArchive(QStringLiteral("in/hostile.zip"), QStringLiteral("root/dest/"),
                                        keepPaths, QString(), nullptr));
        // Nothing anywhere but possibly inside the destination.
        const QStringList after = treeOf(ws.path());
        for (const QString &path : after)
            QVERIFY2(before.contains(path) || path.startsWith(QLatin1String("root/dest/")), qPrintable(path));
    }
    QVERIFY(!QFileInfo::exists(QStringLiteral("/etc/uh_zip_escape.txt")));
    QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/uh_zip_escape.txt")));
    // A link entry is never created, not even inside.
    QDirIterator it(ws.filePath(QStringLiteral("root/dest")),
                    QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        QVERIFY2(!QFileInfo(it.next()).isSymLink(), qPrintable(it.filePath()));
}

void TestZipHostile::acceptedOddities_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QStringList>("files"); // "path=content" below the destination

    const QByteArray longName
        = QByteArray(120, 'd') + "/" + QByteArray(120, 'e') + "/" + QByteArray(100, 'f') + ".txt";
    QTest::newRow("name over 256 bytes")
        << RawZip().add(longName, "long").bytes()
        << QStringList { QString::fromLatin1(longName) + QStringLiteral("=long") };
    QTest::newRow("duplicate names, last wins")
        << RawZip().add("dup.txt", "first").add("dup.txt", "second").bytes()
        << QStringList { QStringLiteral("dup.txt=second") };
    QTest::newRow("no folder entries")
        << RawZip().add("x/y/z.txt", "deep").bytes() << QStringList { QStringLiteral("x/y/z.txt=deep") };
    QTest::newRow("own top-level form")
        << RawZip().add("//top.txt", "top").add("sub//in.txt", "in").bytes()
        << QStringList { QStringLiteral("top.txt=top"), QStringLiteral("sub/in.txt=in") };
    QTest::newRow("backslash folders")
        << RawZip().add("win\\dir\\f.txt", "w").bytes() << QStringList { QStringLiteral("win/dir/f.txt=w") };
    QTest::newRow("dot-dot that stays inside")
        << RawZip().add("a/b/../c.txt", "c").bytes() << QStringList { QStringLiteral("a/c.txt=c") };
    RawEntry utf8 = entry("caf\xc3\xa9.txt", "utf8");
    utf8.flag = 0x800;
    QTest::newRow("utf-8 flagged name")
        << RawZip().add(utf8).bytes() << QStringList { QStringLiteral("café.txt=utf8") };
    QTest::newRow("latin-1 name") << RawZip().add("caf\xe9.txt", "latin").bytes()
                                  << QStringList { QStringLiteral("café.txt=latin") };
    QTest::newRow("empty entry after a full one of its name")
        << RawZip().add(entry("dup.txt", QByteArray(300000, 'f'), 8)).add("dup.txt", QByteArray()).bytes()
        << QStringList { QStringLiteral("dup.txt=") };
    // No entries at all: nothing to extract, nothing wrong.
    QTest::newRow("no entries") << RawZip().bytes() << QStringList();
    RawEntry folder = entry("only/", QByteArray());
    QTest::newRow("folder without attribute") << RawZip().add(folder).add("only/f.txt", "f").bytes()
                                              << QStringList { QStringLiteral("only/f.txt=f") };
}

void TestZipHostile::acceptedOddities()
{
    QFETCH(QByteArray, archive);
    QFETCH(QStringList, files);
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("odd.zip"), archive));
    QVERIFY(TZipFile::TestArchive(QStringLiteral("odd.zip"), QString()));
    QVERIFY(
        TZipFile::UnzipArchive(QStringLiteral("odd.zip"), QStringLiteral("dest/"), true, QString(), nullptr));
    QStringList expectedFiles;
    for (const QString &file : files) {
        const QString path = file.section(QLatin1Char('='), 0, 0);
        expectedFiles.append(path);
        QCOMPARE(ws.readFile(QStringLiteral("dest/") + path), file.section(QLatin1Char('='), 1).toUtf8());
    }
    QStringList found;
    for (const QString &path : treeOf(ws.filePath(QStringLiteral("dest"))))
        if (QFileInfo(ws.filePath(QStringLiteral("dest/") + path)).isFile())
            found.append(path);
    expectedFiles.sort();
    QCOMPARE(found, expectedFiles);
}

void TestZipHostile::mutatedArchivesNeverEscape()
{
    // Random damage to a sound archive: never a crash or a hang, never a file
    // outside the destination.
    TestWorkspace ws;
    RawZip zip;
    zip.add(entry("a/one.txt", QByteArray(3000, 'a') + "tail", 8));
    zip.add(entry("two.bin", QByteArray(700, '\x07'), 0));
    zip.add(entry("b/c/three.txt", "three"));
    const QByteArray sound = zip.bytes();
    QRandomGenerator random(20240101);
    for (int round = 0; round < 300; ++round) {
        QByteArray damaged = sound;
        const int flips = 1 + int(random.bounded(4));
        for (int i = 0; i < flips; ++i)
            damaged[int(random.bounded(damaged.size()))] = char(random.bounded(256));
        QVERIFY(ws.writeFile(QStringLiteral("m.zip"), damaged));
        const QString dest = QStringLiteral("out%1/").arg(round);
        TZipFile::TestArchive(QStringLiteral("m.zip"), QString());
        TZipFile::UnzipArchive(QStringLiteral("m.zip"), dest, true, QString(), nullptr);
        for (const QString &path : treeOf(ws.path()))
            QVERIFY2(path == QLatin1String("m.zip") || path.startsWith(QLatin1String("out")),
                     qPrintable(path));
        // Each round walks only its own output (a hang ends at ctest's time-out).
        QVERIFY(QDir(ws.filePath(dest)).removeRecursively());
    }
}

void TestZipHostile::countsBeyond32Bits()
{
    // Two entries that declare 3 GiB each: the 6 GiB total and every
    // progress count are scaled into the 32-bit signals by the same factor,
    // and the declared size that the data never reaches fails the extraction.
    TestWorkspace ws;
    RawEntry first = entry("a.bin", QByteArray(100000, 'h'), 8);
    first.declaredSize = 3LL << 30;
    RawEntry second = entry("b.bin", QByteArray(100, 'b'), 8);
    second.declaredSize = 3LL << 30;
    QVERIFY(ws.writeFile(QStringLiteral("huge.zip"),
                         RawZip().add("small.txt", "small").add(first).add(second).bytes()));
    const quint64 declared = (6ULL << 30) + 5;
    QCOMPARE(TZipFile::UncompressedSize(QStringLiteral("huge.zip")), qint64(declared));

    QZipFileNotificationInterface notifier;
    QList<uint> totals;
    QList<QPair<uint, uint>> steps;
    connect(&notifier, &QZipFileNotificationInterface::total, this,
            [&](uint total) { totals.append(total); });
    connect(&notifier, &QZipFileNotificationInterface::progress, this, [&](uint done, uint total) {
        steps.append({ done, total });
    });
    QVERIFY(!TZipFile::UnzipArchive(QStringLiteral("huge.zip"), QStringLiteral("out/"), true, QString(),
                                    &notifier));
    const uint scaled = uint(declared >> 1);
    QCOMPARE(totals, QList<uint> { scaled });
    QVERIFY(!steps.isEmpty());
    for (const auto &step : steps)
        QCOMPARE(step.second, scaled);
    QCOMPARE(steps.last().first, uint((5 + 100000) >> 1));
    QVERIFY(!QFileInfo::exists(QStringLiteral("out/b.bin")));
    QVERIFY(!TZipFile::TestArchive(QStringLiteral("huge.zip"), QString()));
}

void TestZipHostile::fullDiskFailsCleanly()
{
    if (!runAsRoot())
        QSKIP("mounting a small tmpfs needs root");
    TestWorkspace ws;
    const QString mountPoint = ws.filePath(QStringLiteral("small"));
    TmpfsMount mount(mountPoint, QStringLiteral("size=1m"));
    if (!mount.mounted())
        QSKIP("tmpfs cannot be mounted here");

    QByteArray noise(3 << 20, '\0');
    QRandomGenerator random(7);
    random.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    QVERIFY(ws.writeFile(QStringLiteral("big.zip"),
                         RawZip().add("small.txt", "fits").add(entry("big.bin", noise, 8)).bytes()));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!TZipFile::UnzipArchive(QStringLiteral("big.zip"), mountPoint + QLatin1Char('/'), true, QString(),
                                    nullptr));
    QVERIFY(timer.elapsed() < 20000);
    // What was extracted before the disk filled up stays.
    QCOMPARE(ws.readFile(QStringLiteral("small/small.txt")), QByteArray("fits"));
}

void TestZipHostile::readOnlyDestination()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("a.zip"),
                         RawZip().add("f.txt", "data").add("e.txt", QByteArray()).bytes()));
    const QString dest = ws.filePath(QStringLiteral("ro"));
    std::unique_ptr<TmpfsMount> mount;
    if (runAsRoot()) {
        // Root writes through permission bits: only a read-only mount stops it.
        mount = std::make_unique<TmpfsMount>(dest, QStringLiteral("ro,size=64k"));
        if (!mount->mounted())
            QSKIP("tmpfs cannot be mounted here");
    } else {
        QVERIFY(ws.makeDir(QStringLiteral("ro")));
        QVERIFY(QFile::setPermissions(dest, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        // Windows keeps a folder's read-only mark for the shell only; under Wine
        // the superuser behind the program writes through permission bits.
        QFile probe(dest + QStringLiteral("/probe"));
        if (probe.open(QIODevice::WriteOnly)) {
            probe.remove();
            QFile::setPermissions(dest, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            QSKIP("a folder without write permission is still writable here");
        }
    }
    QVERIFY(
        !TZipFile::UnzipArchive(QStringLiteral("a.zip"), dest + QLatin1Char('/'), true, QString(), nullptr));
    QVERIFY(
        !TZipFile::UnzipArchive(QStringLiteral("a.zip"), dest + QLatin1Char('/'), false, QString(), nullptr));
    QVERIFY(treeOf(dest).isEmpty());
    if (!mount)
        QFile::setPermissions(dest, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestZipHostile::destinationBelowAFile()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("a.zip"), RawZip().add("f.txt", "data").bytes()));
    QVERIFY(ws.writeFile(QStringLiteral("plain"), "a file, not a folder"));
    QVERIFY(
        !TZipFile::UnzipArchive(QStringLiteral("a.zip"), QStringLiteral("plain/"), true, QString(), nullptr));
    QVERIFY(!TZipFile::UnzipArchive(QStringLiteral("a.zip"), QStringLiteral("plain/sub/"), false, QString(),
                                    nullptr));
    QCOMPARE(ws.readFile(QStringLiteral("plain")), QByteArray("a file, not a folder"));
}

void TestZipHostile::entriesBeforeAFailureAreWhole()
{
    // Entries are written several at once, yet a failure leaves what a walk
    // in archive order would: every entry before the bad one whole.
    RawZip zip;
    QStringList expected;
    for (int i = 0; i < 24; ++i) {
        const QByteArray name = "f" + QByteArray::number(i) + ".txt";
        const QByteArray data = QByteArray(200000 + i, char('a' + i % 26));
        zip.add(entry(name, data, 8));
        expected << QString::fromLatin1(name);
    }
    RawEntry bad = entry("bad.txt", QByteArray(400000, 'b'), 8);
    bad.crc = 0x1234;
    zip.add(bad);
    for (int i = 0; i < 8; ++i)
        zip.add(entry("after" + QByteArray::number(i) + ".txt", QByteArray(300000, 'z'), 8));
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("a.zip"), zip.bytes()));
    QVERIFY(!TZipFile::UnzipArchive(QStringLiteral("a.zip"), QStringLiteral("dest/"), true, QString(), nullptr));
    for (int i = 0; i < 24; ++i)
        QCOMPARE(ws.readFile(QStringLiteral("dest/f%1.txt").arg(i)), QByteArray(200000 + i, char('a' + i % 26)));
}

void TestZipHostile::cancelFails()
{
    RawZip zip;
    for (int i = 0; i < 16; ++i)
        zip.add(entry("f" + QByteArray::number(i) + ".bin", QByteArray(1 << 20, char(i)), 8));
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("a.zip"), zip.bytes()));
    QZipFileNotificationInterface notifier;
    uint last = 0;
    uint whole = 0;
    bool cancel = true;
    connect(&notifier, &QZipFileNotificationInterface::progress, this, [&](uint done, uint total) {
        last = done;
        whole = total;
        if (cancel)
            notifier.requestCancel(); // at the first chunk
    });
    QVERIFY(!TZipFile::UnzipArchive(QStringLiteral("a.zip"), QStringLiteral("dest/"), true, QString(), &notifier));
    QVERIFY(last > 0);
    QVERIFY(!TZipFile::TestArchive(QStringLiteral("a.zip"), QString(), &notifier));
    notifier.resetCancel();
    cancel = false;
    QVERIFY(TZipFile::TestArchive(QStringLiteral("a.zip"), QString(), &notifier));
    QVERIFY(TZipFile::UnzipArchive(QStringLiteral("a.zip"), QStringLiteral("dest/"), true, QString(), &notifier));
    QCOMPARE(last, whole);
}

QTEST_GUILESS_MAIN(TestZipHostile)
#include "tst_tzipfile_hostile.moc"
