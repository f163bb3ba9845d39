// The inventory decides which files an installation is checked against: its
// skip rules and its early stop matter more than the walk itself.
#include "update/fileinventory.h"
#include "support/workspace.h"

#include <QDir>
#include <QtConcurrent>
#include <QtTest>

class TestFileInventory : public QObject
{
    Q_OBJECT

private:
    static QStringList names(const QList<QByteArray> &files)
    {
        QStringList list;
        for (const QByteArray &file : files)
            list << QString::fromLocal8Bit(file);
        list.sort();
        return list;
    }

private slots:
    void pcSkipRules()
    {
        TestWorkspace ws;
        // Only paths that carry the language id and none of the exclusion words count.
        ws.writeFile(QStringLiteral("bbad/ita/a.bin"), "a");
        ws.writeFile(QStringLiteral("bbad/eng/b.bin"), "b");
        ws.writeFile(QStringLiteral("ita_main.dat"), "c");
        ws.writeFile(QStringLiteral("work/ita_x.zip"), "d");
        ws.writeFile(QStringLiteral("plugins/log/ita.log"), "e");
        ws.writeFile(QStringLiteral("mails/ita/2014-01-01-x.htm"), "f");
        ws.writeFile(QStringLiteral("docs/documents_ita.pdf"), "g");
        ws.writeFile(QStringLiteral("ITA/upper.bin"), "h");

        InventoryInput input;
        input.walkPc = true;
        input.pcRoot = QStringLiteral(".");
        input.languageId = QStringLiteral("ita");
        std::atomic<bool> stop{false};
        const QStringList found = names(FileInventory::build(input, stop));
        // The full path is lower-cased before the test, so "ITA/" matches "ita".
        QCOMPARE(found, QStringList({QStringLiteral("./ITA/upper.bin"), QStringLiteral("./bbad/ita/a.bin"),
                                     QStringLiteral("./ita_main.dat")}));
    }

    void emptyLanguageRecordsEverythingNotExcluded()
    {
        TestWorkspace ws;
        ws.writeFile(QStringLiteral("a/b.bin"), "a");
        ws.writeFile(QStringLiteral("logs.txt"), "b");
        InventoryInput input;
        input.walkPc = true;
        input.pcRoot = QStringLiteral(".");
        std::atomic<bool> stop{false};
        QCOMPARE(names(FileInventory::build(input, stop)), QStringList{QStringLiteral("./a/b.bin")});
    }

    void cardRulesKeepLogsOfTheLanguage()
    {
        TestWorkspace ws;
        ws.writeFile(QStringLiteral("card/varno/main"), "m");
        ws.writeFile(QStringLiteral("card/varno/log/ita/x.bin"), "a");
        ws.writeFile(QStringLiteral("card/varno/log/eng/y.bin"), "b");
        ws.writeFile(QStringLiteral("card/varno/work/z.bin"), "c");
        InventoryInput input;
        input.walkCard = true;
        input.cardRoot = ws.filePath(QStringLiteral("card/"));
        input.languageId = QStringLiteral("ita");
        std::atomic<bool> stop{false};
        const QStringList found = names(FileInventory::build(input, stop));
        QCOMPARE(found.size(), 2);
        QVERIFY(found.at(0).endsWith(QStringLiteral("card/varno/log/ita/x.bin")));
        QVERIFY(found.at(1).endsWith(QStringLiteral("card/varno/main")));
    }

    void stopFlagEndsTheWalk()
    {
        TestWorkspace ws;
        for (int i = 0; i < 50; ++i)
            ws.writeFile(QStringLiteral("d%1/f.bin").arg(i), "x");
        InventoryInput input;
        input.walkPc = true;
        input.walkCard = true;
        input.pcRoot = QStringLiteral(".");
        input.cardRoot = ws.filePath(QString());
        std::atomic<bool> stop{true};
        QVERIFY(FileInventory::build(input, stop).isEmpty());
    }

    // The window runs the walk on a pool thread and stops it from the GUI
    // thread; run it the same way (and under ThreadSanitizer in build-tsan).
    void walkOnAThreadStopsWhenAsked()
    {
        TestWorkspace ws;
        for (int i = 0; i < 400; ++i)
            ws.writeFile(QStringLiteral("d%1/e/f%1.bin").arg(i), "x");
        InventoryInput input;
        input.walkPc = true;
        input.pcRoot = QStringLiteral(".");
        std::atomic<bool> stop{false};
        const auto walkOnPool = [&input, &stop] { return FileInventory::build(input, stop); };
        const QStringList whole = names(QtConcurrent::run(walkOnPool).result());
        QVERIFY(whole.size() >= 400);

        QFuture<QList<QByteArray>> walk = QtConcurrent::run(walkOnPool);
        stop = true;
        walk.waitForFinished();
        const QStringList part = names(walk.result());
        for (const QString &name : part)
            QVERIFY2(whole.contains(name), qPrintable(name));
    }

    void missingFilesAreAbsolute()
    {
        TestWorkspace ws;
        ws.writeFile(QStringLiteral("kept.bin"), "k");
        const QList<QByteArray> inventory{"./kept.bin", "./gone.bin"};
        const QStringList missing = FileInventory::missingFiles(inventory);
        QCOMPARE(missing, QStringList{QDir(ws.path()).absoluteFilePath(QStringLiteral("gone.bin"))});
    }
};

QTEST_GUILESS_MAIN(TestFileInventory)
#include "tst_fileinventory.moc"
