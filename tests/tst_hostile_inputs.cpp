// Hostile inputs from outside: a generated set of archives built to escape
// their destination or to lie about their contents, and service answers that
// lack their separators, carry huge fields, NUL bytes or bytes of no text
// encoding, or never end. Archives must be refused (or, for the oddities that
// are harmless, extracted inside the destination) and never write outside it;
// answers must end in the caller's ordinary failure, never in a crash.
#include "update/downloadnames.h"
#include "app/mainwindow.h"
#include "update/updateplanner.h"
#include "archive/tzipfile.h"
#include "language/ttranslator.h"
#include "service/serviceanswers.h"
#include "service/thttp.h"
#include "support/modalanswerer.h"
#include "support/zipbytes.h"
#include "support/servicefixture.h"
#include "support/workspace.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QStackedWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QtEndian>
#include <QtTest>


namespace {

using ZipBytes::crcOf;
using ZipBytes::deflateRaw;

/// One entry of a generated archive; every field can be made to lie.
struct Entry
{
    QByteArray name;
    QByteArray data;
    bool deflate = false;
    bool encrypted = false;
    quint16 madeBy = 20; // DOS host
    quint32 external = 0;
    qint64 crc = -1; // -1: the real one
    qint64 size = -1; // declared uncompressed size, -1: the real one
};

Entry file(const QByteArray &name, const QByteArray &data = QByteArray("payload"))
{
    Entry entry;
    entry.name = name;
    entry.data = data;
    return entry;
}

Entry linkEntry(const QByteArray &name, const QByteArray &target)
{
    Entry entry = file(name, target);
    entry.madeBy = quint16(3 << 8 | 20); // Unix host
    entry.external = quint32(0120777) << 16;
    return entry;
}

void put16(QByteArray &out, quint32 value)
{
    out.append(char(value & 0xff)).append(char((value >> 8) & 0xff));
}

void put32(QByteArray &out, quint32 value)
{
    put16(out, value & 0xffff);
    put16(out, value >> 16);
}

QByteArray zip(const QList<Entry> &entries)
{
    QByteArray out;
    QByteArray central;
    for (const Entry &entry : entries) {
        const QByteArray stored = entry.deflate ? deflateRaw(entry.data) : entry.data;
        const quint32 crc = entry.crc >= 0
            ? quint32(entry.crc)
            : quint32(
                crcOf(entry.data));
        const quint32 size = entry.size >= 0 ? quint32(entry.size) : quint32(entry.data.size());
        const quint16 flag = entry.encrypted ? 1 : 0;
        const quint16 method = entry.deflate ? 8 : 0;
        const quint32 offset = quint32(out.size());
        put32(out, 0x04034b50);
        put16(out, 20);
        put16(out, flag);
        put16(out, method);
        put16(out, 0);
        put16(out, 0x5821);
        put32(out, crc);
        put32(out, quint32(stored.size()));
        put32(out, size);
        put16(out, quint16(entry.name.size()));
        put16(out, 0);
        out += entry.name + stored;

        put32(central, 0x02014b50);
        put16(central, entry.madeBy);
        put16(central, 20);
        put16(central, flag);
        put16(central, method);
        put16(central, 0);
        put16(central, 0x5821);
        put32(central, crc);
        put32(central, quint32(stored.size()));
        put32(central, size);
        put16(central, quint16(entry.name.size()));
        put32(central, 0); // extra and comment lengths
        put32(central, 0); // disk, internal attributes
        put32(central, entry.external);
        put32(central, offset);
        central += entry.name;
    }
    const quint32 centralOffset = quint32(out.size());
    out += central;
    put32(out, 0x06054b50);
    put32(out, 0);
    put16(out, quint32(entries.size()));
    put16(out, quint32(entries.size()));
    put32(out, quint32(central.size()));
    put32(out, centralOffset);
    put16(out, 0);
    return out;
}

/// Every path below a folder, relative, links included (not followed).
QStringList tree(const QString &folder)
{
    QStringList paths;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << QDir(folder).relativeFilePath(it.next());
    paths.sort();
    return paths;
}

/// What an archive of the set must come to.
enum Expect {
    Refused, // extraction (or the test) fails
    Contained, // may be extracted, but only inside the destination
};

int refusedCount = 0;
int archiveCount = 0;
QStringList acceptedArchives;

} // namespace

class TestHostileInputs : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { TTranslator::instance()->loadTranslation(QString()); }

    void hostileArchive_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<int>("expect");
        auto single = [](const char *tag, const QByteArray &name) {
            QTest::newRow(tag) << zip({ file("inside.txt"), file(name) }) << int(Refused);
        };
        // Climbing out with "/", "\", drive letters and mixtures of them.
        single("slash climb", "../outside.txt");
        single("slash climb deep", "../../../../../../../../tmp/uh_hostile_out.txt");
        single("slash climb after folder", "sub/../../outside.txt");
        single("backslash climb", "..\\outside.txt");
        single("backslash climb after folder", "sub\\..\\..\\outside.txt");
        single("mixed climb", "sub/..\\../outside.txt");
        single("mixed climb reversed", "sub\\../..\\outside.txt");
        single("dot mixed climb", ".\\../outside.txt");
        single("drive backslash", "C:\\outside.txt");
        single("drive slash", "C:/outside.txt");
        single("drive relative", "D:outside.txt");
        single("drive climb", "c:..\\outside.txt");
        single("drive then climb", "C:/../../outside.txt");
        // Absolute paths.
        single("absolute", "/tmp/uh_hostile_out.txt");
        single("absolute backslash", "\\tmp\\uh_hostile_out.txt");
        single("unc path", "\\\\server\\share\\outside.txt");
        single("absolute climb", "/../outside.txt");
        // Links: never created, and never followed by a later entry.
        QTest::newRow("link to outside") << zip({ linkEntry("link", "/tmp") }) << int(Refused);
        QTest::newRow("link then write through it")
            << zip({ linkEntry("link", ".."), file("link/outside.txt") }) << int(Refused);
        QTest::newRow("link with climbing target") << zip({ linkEntry("up", "../../../..") }) << int(Refused);
        // Names: climbs hidden in long names, a component too long to exist.
        single("long name climb", QByteArray(300, 'a') + "/../../../outside.txt");
        single("climb then long name", "../" + QByteArray(300, 'b'));
        QTest::newRow("component over 256 bytes") << zip({ file(QByteArray(300, 'c')) }) << int(Contained);
        QTest::newRow("path over 256 bytes")
            << zip({ file(QByteArray(120, 'd') + '/' + QByteArray(120, 'e') + '/' + QByteArray(120, 'f')) })
            << int(Contained);
        // Empty names and names of nothing.
        QTest::newRow("empty name with data") << zip({ file("") }) << int(Contained);
        QTest::newRow("name of only a slash") << zip({ file("/") }) << int(Contained);
        QTest::newRow("name of only a backslash") << zip({ file("\\") }) << int(Contained);
        QTest::newRow("name of only dots") << zip({ file("..") }) << int(Refused);
        // Duplicates: one name twice, a file where a later entry needs a folder.
        QTest::newRow("duplicate names")
            << zip({ file("twice.txt", "first"), file("twice.txt", "second") }) << int(Contained);
        QTest::newRow("file then folder of the same name")
            << zip({ file("same", "a file"), file("same/inner.txt") }) << int(Contained);
        QTest::newRow("duplicate climbing name")
            << zip({ file("../outside.txt"), file("../outside.txt") }) << int(Refused);
        // Sizes and checksums that lie.
        Entry larger = file("larger.txt", QByteArray(5000, 'l'));
        larger.size = 9000;
        QTest::newRow("size larger than data") << zip({ larger }) << int(Refused);
        Entry smaller = file("smaller.txt", QByteArray(5000, 's'));
        smaller.deflate = true;
        smaller.size = 100;
        QTest::newRow("size smaller than data") << zip({ smaller }) << int(Refused);
        Entry zero = file("zero.txt", QByteArray(5000, 'z'));
        zero.deflate = true;
        zero.size = 0;
        QTest::newRow("size zero for data") << zip({ zero }) << int(Refused);
        Entry crc = file("crc.txt", QByteArray(4000, 'k'));
        crc.crc = 0x12345678;
        QTest::newRow("wrong crc stored") << zip({ crc }) << int(Refused);
        Entry crcDeflated = crc;
        crcDeflated.deflate = true;
        QTest::newRow("wrong crc deflated") << zip({ crcDeflated }) << int(Refused);
        // Encrypted as the traditional scheme stores it: a 12-byte header and
        // scrambled data, the CRC of the plain text. Without the password the
        // entry cannot come out whole.
        Entry encrypted = file("secret.txt", QByteArray(12, '\x5a') + QByteArray(100, '\x1f'));
        encrypted.encrypted = true;
        encrypted.crc = crcOf(QByteArray(100, 'e'));
        encrypted.size = 100;
        QTest::newRow("encrypted entry") << zip({ encrypted }) << int(Refused);
        // A directory cut short, an archive cut short.
        const QByteArray sound = zip({ file("a.txt", "alpha"), file("b.txt", "beta") });
        QTest::newRow("directory cut by 10") << sound.left(sound.size() - 10) << int(Refused);
        QTest::newRow("directory cut by 40") << sound.left(sound.size() - 40) << int(Refused);
        QTest::newRow("data cut short") << sound.left(40) << int(Refused);
        // High compression ratio: 48 MiB of zeros in about 50 KiB, told
        // honestly (extracted, exactly as big) or hidden behind a small size.
        Entry ratio = file("zeros.bin", QByteArray(48 << 20, '\0'));
        ratio.deflate = true;
        QTest::newRow("high ratio told") << zip({ ratio }) << int(Contained);
        ratio.size = 1024;
        QTest::newRow("high ratio hidden") << zip({ ratio }) << int(Refused);
    }

    void hostileArchive()
    {
        QFETCH(QByteArray, archive);
        QFETCH(int, expect);
        TestWorkspace ws;
        QVERIFY(ws.writeFile(QStringLiteral("in/hostile.zip"), archive));
        QVERIFY(ws.makeDir(QStringLiteral("a/b/dest")));
        const QString top = QFileInfo(ws.path()).absolutePath();
        const QStringList before = tree(top);

        const bool tested = TZipFile::TestArchive(ws.filePath(QStringLiteral("in/hostile.zip")), QString());
        bool extracted = false;
        for (const bool keepPaths : { true, false }) {
            extracted = TZipFile::UnzipArchive(ws.filePath(QStringLiteral("in/hostile.zip")),
                                               ws.filePath(QStringLiteral("a/b/dest/")), keepPaths, QString(),
                                               nullptr)
                || extracted;
            for (const QString &path : tree(top))
                QVERIFY2(before.contains(path) || path.startsWith(QLatin1String("program/a/b/dest/")),
                         qPrintable(path));
        }
        QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/uh_hostile_out.txt")));
        QDirIterator it(ws.filePath(QStringLiteral("a/b/dest")),
                        QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext())
            QVERIFY2(!QFileInfo(it.next()).isSymLink(), qPrintable(it.filePath()));
        // What a successful extraction wrote has the size its entry had.
        const QFileInfo zeros(ws.filePath(QStringLiteral("a/b/dest/zeros.bin")));
        if (extracted && zeros.exists())
            QCOMPARE(zeros.size(), qint64(48 << 20));

        ++archiveCount;
        const bool refused = !extracted || !tested;
        refusedCount += refused ? 1 : 0;
        if (!refused)
            acceptedArchives << QString::fromLatin1(QTest::currentDataTag());
        if (expect == Refused)
            QVERIFY2(!extracted, "extraction reported success");
    }

    void archiveCountSummary()
    {
        qInfo("hostile archives refused: %d of %d", refusedCount, archiveCount);
        qInfo("extracted inside their destination only: %s",
              qPrintable(acceptedArchives.join(QStringLiteral(", "))));
        QVERIFY(archiveCount >= 30);
    }

    void plannerParsersSurviveHostileAnswers_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("no separators") << QByteArray("Automobili standard_product nothing else");
        QTest::newRow("only separators") << QByteArray(5000, ';');
        QTest::newRow("only line ends") << QByteArray("\r\n\r\n\r\n\n\r");
        QTest::newRow("huge field") << QByteArray("x;y;z;") + QByteArray(4 << 20, 'N') + ";id";
        QTest::newRow("nul bytes") << QByteArray("prod\0;a;b;Name\0;id\0\r\n/files/\0x.zip:varno_pc\0", 44);
        QTest::newRow("bytes of no text encoding")
            << QByteArray("\xff\xfe;\x80\x81;\xc3;\xe9\xe9;\x9f\r\n/\xff/\xfe.zip:\x80");
        QTest::newRow("colons and slashes only") << QByteArray("::::////::\r\n:/\r\n/:\r\n");
        QTest::newRow("many lines") << QByteArray("/files/a.zip:varno_pc\r\n").repeated(20000);
    }

    void plannerParsersSurviveHostileAnswers()
    {
        QFETCH(QByteArray, answer);
        const QString text = QString::fromLatin1(answer);
        const QList<UpdatePlanner::Product> products = UpdatePlanner::parseProducts(text);
        QVERIFY(products.size() <= text.count(QLatin1Char(';')) + 1);
        int emptyIds = 0;
        for (const UpdatePlanner::Product &product : products)
            emptyIds += product.id.isEmpty() ? 1 : 0;
        QVERIFY(emptyIds <= 1);

        const QStringList entries = UpdatePlanner::downloadEntries(text);
        for (const QString &entry : entries) {
            QVERIFY2(entry.contains(QLatin1Char(':')), qPrintable(entry.left(80)));
            QVERIFY(!DownloadNames::servicePath(entry).isEmpty());
        }
        const QStringList ordered = UpdatePlanner::orderedDownloads(entries);
        QVERIFY(ordered.size() <= entries.size());
        QVERIFY(!UpdatePlanner::newestRelease(text).contains(QLatin1String("\r\n")));
        // A version in any of these reads as a plain number.
        QVERIFY(qIsFinite(ServiceAnswers::versionNumber(text)));
        QVERIFY(ServiceAnswers::dateTimeMs(text).isEmpty());
        QVERIFY(ServiceAnswers::dateStamp(text).isEmpty());
    }

    void localNamesNeverLeaveTheWorkFolder_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::newRow("climb in the path") << QStringLiteral("/files/varnohub/../../etc/passwd:varno_pc");
        QTest::newRow("climb in the target") << QStringLiteral("/files/varnohub/a.zip:../../evil");
        QTest::newRow("backslash target") << QStringLiteral("/files/varnohub/a.zip:..\\..\\evil");
        QTest::newRow("backslash file name") << QStringLiteral("/files/varnohub/x/..\\..\\a.zip:varno_pc");
        QTest::newRow("drive in the target") << QStringLiteral("/files/varnohub/a.zip:C:\\evil");
        QTest::newRow("absolute target") << QStringLiteral("/files/varnohub/a.zip:/etc/evil");
        QTest::newRow("no colon") << QStringLiteral("/files/varnohub/a.zip");
        QTest::newRow("only a colon") << QStringLiteral(":");
        QTest::newRow("path ends in slash") << QStringLiteral("/files/varnohub/dir/:varno_pc");
        QTest::newRow("nul in the name") << QString::fromLatin1(QByteArray("/files/a\0b.zip:varno_pc", 23));
        QTest::newRow("moto fields climb")
            << QStringLiteral("/files/varnohub/x/moto_files/ad/../../../../a.zip:adfiles");
        QTest::newRow("huge name") << (QStringLiteral("/files/") + QString(70000, QLatin1Char('n'))
                                       + QStringLiteral(".zip:varno_pc"));
    }

    void localNamesNeverLeaveTheWorkFolder()
    {
        QFETCH(QString, entry);
        const DownloadNames::LocalName local
            = DownloadNames::localName(entry, { QStringLiteral("database_auto"), QStringLiteral("../db") });
        QVERIFY2(!local.name.contains(QLatin1Char('/')) && !local.name.contains(QLatin1Char('\\'))
                     && !local.name.contains(QLatin1Char(':')),
                 qPrintable(local.name.left(120)));
        QVERIFY(local.name != QLatin1String("..") && local.name != QLatin1String("."));
        QVERIFY(local.kind.isEmpty() || local.kind == QLatin1String("bbad")
                || local.kind == QLatin1String("balloon"));
    }

    void hostileAnswersThroughTheClient_data()
    {
        QTest::addColumn<QByteArray>("catalogue");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("complete");
        // An answer over the client's limit for texts is abandoned, not kept.
        QTest::newRow("huge answer") << QByteArray() << QStringLiteral("/files/varnohub/huge.txt") << false;
        QTest::newRow("nul and high bytes")
            << QByteArray("[answers]\n/files/varnohub/odd.asp => OK\\x00\\xff\\xfe\\r\\nSN=\\x00\\x80\n")
            << QStringLiteral("/files/varnohub/odd.asp") << true;
        // A slow body that keeps coming byte by byte is waited for to its end.
        QTest::newRow("dripping body") << QByteArray("[faults]\n/files/varnohub/slow.txt => drip 2\n")
                                       << QStringLiteral("/files/varnohub/slow.txt") << true;
        QTest::newRow("garbage") << QByteArray("[faults]\n/files/varnohub/login.asp => garbage 5000\n")
                                 << QStringLiteral("/files/varnohub/login.asp?password=X") << true;
    }

    void hostileAnswersThroughTheClient()
    {
        QFETCH(QByteArray, catalogue);
        QFETCH(QString, target);
        QFETCH(bool, complete);
        TestWorkspace ws;
        ServiceFixture service;
        QVERIFY(service.writeCatalogue(catalogue));
        QVERIFY(service.writeFile(QStringLiteral("huge.txt"), QByteArray(17 << 20, 'h')));
        QVERIFY(service.writeFile(QStringLiteral("slow.txt"), QByteArray(400, 's')));
        QVERIFY(service.start());
        QVERIFY(ServiceFixture::writeHttpServerIni(ws.path(), service.port(), QStringLiteral("praxo"),
                                                   "stall_timeout=5\n"));
        THttp http;
        QElapsedTimer clock;
        clock.start();
        const QString answer = http.getText(target);
        QVERIFY(clock.elapsed() < 30000);
        if (!complete) {
            QVERIFY(answer.isEmpty());
            return;
        }
        QCOMPARE(http.statusCode(), 200);
        QVERIFY(!answer.isEmpty());
        if (target.endsWith(QLatin1String("slow.txt")))
            QCOMPARE(answer, QString(400, QLatin1Char('s')));
        if (target.endsWith(QLatin1String("odd.asp")))
            QCOMPARE(answer.toLatin1(), QByteArray("OK\0\xff\xfe\r\nSN=\0\x80", 12));
    }

    void hostileLoginAnswerInTheWindow_data()
    {
        QTest::addColumn<QByteArray>("login");
        QTest::addColumn<bool>("taken"); // the service takes the values sent back
        QTest::newRow("no separators") << QByteArray("OK SN 123 CELLULARE 555") << true;
        QTest::newRow("no equals signs")
            << QByteArray("OK\\r\\nSN\\r\\nCELLULARE\\r\\nE-MAIL\\r\\nRIVENDITORE") << true;
        QTest::newRow("nul bytes") << QByteArray(
            "OK\\r\\nSN=\\x00\\x00\\r\\nE-MAIL=a\\x00b\\r\\n\\x00=\\x00") << true;
        QTest::newRow("bytes of no text encoding")
            << QByteArray("OK\\r\\nRAGIONE SOCIALE=\\xff\\xfe\\x80\\r\\nCELLULARE=\\xc3\\x28") << true;
        // The e-mail goes back by its name; a request line of 300 kB is
        // refused by the service: the message, and the table stays.
        QTest::newRow("huge field") << QByteArray("OK\\r\\nE-MAIL=") + QByteArray(300000, 'm') << false;
        QTest::newRow("field name repeated in its value") << QByteArray("OK\\r\\nSN=SN=SN=\\r\\nSN=") << true;
    }

    void hostileLoginAnswerInTheWindow()
    {
        QFETCH(QByteArray, login);
        QFETCH(bool, taken);
        TestWorkspace ws;
        QTemporaryDir catalogue;
        QVERIFY(ServiceFixture::makeDemoCatalogue(catalogue.path()));
        QFile ini(QDir(catalogue.path()).filePath(QStringLiteral("service.ini")));
        QVERIFY(ini.open(QIODevice::Append));
        ini.write("\n[answers]\n/files/varnohub/login.asp?password=DEMO0001 => " + login + "\n");
        ini.close();
        ServiceFixture service(catalogue.path());
        QVERIFY(service.start());
        ws.writeFile(QStringLiteral("customize_update.ini"),
                     "[personalizzazioni]\nupdate_pc=1\nupdate_palm=0\n");
        ws.writeFile(QStringLiteral("password.ini"),
                     "[impostazioni]\npassword=DEMO-0001\nserialnumber=SN9\n");
        QVERIFY(ServiceFixture::writeHttpServerIni(ws.path(), service.port(), QStringLiteral("praxo"),
                                                   "stall_timeout=5\n"));

        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        MainWindow w;
        w.show();
        QTest::mouseClick(w.findChild<QToolButton *>(QStringLiteral("tbDownload")), Qt::LeftButton);
        QTest::mouseClick(w.findChild<QToolButton *>(QStringLiteral("tbOkPw")), Qt::LeftButton);
        const QTableWidget *table = w.findChild<QTableWidget *>(QStringLiteral("tableWidgetInfo"));
        // Only recognised lines make rows, and every row has both cells.
        QVERIFY(table->rowCount() <= 5);
        for (int row = 0; row < table->rowCount(); ++row)
            QVERIFY(table->item(row, 0) && table->item(row, 1));
        QTest::mouseClick(w.findChild<QToolButton *>(QStringLiteral("tbOkInfo")), Qt::LeftButton);
        // The values go back (the service takes them) and the language page follows.
        if (!taken) {
            QCOMPARE(answerer.messages().size(), 1);
            QCOMPARE(w.findChild<QStackedWidget *>(QStringLiteral("stackedWidgetAgg"))->currentIndex(), 0);
            return;
        }
        QVERIFY2(answerer.messages().isEmpty(), qPrintable(answerer.messages().join(QLatin1Char('|'))));
        QCOMPARE(w.findChild<QStackedWidget *>(QStringLiteral("stackedWidgetAgg"))->currentIndex(), 1);
    }
};

QTEST_MAIN(TestHostileInputs)
#include "tst_hostile_inputs.moc"
