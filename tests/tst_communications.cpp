// Service communications with a folder of real files: which names are listed
// and in what order, dates, subjects from awkward first lines, new-marks from
// read_mails.ini, marking read, and the address that opens a communication.
#include "update/communications.h"
#include "support/workspace.h"

#include <QDir>
#include <QtTest>

using namespace Communications;

class TestCommunications : public QObject
{
    Q_OBJECT

private slots:
    void listsHtmNamesNewestFirst();
    void dateText_data();
    void dateText();
    void subject_data();
    void subject();
    void newMarks();
    void markingRead();
    void foldersAndAddress();
};

void TestCommunications::listsHtmNamesNewestFirst()
{
    TestWorkspace ws;
    QCOMPARE(fileNames(QStringLiteral("mails/ita")), QStringList());
    QCOMPARE(list(QStringLiteral("mails/ita"), readMailsFile(false, QString())).size(), 0);

    for (const char *name : { "2024-01-05-b.htm", "2024-01-05-A.htm", "2023-12-31-x.html", "2024-02-01-y.HTM",
                              "notes.txt", "readme.htm.bak", "read_mails.ini" })
        QVERIFY(ws.writeFile(QStringLiteral("mails/ita/") + QString::fromLatin1(name), "<title>t</title>\n"));
    QVERIFY(ws.makeDir(QStringLiteral("mails/ita/2025-01-01-folder.htm")));

    const QStringList expected { "readme.htm.bak", "2025-01-01-folder.htm", "2024-01-05-b.htm",
                                 "2024-01-05-A.htm", "2023-12-31-x.html" };
    QCOMPARE(fileNames(QStringLiteral("mails/ita")), expected);

    const QList<Entry> entries = list(QStringLiteral("mails/ita"), QStringLiteral("mails/read_mails.ini"));
    QCOMPARE(entries.size(), expected.size());
    QCOMPARE(entries.at(2).fileName, QStringLiteral("2024-01-05-b.htm"));
    QCOMPARE(entries.at(2).subject, QStringLiteral("t"));
    QCOMPARE(entries.at(1).subject, QString()); // a folder cannot be read
}

void TestCommunications::dateText_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("date");
    QTest::newRow("date and text") << "2024-05-17-news.htm"
                                   << "2024-05-17";
    QTest::newRow("no dash") << "news.htm"
                             << "news.htm";
    QTest::newRow("one dash") << "a-b.htm"
                              << "a-b.htm";
    QTest::newRow("empty fields") << "---x.htm"
                                  << "--";
}

void TestCommunications::dateText()
{
    QFETCH(QString, name);
    QTEST(Communications::dateText(name), "date");
}

void TestCommunications::subject_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("subject");
    QTest::newRow("entities") << QByteArray(
        "<html><head><title>Nuovo &amp; &quot;aggiornato&quot; &#39;24</title>")
                              << "Nuovo & \"aggiornato\" '24";
    QTest::newRow("tags inside") << QByteArray("<title><b>Listino</b> prezzi</title>") << "Listino prezzi";
    QTest::newRow("crlf") << QByteArray("<title>Avviso</title>\r\n<body>") << "Avviso";
    QTest::newRow("utf-8") << QByteArray("<title>Novit\xc3\xa0 caff\xc3\xa8</title>")
                           << QString::fromUtf8("Novità caffè");
    QTest::newRow("latin-1") << QByteArray("<title>Novit\xe0</title>") << QString::fromUtf8("Novità");
    QTest::newRow("title on second line") << QByteArray("<html>\n<title>Avviso</title>\n") << "";
    QTest::newRow("title across lines") << QByteArray("<title>Avviso\nimportante</title>\n") << "";
    QTest::newRow("no title") << QByteArray("<html><body>x</body></html>") << "";
    QTest::newRow("empty file") << QByteArray() << "";
    QTest::newRow("binary") << QByteArray("\x00\xff<title>\x01\x02\xfe</title>\x00", 22)
                            << QString::fromLatin1("\x01\x02\xfe");
    QTest::newRow("binary without line ends") << QByteArray(200000, '\0') << "";
}

void TestCommunications::subject()
{
    QFETCH(QByteArray, content);
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("mails/ita/2024-01-01-a.htm"), content));
    QTEST(Communications::subject(QStringLiteral("mails/ita/2024-01-01-a.htm")), "subject");
    QCOMPARE(Communications::subject(QStringLiteral("mails/ita/missing.htm")), QString());
}

void TestCommunications::newMarks()
{
    TestWorkspace ws;
    const QStringList names { "2024-01-01-a.htm", "2024-01-02-b.htm", "2024-01-03-c.htm",
                              "2024-01-04-d.htm", "2024-01-05-e.htm", "2024-01-06-f.htm" };
    for (const QString &name : names)
        QVERIFY(ws.writeFile(QStringLiteral("mails/ita/") + name, "<title>s</title>"));

    // Without read_mails.ini every communication is new.
    for (const Entry &entry : list(QStringLiteral("mails/ita"), QStringLiteral("mails/read_mails.ini"))) {
        QVERIFY(entry.isNew);
        QCOMPARE(entry.dateCell, QStringLiteral("[NEW] ") + Communications::dateText(entry.fileName));
    }

    QVERIFY(ws.writeFile(QStringLiteral("mails/read_mails.ini"),
                         "[Read]\r\n2024-01-01-a.htm=1\r\n2024-01-02-b.htm=2\r\n2024-01-03-c.htm=yes\r\n"
                         "2024-01-04-d.htm=\r\n2024-01-05-e.htm= 1\r\n[other]\r\n2024-01-06-f.htm=1\r\n"));
    QStringList read;
    for (const Entry &entry : list(QStringLiteral("mails/ita"), QStringLiteral("mails/read_mails.ini"))) {
        if (!entry.isNew) {
            read << entry.fileName;
            QCOMPARE(entry.dateCell, Communications::dateText(entry.fileName));
        }
    }
    // A value with blanks around the number still reads as that number.
    QCOMPARE(read, QStringList({ "2024-01-05-e.htm", "2024-01-01-a.htm" }));
}

void TestCommunications::markingRead()
{
    TestWorkspace ws;
    QVERIFY(ws.writeFile(QStringLiteral("mails/ita/2024-01-01-a.htm"), "<title>s</title>"));
    QVERIFY(ws.writeFile(QStringLiteral("mails/ita/2024-01-02-b.htm"), "<title>s</title>"));
    QVERIFY(ws.writeFile(QStringLiteral("mails/read_mails.ini"), "[read]\nold-name.htm=1\n"));
    const QString ini = QStringLiteral("mails/read_mails.ini");

    markRead(ini, QStringLiteral("2024-01-02-b.htm"));
    QList<Entry> entries = list(QStringLiteral("mails/ita"), ini);
    QCOMPARE(entries.size(), 2);
    QVERIFY(!entries.at(0).isNew); // b, the newest
    QVERIFY(entries.at(1).isNew);
    // Earlier marks are kept.
    QVERIFY(ws.readFile(ini).contains("old-name.htm=1\n"));

    // Marking is by name: a renamed communication is new again.
    QVERIFY(QDir().rename(QStringLiteral("mails/ita/2024-01-02-b.htm"),
                          QStringLiteral("mails/ita/2024-01-02-c.htm")));
    entries = list(QStringLiteral("mails/ita"), ini);
    QCOMPARE(entries.at(0).fileName, QStringLiteral("2024-01-02-c.htm"));
    QVERIFY(entries.at(0).isNew);

    QCOMPARE(withoutNewMark(QStringLiteral("[NEW] 2024-01-02")), QStringLiteral("2024-01-02"));
    QCOMPARE(withoutNewMark(QStringLiteral("[NEW] [NEW] 2024")), QStringLiteral("2024"));
    QCOMPARE(withoutNewMark(QStringLiteral("2024-01-02")), QStringLiteral("2024-01-02"));

    // The card's file is created by the first mark.
    const QString cardIni = readMailsFile(true, ws.filePath(QStringLiteral("card")) + QLatin1Char('/'));
    QVERIFY(ws.makeDir(QStringLiteral("card/varno/mails")));
    markRead(cardIni, QStringLiteral("2024-01-01-a.htm"));
    QCOMPARE(ws.readFile(QStringLiteral("card/varno/mails/read_mails.ini")),
             QByteArray("[read]\n2024-01-01-a.htm=1\n"));
}

void TestCommunications::foldersAndAddress()
{
    TestWorkspace ws;
    const QString card = QStringLiteral("/media/card/");
    QCOMPARE(folder(QStringLiteral("ita"), false, card), QStringLiteral("mails/ita"));
    QCOMPARE(folder(QStringLiteral("ita"), true, card), QStringLiteral("/media/card/varno/mails/ita"));
    QCOMPARE(readMailsFile(false, card), QStringLiteral("mails/read_mails.ini"));
    QCOMPARE(readMailsFile(true, card), QStringLiteral("/media/card/varno/mails/read_mails.ini"));

    const QString name = QStringLiteral("2024-01-01-avviso #2 50%.htm");
    const QUrl local = address(QStringLiteral("mails/ita"), name);
    QVERIFY(local.isLocalFile());
    QCOMPARE(local.toLocalFile(), QDir::currentPath() + QStringLiteral("/mails/ita/") + name);
    QVERIFY(local.toString().startsWith(QLatin1String("file:///")));
    QCOMPARE(address(folder(QStringLiteral("ita"), true, card), name).toLocalFile(),
             QStringLiteral("/media/card/varno/mails/ita/") + name);
}

QTEST_MAIN(TestCommunications)
#include "tst_communications.moc"
