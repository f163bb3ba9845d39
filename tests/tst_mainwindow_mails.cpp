// The communications page of the real window: tbInfo lists the files newest
// first with their marks, a double click marks one read and asks the desktop
// to open it.
#include "app/mainwindow.h"
#include "support/workspace.h"

#include <QDesktopServices>
#include <QLabel>
#include <QStackedWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>

class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

class TestMainWindowMails : public QObject
{
    Q_OBJECT

private slots:
    void listAndMarkRead()
    {
        TestWorkspace ws;
        ws.writeFile(QStringLiteral("customize_update.ini"), "[personalizzazioni]\nupdate_pc=1\nupdate_palm=0\n");
        ws.writeFile(QStringLiteral("language.ini"), "[lingua1]\nlingua1_idlingua=ita\n[selected]\nselected_currentlanguage=1\n");
        ws.writeFile(QStringLiteral("mails/ita/2024-01-05-avviso.htm"),
                     "<html><head><title>Nuovo &amp; importante</title></head></html>\n");
        ws.writeFile(QStringLiteral("mails/ita/2024-03-01-promo.htm"), "<title>Promo</title>\n");
        ws.writeFile(QStringLiteral("mails/ita/note.txt"), "not a communication");
        ws.writeFile(QStringLiteral("mails/read_mails.ini"), "[READ]\n2024-01-05-avviso.htm=1\n");

        UrlRecorder recorder;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");

        MainWindow w;
        w.show();
        QTest::mouseClick(w.findChild<QToolButton *>(QStringLiteral("tbInfo")), Qt::LeftButton);
        QCOMPARE(w.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))->currentIndex(), 1);
        QCOMPARE(w.findChild<QStackedWidget *>(QStringLiteral("stackedWidgetAgg"))->currentIndex(), 3);

        auto *table = w.findChild<QTableWidget *>(QStringLiteral("tableWidgetInformativaService"));
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->item(0, 0)->text(), QStringLiteral("[NEW] 2024-03-01"));
        QCOMPARE(table->item(0, 1)->text(), QStringLiteral("Promo"));
        QCOMPARE(table->item(1, 0)->text(), QStringLiteral("2024-01-05"));
        QCOMPARE(table->item(1, 1)->text(), QStringLiteral("Nuovo & importante"));
        QVERIFY(!(table->item(0, 1)->flags() & Qt::ItemIsEditable));

        // Any column of the row: the communication is marked read and opened.
        emit table->cellDoubleClicked(0, 1);
        QCOMPARE(table->item(0, 0)->text(), QStringLiteral("2024-03-01"));
        QCOMPARE(recorder.urls.size(), 1);
        QVERIFY(recorder.urls.at(0).toString().endsWith(QStringLiteral("/mails/ita/2024-03-01-promo.htm")));
        QVERIFY(ws.readFile(QStringLiteral("mails/read_mails.ini")).contains("2024-03-01-promo.htm=1"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    }
};

QTEST_MAIN(TestMainWindowMails)
#include "tst_mainwindow_mails.moc"
