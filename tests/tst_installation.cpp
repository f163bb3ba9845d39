// The installation of a prepared work folder (as a manual package leaves it):
// where each kind of archive goes in each scope, the entries that are not
// tested, a manifest entry without a name, the versions recorded for what was
// installed, the one-time start of the diagnostic tool's setup, and a second
// installation in the same program run.
#include "app/mainwindow.h"
#include "archive/tzipfile.h"
#include "platform/platform.h"
#include "settings/tinifiles.h"
#include "support/modalanswerer.h"
#include "support/testsystem.h"
#include "support/workspace.h"

#include <QProcess>
#include <QStackedWidget>
#include <QToolButton>
#include <QtTest>

namespace {

/// Writes a zip with one entry holding its own name.
bool writeZip(const QString &archive, const QString &entry)
{
    QTemporaryDir source;
    QFile file(source.filePath(entry));
    QDir().mkpath(QFileInfo(file).absolutePath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(entry.toUtf8());
    file.close();
    return TZipFile::ZipDirectory(source.path(), source.path() + QLatin1Char('/'), archive, QString());
}

/// Writes work/<name>.
bool writePackage(const TestWorkspace &ws, const QString &name, const QString &entry)
{
    return writeZip(ws.filePath(QStringLiteral("work/") + name), entry);
}

// The versions a run can record: section and key in "syslang.ini".
const QList<std::pair<QString, QString>> recordedValues {
    { "ad", "eng" },
    { "ad", "ita" },
    { "mit", "eng" },
    { "mit", "ita" },
    { "admoto_files", "eng" },
    { "admoto_files", "ita" },
    { "mitmoto_files", "eng" },
    { "mitmoto_files", "ita" },
    { "release", "" },
    { "release", "moto_files" },
    { "database_auto", "version" },
};

/// A "syslang.ini" that holds version for every value of recordedValues.
QByteArray syslangAt(const QByteArray &version, const QByteArray &head = QByteArray())
{
    QByteArray text = head;
    QString section;
    for (const auto &[group, key] : recordedValues) {
        if (group != section)
            text += "[" + group.toLatin1() + "]\n";
        section = group;
        text += group.toLatin1() + "_" + key.toLatin1() + "=" + version + "\n";
    }
    return text;
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

    // The notifier runs from its folder while its package is installed: it
    // is ended first (Windows replaces no running program file).
    void runningNotifierIsEnded()
    {
        Installation inst(1, 0);
        QVERIFY(writePackage(inst.ws, QStringLiteral("balloon_notify.zip"), QStringLiteral("OVUpdateNotify.exe")));
        QVERIFY(inst.manifest("num_files=1\nfile_0=balloon_notify.zip:balloon\n"));
        const QString folder = Platform::orvaneFolder() + QStringLiteral("ov_update_notify");
        const QString program = folder + QStringLiteral("/OVUpdateNotify.exe");
        QVERIFY(QDir().mkpath(folder));
        QFile::remove(program);
        QVERIFY(QFile::copy(QStringLiteral(UPDATE_HUB_RECORDARGS_BIN), program));
        const QString record = inst.ws.filePath(QStringLiteral("notifier.txt"));
        QProcess notifier;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("UH_RECORDARGS_FILE"), record);
        environment.insert(QStringLiteral("UH_RECORDARGS_STAY"), QStringLiteral("60"));
        notifier.setProcessEnvironment(environment);
        notifier.setProcessChannelMode(QProcess::ForwardedChannels); // no pipes (see TestSystem::waitForEnd)
        notifier.start(program, {});
        QVERIFY(notifier.waitForStarted());
        QTRY_VERIFY(QFile::exists(record));

        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        MainWindow w;
        manualMode(w);
        QVERIFY(w.installPackages());
        QCOMPARE(stepPage(w), 3);
        QVERIFY(TestSystem::waitForEnd(notifier, 10000));
        QFile installed(program);
        QVERIFY(installed.open(QIODevice::ReadOnly));
        QCOMPARE(installed.readAll(), QByteArray("OVUpdateNotify.exe"));
        installed.close();
        QVERIFY(QDir(folder).removeRecursively());
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

    void recordedVersions_data()
    {
        // The manifest's record of the archives behind each version, as the
        // plan writes it: one archive serves both products' technical
        // information, the reserve language and the motorbike's software
        // needed none.
        QTest::addColumn<QByteArray>("record");
        // The archives the manifest names; those with "gone" are not in the package.
        QTest::addColumn<QStringList>("archives");
        // "section/key" of the versions that keep their old value; "*" all of them.
        QTest::addColumn<QStringList>("kept");
        const QByteArray record
            = "[syslang_entries]\n"
              "ad.eng=adfiles_eng_pc_ad.zip:mitfiles_pc_mit.zip\n"
              "mit.eng=adfiles_eng_pc_ad.zip:mitfiles_pc_mit.zip\n"
              "ad.ita=\nmit.ita=\n"
              "admoto_files.eng=mitfiles_pc_mit.zip\nmitmoto_files.eng=mitfiles_pc_mit.zip\n"
              "admoto_files.ita=\nmitmoto_files.ita=\n"
              "release.=bbadfile_pc_bbad.zip\nrelease.moto_files=\n"
              "database_auto.version=database_auto_0.zip\n";
        const QStringList archives { "adfiles_eng_pc_ad.zip", "mitfiles_pc_mit.zip",
                                     "bbadfile_pc_bbad.zip:bbad", "database_auto_0.zip" };
        QTest::newRow("every answer installed") << record << archives << QStringList();
        QTest::newRow("database package missing on the service")
            << record << archives.mid(0, 3) << QStringList { "database_auto/version" };
        const QByteArray leftOut = "ad.ita=adfiles_ita_pc_gone.zip\nmit.ita=adfiles_ita_pc_gone.zip\n";
        QTest::newRow("a package left out of the list")
            << QByteArray(record).replace("ad.ita=\nmit.ita=\n", leftOut) << archives
            << QStringList { "ad/ita", "mit/ita" };
        QTest::newRow("a version the plan did not set")
            << QByteArray(record).replace("release.moto_files=\n", "") << archives
            << QStringList { "release/moto_files" };
        QTest::newRow("package without a record") << QByteArray() << archives << QStringList();
        QTest::newRow("package without an archive its manifest names")
            << QByteArray() << archives + QStringList { "adfiles_ita_pc_gone.zip" } << QStringList { "*" };
    }

    void recordedVersions()
    {
        QFETCH(QByteArray, record);
        QFETCH(QStringList, archives);
        QFETCH(QStringList, kept);
        Installation inst(1, 1);
        QVERIFY(inst.ws.writeFile(QStringLiteral("syslang.ini"), syslangAt("1.00")));
        QVERIFY(inst.ws.writeFile(QStringLiteral("card/varno/syslang.ini"), syslangAt("0.90")));
        QTemporaryDir source;
        QByteArray manifest
            = "[product]\nnum_product=2\nidproduct_0=\nidproduct_1=moto_files\n[pc_update]\nnum_files="
            + QByteArray::number(archives.size()) + "\n";
        for (int i = 0; i < archives.size(); ++i) {
            const QString name = archives.at(i).section(QLatin1Char(':'), 0, 0);
            QVERIFY(name.contains(QLatin1String("gone"))
                    || writeZip(source.filePath(name), name + QStringLiteral(".txt")));
            manifest += "file_" + QByteArray::number(i) + "=" + archives.at(i).toLatin1() + "\n";
        }
        QFile update(source.filePath(QStringLiteral("update.ini")));
        QFile syslang(source.filePath(QStringLiteral("syslang.ini")));
        QVERIFY(update.open(QIODevice::WriteOnly) && update.write(manifest + record) > 0);
        QVERIFY(syslang.open(QIODevice::WriteOnly)
                && syslang.write(
                       syslangAt("2.00",
                                 "[lingua]\nlingua_sel=eng\nlingua_def=ita\nlingua_description_sel=English\n"
                                 "lingua_description_def=Italiano\n"))
                    > 0);
        update.close();
        syslang.close();
        const QString package = inst.ws.filePath(QStringLiteral("package.zip"));
        QVERIFY(TZipFile::ZipDirectory(source.path(), source.path() + QLatin1Char('/'), package, QString()));

        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        MainWindow w;
        manualMode(w);
        ModalAnswerer::answerNextFileDialog(package);
        QTest::mouseClick(w.findChild<QToolButton *>(QStringLiteral("tbOkPw")), Qt::LeftButton);
        QCOMPARE(stepPage(w), 2);
        QCOMPARE(w.installPackages(), !kept.contains(QStringLiteral("*")));

        // The PC and the card hold the same packages now; each file says so.
        for (const auto &[file, old] :
             { std::pair { QStringLiteral("syslang.ini"), QStringLiteral("1.00") },
               std::pair { QStringLiteral("card/varno/syslang.ini"), QStringLiteral("0.90") } }) {
            TIniFiles recorded(inst.ws.filePath(file), false);
            for (const auto &[section, key] : recordedValues) {
                const bool keeps
                    = kept.contains(QStringLiteral("*")) || kept.contains(section + QLatin1Char('/') + key);
                QVERIFY2(recorded.readString(section, key) == (keeps ? old : QStringLiteral("2.00")),
                         qPrintable(file + QLatin1Char(' ') + section + QLatin1Char('/') + key));
            }
        }
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
        // The recording program may still hold its file open: Windows keeps the name until it closes.
        const auto recordGone = [&record] {
            QFile::remove(record);
            return !QFile::exists(record);
        };
        QTRY_VERIFY(recordGone());
        QVERIFY(w.installPackages());
        QTest::qWait(300);
        QVERIFY(!QFile::exists(record));
        qunsetenv("UH_RECORDARGS_FILE");
    }
};

QTEST_MAIN(TestInstallation)
#include "tst_installation.moc"
