// The installation of a prepared work folder (as a manual package leaves it):
// where each kind of archive goes in each scope, the entries that are not
// tested, a manifest entry without a name, the one-time start of the
// diagnostic tool's setup, and a second installation in the same program run.
#include "app/mainwindow.h"
#include "archive/tzipfile.h"
#include "platform/platform.h"
#include "support/modalanswerer.h"
#include "support/workspace.h"

#include <QStackedWidget>
#include <QToolButton>
#include <QtTest>

namespace {

/// Writes work/<name>: a zip with one entry holding its own name.
bool writePackage(const TestWorkspace &ws, const QString &name, const QString &entry)
{
    QTemporaryDir source;
    QFile file(source.filePath(entry));
    QDir().mkpath(QFileInfo(file).absolutePath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(entry.toUtf8());
    file.close();
    return TZipFile::ZipDirectory(source.path(), source.path() + QLatin1Char('/'), ws.filePath(QStringLiteral("work/") + name),
                                  QString());
}

struct Installation
{
    TestWorkspace ws;

    explicit Installation(int pc, int palm)
    {
        ws.writeFile(QStringLiteral("customize_update.ini"),
                     "[personalizzazioni]\nupdate_pc=" + QByteArray::number(pc) + "\nupdate_palm=" + QByteArray::number(palm) + "\n");
        // Nothing listens on port 9: reports and uploads fail at once.
        ws.writeFile(QStringLiteral("http_server.ini"), "[server]\naddress=127.0.0.1\nport=9\nftp_port=9\n");
        ws.makeDir(QStringLiteral("card/qte"));
        ws.writeFile(QStringLiteral("card/varno/main"), "EXEC_VERSION=1.00");
        ws.makeDir(QStringLiteral("work"));
        qputenv("UPDATE_HUB_DRIVES", ws.filePath(QStringLiteral("card")).toLocal8Bit());
    }

    bool manifest(const QByteArray &files) const
    {
        return ws.writeFile(QStringLiteral("work/update.ini"), "[pc_update]\n" + files)
            && ws.writeFile(QStringLiteral("work/syslang.ini"),
                            "[lingua]\nlingua_sel=ita\nlingua_def=eng\nlingua_description_sel=Italiano\n"
                            "lingua_description_def=English\n");
    }

    bool exists(const QString &relative) const { return QFile::exists(ws.filePath(relative)); }
};

/// A window in manual mode, as after a manual package was chosen.
void manualMode(MainWindow &w)
{
    QTest::mouseClick(w.findChild<QToolButton *>(QStringLiteral("tbAggiornamentoManuale")), Qt::LeftButton);
}

int stepPage(MainWindow &w)
{
    return w.findChild<QStackedWidget *>(QStringLiteral("stackedWidgetAgg"))->currentIndex();
}

} // namespace

class TestInstallation : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { qunsetenv("UPDATE_HUB_DRIVES"); }

    void destinations_data()
    {
        QTest::addColumn<int>("pc");
        QTest::addColumn<int>("palm");
        // Where each archive's entry lands: "pc", "card", "both" or "none".
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("PC only") << 1 << 0
                                 << QStringList { "pc", "none", "pc-bbad", "pc", "pc" };
        QTest::newRow("card only") << 0 << 1
                                   << QStringList { "none", "card", "card-bbad", "card", "card" };
        QTest::newRow("PC and card") << 1 << 1
                                     << QStringList { "pc", "card", "both-bbad", "both", "both" };
    }

    void destinations()
    {
        QFETCH(int, pc);
        QFETCH(int, palm);
        QFETCH(QStringList, expected);
        Installation inst(pc, palm);
        const QStringList names { "varno_pc_release.zip", "varno_palm_release.zip", "bbadfile_pc_bbad.zip",
                                  "database_auto_0.zip", "tool.exe" };
        const QStringList entries { "pcsoft.txt", "cardsoft.txt", "bbad.dat", "db.txt", "tool.txt" };
        for (int i = 0; i < names.size(); ++i)
            QVERIFY(writePackage(inst.ws, names.at(i), entries.at(i)));
        QVERIFY(writePackage(inst.ws, QStringLiteral("balloon_notify.zip"), QStringLiteral("OVUpdateNotify.exe")));
        QVERIFY(inst.manifest("num_files=6\nfile_0=varno_pc_release.zip\nfile_1=varno_palm_release.zip\n"
                              "file_2=bbadfile_pc_bbad.zip:bbad\nfile_3=database_auto_0.zip\nfile_4=tool.exe\n"
                              "file_5=balloon_notify.zip:balloon\n"));

        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        MainWindow w;
        manualMode(w);
        QVERIFY(w.installPackages());
        QCOMPARE(stepPage(w), 3);
        for (int i = 0; i < names.size(); ++i) {
            const QString &where = expected.at(i);
            const bool bbad = where.endsWith(QLatin1String("-bbad"));
            const QString pcFile = (bbad ? QStringLiteral("bbad/") : QString()) + entries.at(i);
            const QString cardFile = QStringLiteral("card/varno/") + (bbad ? QStringLiteral("bbad/") : QString()) + entries.at(i);
            const bool toPc = where.startsWith(QLatin1String("pc")) || where.startsWith(QLatin1String("both"));
            const bool toCard = where.startsWith(QLatin1String("card")) || where.startsWith(QLatin1String("both"));
            QVERIFY2(inst.exists(pcFile) == toPc, qPrintable(names.at(i)));
            QVERIFY2(inst.exists(cardFile) == toCard, qPrintable(names.at(i)));
        }
        // The notifier package goes to its own folder in every scope.
        const QString notifierFolder = Platform::orvaneFolder() + QStringLiteral("ov_update_notify");
        QVERIFY(QFile::exists(notifierFolder + QStringLiteral("/OVUpdateNotify.exe")));
        QVERIFY(!inst.exists(QStringLiteral("OVUpdateNotify.exe")));
        // On Windows the folder is C:/orvane/, outside the workspace.
        QVERIFY(QDir(notifierFolder).removeRecursively());
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("manifest");
        QTest::addColumn<QString>("status");
        QTest::newRow("entry without a name") << QByteArray("num_files=2\nfile_0=varno_pc_release.zip\n")
                                              << QStringLiteral("Archivio : Corrotto.");
        QTest::newRow("archive missing") << QByteArray("num_files=1\nfile_0=varno_pc_gone.zip\n")
                                         << QStringLiteral("Archivio varno_pc_gone.zip: Corrotto.");
        QTest::newRow("name outside the work folder") << QByteArray("num_files=1\nfile_0=../varno_pc_release.zip\n")
                                                      << QStringLiteral("Archivio ../varno_pc_release.zip: Corrotto.");
        QTest::newRow("untested .exe that is no archive")
            << QByteArray("num_files=1\nfile_0=setup.exe\n")
            << QStringLiteral("Decompressione del pacchetto setup.exe: Fallita.");
    }

    void failures()
    {
        QFETCH(QByteArray, manifest);
        QFETCH(QString, status);
        Installation inst(1, 0);
        QVERIFY(writePackage(inst.ws, QStringLiteral("varno_pc_release.zip"), QStringLiteral("pcsoft.txt")));
        QVERIFY(inst.ws.writeFile(QStringLiteral("varno_pc_release.zip"), "outside the work folder"));
        QVERIFY(inst.ws.writeFile(QStringLiteral("work/setup.exe"), "MZ not a zip"));
        QVERIFY(inst.manifest(manifest));
        // An older, longer status log: the failure text overwrites its start only.
        QVERIFY(inst.ws.writeFile(QStringLiteral("stati.log"), QByteArray(100, '-')));

        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        MainWindow w;
        manualMode(w);
        QVERIFY(!w.installPackages());
        QCOMPARE(stepPage(w), 0); // the page never reached step 4
        const QByteArray log = inst.ws.readFile(QStringLiteral("stati.log"));
        QCOMPARE(QString::fromUtf8(log.left(status.toUtf8().size())), status);
        QCOMPARE(log.size(), 100);
        // The user is told, with the same text and the advice to repeat.
        QCOMPARE(answerer.titles(), QStringList { QStringLiteral("Attenzione") });
        QCOMPARE(answerer.messages(), QStringList { status + QStringLiteral(" Ripetere l'aggiornamento.") });
        QVERIFY(!inst.exists(QStringLiteral("syslang.ini")));
        QVERIFY(!inst.exists(QStringLiteral("pcsoft.txt")));
        QVERIFY(!inst.exists(QStringLiteral("work/.update_hub")));
    }

    void cardSideWithoutACard()
    {
        Installation inst(1, 1);
        QVERIFY(QDir(inst.ws.filePath(QStringLiteral("card"))).removeRecursively());
        QVERIFY(writePackage(inst.ws, QStringLiteral("varno_palm_release.zip"), QStringLiteral("cardsoft.txt")));
        QVERIFY(inst.manifest("num_files=1\nfile_0=varno_palm_release.zip\n"));
        inst.ws.writeFile(QStringLiteral("package.zip"), "unused");

        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        MainWindow w;
        manualMode(w);
        // The manual run looks for the card again and stops without one.
        QTest::mouseClick(w.findChild<QToolButton *>(QStringLiteral("tbOkPw")), Qt::LeftButton);
        QCOMPARE(answerer.messages().size(), 2); // at start-up and now
        QVERIFY(answerer.messages().last().startsWith(QLatin1String("Nessun lettore SD Card trovato.")));
        QVERIFY(w.findChild<QToolButton *>(QStringLiteral("tbOkPw"))->isEnabled());
        // The installation itself never puts the card's files into the PC folder
        // (the preparation above emptied the work folder: fill it again).
        QVERIFY(writePackage(inst.ws, QStringLiteral("varno_palm_release.zip"), QStringLiteral("cardsoft.txt")));
        QVERIFY(inst.manifest("num_files=1\nfile_0=varno_palm_release.zip\n"));
        QVERIFY(!w.installPackages());
        QVERIFY(!inst.exists(QStringLiteral("varno")));
        QVERIFY(inst.ws.readFile(QStringLiteral("stati.log")).startsWith("Decompressione del pacchetto varno_palm_release.zip: Fallita."));
    }

    void diagnosticToolSetupRunsOnce()
    {
        Installation inst(1, 0);
        QVERIFY(inst.manifest("num_files=0\n"));
        QVERIFY(QFile::copy(QStringLiteral(UPDATE_HUB_RECORDARGS_BIN), inst.ws.filePath(QStringLiteral("setup_diagnostictool.exe"))));
        const QString record = inst.ws.filePath(QStringLiteral("started.txt"));
        qputenv("UH_RECORDARGS_FILE", QFile::encodeName(record));

        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        MainWindow w;
        manualMode(w);
        QVERIFY(w.installPackages());
        QVERIFY(inst.exists(QStringLiteral("driver_diagnostictool")));
        QTRY_VERIFY(QFile::exists(record));
        // A second installation in the same program run: the marker keeps the setup from starting again.
        QFile::remove(record);
        QVERIFY(w.installPackages());
        QTest::qWait(300);
        QVERIFY(!QFile::exists(record));
        qunsetenv("UH_RECORDARGS_FILE");
    }
};

QTEST_MAIN(TestInstallation)
#include "tst_installation.moc"
