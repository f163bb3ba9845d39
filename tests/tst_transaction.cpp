// The installation as a transaction: a small manual installation to the PC
// and the card, ended by the platform's fault hook before each of its file
// operations in turn (in a child process), then started again; a recovery
// that is itself interrupted; a card in flight found late; a staged file that
// reads back wrong; another card at installation time; damaged or stray state
// left on the card; files lost or changed before a recovery; and a second
// updater in the same program folder, on the same card or notifier folder.
// After each, every package is all old or all new on both sides together,
// byte for byte, with the version files to match, and nothing else lies
// outside ".update_hub" -- or the recovery says it failed and leaves it.
#include "update/installtransaction.h"
#include "app/mainwindow.h"
#include "archive/tzipfile.h"
#include "platform/platform.h"
#include "settings/tinifiles.h"
#include "support/fatcard.h"
#include "support/modalanswerer.h"
#include "support/testsystem.h"
#include "support/workspace.h"

#include <QApplication>
#include <QDirIterator>
#include <QLockFile>
#include <QProcess>
#include <QStackedWidget>
#include <QToolButton>
#include <QtTest>

#include <atomic>
#include <memory>

#include <minizip/zip.h>
#include <zlib.h>

namespace {

using Files = QMap<QString, QByteArray>;

struct Package
{
    QString name; // local name in the work folder
    QString kind;
    Files entries; // path in the archive -> new content
};

// What the installation brings: one package for each side and one for both.
const QList<Package> basePackages = {
    { QStringLiteral("varno_pc_release.zip"), QString(),
      { { "pcsoft/a.txt", "new a pc" }, { "pcsoft/b.txt", "new b pc" }, { "pcsoft/sub/c.txt", "new c pc" } } },
    { QStringLiteral("varno_palm_release.zip"), QString(),
      { { "cardsoft/a.txt", "new a card" }, { "cardsoft/new/d.txt", "new d card" } } },
    { QStringLiteral("bbadfile_pc_bbad.zip"), QStringLiteral("bbad"), { { "x.dat", "new bbad" } } },
};

// The packages of the current test row.
QList<Package> packages = basePackages;

// The installation before the update, below the program folder.
const Files oldPc = { { "pcsoft/a.txt", "old a pc" }, { "pcsoft/b.txt", "old b pc" }, { "bbad/x.dat", "old bbad" } };
const Files oldCard = { { "card/varno/cardsoft/a.txt", "old a card" }, { "card/varno/bbad/x.dat", "old bbad" },
                        { "card/varno/main", "EXEC_VERSION=1.00" } };

const QString recoveredMessage = QStringLiteral(
    "L'ultimo aggiornamento si è interrotto. La memory card è stata riportata a uno stato coerente.");
const QString unrecoverableMessage = QStringLiteral("La memory card non può essere riportata a uno stato coerente. "
                                                    "Non rimuovere la memory card e contattare l'assistenza.");

QString statusText(const QString &text)
{
    return text + QStringLiteral(" Ripetere l'aggiornamento.");
}

/// The files of each package on each side, below the program folder.
struct Placement
{
    QString side; // "pc" or "card"
    int package;
    QString folder;
};

const QList<Placement> placements = {
    { "pc", 0, "" },           { "card", 1, "card/varno/" },      { "pc", 2, "bbad/" },
    { "card", 2, "card/varno/bbad/" },
};

bool zipFiles(const Files &files, const QString &archive)
{
    // Written entry by entry in name order, never through files on disk: the
    // names a card must refuse are names Windows refuses too.
    QFile::remove(archive);
    zipFile zip = zipOpen64(QFile::encodeName(archive).constData(), APPEND_STATUS_CREATE);
    if (!zip)
        return false;
    bool ok = true;
    for (auto it = files.cbegin(); ok && it != files.cend(); ++it) {
        zip_fileinfo info {};
        // Names in UTF-8 (general purpose flag bit 11).
        ok = zipOpenNewFileInZip4_64(zip, it.key().toUtf8().constData(), &info, nullptr, 0, nullptr, 0, nullptr,
                                     Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY,
                                     nullptr, 0, 0, 0x800, 0)
                == ZIP_OK
            && zipWriteInFileInZip(zip, it.value().constData(), unsigned(it.value().size())) == ZIP_OK
            && zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

/// A program folder with the old installation, its card and the manual
/// package of the update beside it.
struct Site
{
    TestWorkspace ws;
    // With a FAT32 card, its image is mounted on "card" (and unmounted
    // before the workspace goes).
    std::unique_ptr<FatCard> fat;

    /// onFat: the card is a FAT32 image, with only freeClusters free when
    /// that is not negative. extraOnCard: more entries in the card's package.
    bool setUp(bool onFat = false, qint64 freeClusters = -1, const Files &extraOnCard = {})
    {
        if (onFat) {
            fat = std::make_unique<FatCard>();
            if (!fat->mount(ws.filePath(QStringLiteral("card")), freeClusters)) {
                qWarning().noquote() << fat->error();
                return false;
            }
        }
        bool ok = ws.writeFile(QStringLiteral("customize_update.ini"),
                               "[personalizzazioni]\nupdate_pc=1\nupdate_palm=1\n")
            && ws.writeFile(QStringLiteral("http_server.ini"), "[server]\naddress=127.0.0.1\nport=9\nftp_port=9\n")
            && ws.writeFile(QStringLiteral("language.ini"),
                            "[lingua1]\nlingua1_idlingua=ita\n[selected]\nselected_currentlanguage=1\n")
            && ws.writeFile(QStringLiteral("syslang.ini"), "[release]\nrelease_=1.0\n")
            && ws.writeFile(QStringLiteral("card/varno/syslang.ini"), "[release]\nrelease_=1.0\n")
            && ws.makeDir(QStringLiteral("card/qte"));
        for (auto it = oldPc.cbegin(); it != oldPc.cend(); ++it)
            ok = ok && ws.writeFile(it.key(), it.value());
        for (auto it = oldCard.cbegin(); it != oldCard.cend(); ++it)
            ok = ok && ws.writeFile(it.key(), it.value());
        // The package: manifest, language file and the archives.
        QTemporaryDir content;
        QByteArray manifest = "[product]\nnum_product=1\nidproduct_0=\n[pc_update]\nnum_files="
            + QByteArray::number(packages.size()) + "\n";
        for (int i = 0; i < packages.size(); ++i) {
            const Package &p = packages.at(i);
            manifest += "file_" + QByteArray::number(i) + "=" + p.name.toUtf8()
                + (p.kind.isEmpty() ? QByteArray() : ":" + p.kind.toUtf8()) + "\n";
            Files entries = p.entries;
            if (p.name == QLatin1String("varno_palm_release.zip"))
                entries.insert(extraOnCard);
            ok = ok && zipFiles(entries, content.filePath(p.name));
        }
        QFile update(content.filePath(QStringLiteral("update.ini")));
        QFile syslang(content.filePath(QStringLiteral("syslang.ini")));
        ok = ok && update.open(QIODevice::WriteOnly) && update.write(manifest) > 0
            && syslang.open(QIODevice::WriteOnly)
            && syslang.write("[lingua]\nlingua_sel=ita\nlingua_def=eng\nlingua_description_sel=Italiano\n"
                             "lingua_description_def=English\n[release]\nrelease_=2.0\n")
                > 0;
        update.close();
        syslang.close();
        qputenv("UPDATE_HUB_DRIVES", ws.filePath(QStringLiteral("card")).toLocal8Bit());
        return ok
            && TZipFile::ZipDirectory(content.path(), content.path() + QLatin1Char('/'), package(), QString());
    }

    QString package() const { return QFileInfo(ws.path()).absolutePath() + QStringLiteral("/package.zip"); }

    /// The card taken out of its reader: gone, and nothing can be created
    /// at its place (as a drive letter without a drive).
    void pullCard()
    {
        const QString card = ws.filePath(QStringLiteral("card"));
        if (fat) {
            fat->pull();
            return;
        }
        QDir().rename(card, card + QStringLiteral(".pulled"));
        QFile in(card);
        in.open(QIODevice::WriteOnly);
    }

    bool reinsertCard()
    {
        if (fat)
            return fat->reinsert();
        const QString card = ws.filePath(QStringLiteral("card"));
        return QFile::remove(card) && QDir().rename(card + QStringLiteral(".pulled"), card);
    }

    /// Every file below the program folder outside the state folders, relative.
    QStringList files() const
    {
        QStringList list;
        QDirIterator it(ws.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next().mid(ws.path().size() + 1);
            if (!path.startsWith(QLatin1String("work/")) && !path.startsWith(QLatin1String("plugins/"))
                && !path.endsWith(QLatin1String(".update_hub/update_hub.lock")))
                list << path;
        }
        return list;
    }
};

/// "old" or "new" for one package on one side, or a description of the mix.
QString packageState(const Site &site, const Placement &placement)
{
    const Package &p = packages.at(placement.package);
    bool allOld = true;
    bool allNew = true;
    for (auto it = p.entries.cbegin(); it != p.entries.cend(); ++it) {
        const QString path = placement.folder + it.key();
        const bool exists = QFile::exists(site.ws.filePath(path));
        const QByteArray content = site.ws.readFile(path);
        const Files &old = placement.side == QLatin1String("pc") ? oldPc : oldCard;
        allNew = allNew && exists && content == it.value();
        allOld = allOld && (old.contains(path) ? exists && content == old.value(path) : !exists);
    }
    return allOld ? QStringLiteral("old") : allNew ? QStringLiteral("new") : QStringLiteral("mixed");
}

QString release(const Site &site, const QString &file)
{
    TIniFiles syslang(site.ws.filePath(file), false);
    return syslang.readString(QStringLiteral("release"), QString());
}

/// The consistency contract on both sides; the states found go to *states.
bool consistent(const Site &site, QString *states)
{
    QMap<QString, QStringList> bySide;
    for (const Placement &placement : placements)
        bySide[placement.side] << packageState(site, placement);
    *states = QStringLiteral("pc %1, card %2")
                  .arg(bySide.value("pc").join(QLatin1Char('/')), bySide.value("card").join(QLatin1Char('/')));
    // A side commits as a whole, its version file with it.
    for (const QString &side : { QStringLiteral("pc"), QStringLiteral("card") }) {
        const QStringList &list = bySide.value(side);
        if (list.count(list.first()) != list.size() || list.first() == QLatin1String("mixed"))
            return false;
        const QString file = side == QLatin1String("pc") ? QStringLiteral("syslang.ini") : QStringLiteral("card/varno/syslang.ini");
        const QString expected = list.first() == QLatin1String("new") ? QStringLiteral("2.0") : QStringLiteral("1.0");
        if (release(site, file) != expected) {
            *states += QStringLiteral(", release in ") + file + QStringLiteral(" ") + release(site, file);
            return false;
        }
    }
    // Nothing that belongs to neither release, nothing left in flight.
    QStringList known = { "customize_update.ini", "http_server.ini", "language.ini", "syslang.ini", "stati.log",
                          "update_hub.lock", "card/varno/main", "card/varno/syslang.ini", "card/varno/language.ini" };
    known << oldPc.keys() << oldCard.keys();
    for (const Placement &placement : placements) {
        for (const QString &entry : packages.at(placement.package).entries.keys())
            known << placement.folder + entry;
    }
    for (const QString &file : site.files()) {
        if (!known.contains(file)) {
            *states += QStringLiteral(", stray ") + file;
            return false;
        }
    }
    // A running window holds its lock in the card's state folder, no more.
    const QStringList cardState = QDir(site.ws.filePath(QStringLiteral("card/.update_hub")))
                                      .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    if ((!cardState.isEmpty() && cardState != QStringList { QStringLiteral("update_hub.lock") })
        || QFileInfo::exists(site.ws.filePath(QStringLiteral("work/.update_hub")))) {
        *states += QStringLiteral(", state folder left");
        return false;
    }
    return true;
}

/// True when the commit was decided: a journal marked done, or the decision
/// record holding the journals' transaction (each file whole or under its
/// temporary name, as the recovery reads them).
bool decided(const Site &site)
{
    const auto read = [&site](const QString &file) {
        return site.ws.readFile(file) + '\n' + site.ws.readFile(file + QStringLiteral(".tmp"));
    };
    const QByteArray decisions = read(QStringLiteral("work/.update_hub/decisions"));
    for (const QString &journal : { QStringLiteral("work/.update_hub/journal"), QStringLiteral("card/.update_hub/journal") }) {
        const QByteArray text = read(journal);
        if (text.contains("state\tdone"))
            return true;
        const qsizetype at = text.indexOf("\nid\t");
        if (at >= 0 && decisions.contains("commit\t" + text.mid(at + 4, text.indexOf('\n', at + 1) - at - 4) + '\t'))
            return true;
    }
    return false;
}

/// A manual installation, as the user makes it: package chosen, installed.
bool install(MainWindow &w, const QString &package)
{
    QTest::mouseClick(w.findChild<QToolButton *>(QStringLiteral("tbAggiornamentoManuale")), Qt::LeftButton);
    ModalAnswerer::answerNextFileDialog(package);
    QTest::mouseClick(w.findChild<QToolButton *>(QStringLiteral("tbOkPw")), Qt::LeftButton);
    return w.findChild<QStackedWidget *>(QStringLiteral("stackedWidgetAgg"))->currentIndex() == 2
        && w.installPackages();
}

/// Runs this program as a child in the site: "install" or "start" (a start
/// of the updater, which recovers), ended at file operation stopAt.
int runChild(const Site &site, const char *what, int stopAt)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("UPDATE_HUB_FAULT_STOP_AT"), QString::number(stopAt));
    child.setProcessEnvironment(env);
    child.setWorkingDirectory(site.ws.path());
    // No pipes: on Windows each is read through thread-pool callbacks (see
    // TestSystem::waitForEnd).
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    TestSystem::withoutConsole(child);
    child.start(QCoreApplication::applicationFilePath(),
                { QStringLiteral("--child"), QString::fromLatin1(what), site.package() });
    if (!TestSystem::waitForEnd(child, 60000)) {
        child.kill();
        TestSystem::waitForEnd(child, 30000);
        return -1;
    }
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
}

int childMain(int argc, char *argv[])
{
    QApplication app(argc, argv);
    ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
    MainWindow w;
    if (qstrcmp(argv[2], "install") == 0)
        return install(w, QString::fromLocal8Bit(argv[3])) ? 0 : 1;
    return 0;
}

} // namespace

class TestTransaction : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        Platform::setFaultObserver({});
        packages = basePackages;
        qunsetenv("UPDATE_HUB_DRIVES");
        qunsetenv("UPDATE_HUB_FAULT_FLIP");
        qunsetenv("UPDATE_HUB_FAULT_CLUSTER_SIZE");
    }

    void interruptedAtEveryOperation_data()
    {
        QTest::addColumn<bool>("withMain");
        QTest::addColumn<bool>("onFat");
        QTest::newRow("pc and card in a folder") << false << false;
        QTest::newRow("pc and a FAT32 card") << false << true;
        // The instrument's program is set aside during the commit: the card
        // in flight must still be found and mended. Only the operations
        // around its move; all others are the first rows'.
        QTest::newRow("card program replaced, around its move") << true << false;
    }

    void interruptedAtEveryOperation()
    {
        QFETCH(bool, onFat);
        if (onFat && !FatCard::unavailableReason().isEmpty())
            QSKIP(qPrintable(FatCard::unavailableReason()));
        QFETCH(bool, withMain);
        packages = basePackages;
        if (withMain)
            packages[1].entries.insert(QStringLiteral("main"), "EXEC_VERSION=2.00");
        const auto begun = [](const Site &site, int code) {
            bool allMoved = true;
            for (const Placement &placement : placements)
                allMoved = allMoved && packageState(site, placement) == QLatin1String("new");
            return code == 0 || allMoved || decided(site);
        };
        const QByteArray oldMain = oldCard.value(QStringLiteral("card/varno/main"));
        const QByteArray newMain = packages.at(1).entries.value(QStringLiteral("main"));
        // The first file operation after which the card's program is no
        // longer the old one, found by halving.
        int first = 1;
        for (int last = 200; withMain && first < last;) {
            const int middle = (first + last) / 2;
            Site probe;
            QVERIFY(probe.setUp(onFat));
            const int code = runChild(probe, "install", middle);
            if (code == 0 || probe.ws.readFile(QStringLiteral("card/varno/main")) != oldMain)
                last = middle;
            else
                first = middle + 1;
        }
        bool completed = false;
        bool mainMoved = false;
        int interrupted = 0;
        for (int stopAt = qMax(1, first - 1); stopAt < 200 && !completed && !mainMoved; ++stopAt) {
            Site site;
            QVERIFY(site.setUp(onFat));
            const int code = runChild(site, "install", stopAt);
            QVERIFY2(code == 0 || code == Platform::faultExitCode, qPrintable(QString::number(code)));
            completed = code == 0;
            mainMoved = withMain && site.ws.readFile(QStringLiteral("card/varno/main")) == newMain;
            // One decision for both sides: once the record holds the
            // transaction, both are completed, before it both are undone;
            // after the last move the clean-up removes the journals, and
            // then every file is in place already.
            const QString both = begun(site, code) ? QStringLiteral("new/new") : QStringLiteral("old/old");
            const QStringList expected = { both, both };
            if (!completed) {
                ++interrupted;
                // Every third time the recovery itself is cut short, once or twice.
                for (int again = 1; again <= stopAt % 3; ++again) {
                    const int recovery = runChild(site, "start", again);
                    QVERIFY2(recovery == 0 || recovery == Platform::faultExitCode, qPrintable(QString::number(recovery)));
                }
            }

            ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
            {
                MainWindow w;
                QString states;
                QVERIFY2(consistent(site, &states), qPrintable(QStringLiteral("stop at %1: %2").arg(stopAt).arg(states)));
                // Nothing to recover after a whole installation; otherwise at most the one message.
                QVERIFY(answerer.messages().size() <= 1);
                QVERIFY2(states.startsWith(QStringLiteral("pc %1, card %2").arg(expected.at(0), expected.at(1))),
                         qPrintable(QStringLiteral("stop at %1: %2").arg(stopAt).arg(states)));
                if (completed)
                    QVERIFY(answerer.messages().isEmpty());
                else if (!answerer.messages().isEmpty())
                    QCOMPARE(answerer.messages().first(), recoveredMessage);
                // A whole installation afterwards goes through.
                if (!completed && stopAt % 4 == 0) {
                    QVERIFY(install(w, site.package()));
                    QVERIFY(consistent(site, &states));
                    QVERIFY2(states.startsWith(QLatin1String("pc new/new, card new/new")), qPrintable(states));
                }
            }
            // The next start finds nothing left.
            const int shown = int(answerer.messages().size());
            { MainWindow again; }
            QCOMPARE(int(answerer.messages().size()), shown);
        }
        QVERIFY(completed || mainMoved);
        // The second row: at least the kill with the program set aside.
        QVERIFY2(interrupted > (withMain ? 1 : 30), qPrintable(QString::number(interrupted)));
    }

    void failuresChangeNothing_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("onFat");
        QTest::newRow("staged file reads back wrong")
            << "flip"
            << QStringLiteral("La memory card non ha restituito i dati scritti. "
                              "Ripetere l'aggiornamento; se si ripete, sostituire la memory card.")
            << false;
        QTest::newRow("another card at installation time")
            << "card" << statusText(QStringLiteral("La memory card inserita non è quella controllata all'inizio."))
            << false;
        QTest::newRow("an archive that cannot go where a folder is")
            << "folder" << statusText(QStringLiteral("Decompressione del pacchetto varno_pc_release.zip: Fallita."))
            << false;
        // Names a FAT card cannot hold, anywhere in the path.
        const QString badName = QStringLiteral("Il pacchetto varno_palm_release.zip contiene un nome di file non "
                                               "valido per la memory card: %1. Contattare l'assistenza.");
        for (const char *name : { "cardsoft/a:b.txt", "cardsoft/star*.txt", "cardsoft/what?.txt",
                                  "cardsoft/quote\".txt", "cardsoft/<less.txt", "cardsoft/more>.txt",
                                  "cardsoft/pipe|.txt", "cardsoft/bell\a.txt", "cardsoft/dot.", "cardsoft/blank ",
                                  "cardsoft/folder./e.txt", "cardsoft/CON", "cardsoft/aux.txt", "cardsoft/Com1.dat",
                                  "lpt9/e.txt", "cardsoft/nul .txt" })
            QTest::newRow(qPrintable(QStringLiteral("card name %1").arg(QString::fromLatin1(name).toHtmlEscaped())))
                << QStringLiteral("name:") + QLatin1String(name)
                << badName.arg(QString::fromLatin1(name).replace(QLatin1Char('|'), QChar(0x00A6))) << false;
        const QString noRoom = QStringLiteral(
            "Spazio su memory card insufficiente per contenere l'aggiornamento. Inserire la memory card nello "
            "strumento ed accenderlo; sarà avviata la procedura di cancellazione delle lingue inutilizzate. Al "
            "termine ripetere l'aggiornamento.");
        QTest::newRow("room for the bytes, not the clusters (FAT32)") << "clusters" << noRoom << true;
        // The driver reports 1 KiB blocks: without the true cluster size the
        // check lets the update through, and the card fills up while staging.
        QTest::newRow("card full during staging (FAT32)") << "full" << noRoom << true;
        const QString removed = QStringLiteral(
            "La memory card è stata rimossa durante l'aggiornamento. Reinserire la memory card e riavviare il "
            "programma: l'aggiornamento verrà completato o annullato.");
        QTest::newRow("card pulled out during staging") << "pull:stage" << removed << false;
        QTest::newRow("card pulled out during the commit") << "pull:commit" << removed << false;
        QTest::newRow("card pulled out during staging (FAT32)") << "pull:stage" << removed << true;
        QTest::newRow("card pulled out during the commit (FAT32)") << "pull:commit" << removed << true;
    }

    void failuresChangeNothing()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        QFETCH(bool, onFat);
        if (onFat && !FatCard::unavailableReason().isEmpty())
            QSKIP(qPrintable(FatCard::unavailableReason()));
        Site site;
        Files extra;
        if (fault.startsWith(QLatin1String("name:")))
            extra.insert(fault.mid(5), "bad name");
        // The card's own files and the folders of the update take about 20
        // clusters of 32 KiB; the new files are a few bytes each.
        const bool small = fault == QLatin1String("clusters") || fault == QLatin1String("full");
        QVERIFY(site.setUp(onFat, small ? 20 : -1, extra));
        // Refusals come before the first file operation of the installation.
        const bool refusedFirst = fault == QLatin1String("clusters") || fault.startsWith(QLatin1String("name:"));
        auto operations = std::make_shared<std::atomic<int>>(0);
        if (refusedFirst)
            Platform::setFaultObserver([operations](int) { ++*operations; });
        if (fault == QLatin1String("clusters"))
            qputenv("UPDATE_HUB_FAULT_CLUSTER_SIZE", QByteArray::number(FatCard::clusterBytes));
        if (fault == QLatin1String("flip"))
            qputenv("UPDATE_HUB_FAULT_FLIP", "cardsoft/new/d.txt");
        if (fault == QLatin1String("folder"))
            QVERIFY(site.ws.makeDir(QStringLiteral("pcsoft/sub/c.txt")));
        if (fault.startsWith(QLatin1String("pull:"))) {
            // Taken out at the first file operation of the staging, or at
            // the first one after the decision record says the commit began.
            const bool inCommit = fault == QLatin1String("pull:commit");
            const QString decisions = site.ws.filePath(QStringLiteral("work/.update_hub/decisions"));
            auto pulled = std::make_shared<std::atomic<bool>>(false);
            Platform::setFaultObserver([&site, inCommit, decisions, pulled](int) {
                if (pulled->load())
                    return;
                if (inCommit && !QFileInfo::exists(decisions))
                    return;
                *pulled = true;
                site.pullCard();
            });
        }
        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        std::unique_ptr<MainWindow> window = std::make_unique<MainWindow>();
        MainWindow &w = *window;
        if (fault == QLatin1String("card")) {
            // The planned card is taken out and another one put in its place.
            const QString card = site.ws.filePath(QStringLiteral("card"));
            QTest::mouseClick(w.findChild<QToolButton *>(QStringLiteral("tbAggiornamentoManuale")), Qt::LeftButton);
            ModalAnswerer::answerNextFileDialog(site.package());
            QTest::mouseClick(w.findChild<QToolButton *>(QStringLiteral("tbOkPw")), Qt::LeftButton);
            QVERIFY(QDir().rename(card, card + QStringLiteral("-planned")));
            QVERIFY(site.ws.writeFile(QStringLiteral("card/varno/main"), "EXEC_VERSION=1.00"));
            QVERIFY(!w.installPackages());
            QVERIFY(QDir(card).removeRecursively());
            QVERIFY(QDir().rename(card + QStringLiteral("-planned"), card));
        } else {
            const bool installed = install(w, site.package());
            Platform::setFaultObserver({});
            QVERIFY(!installed);
            QVERIFY(QDir(site.ws.filePath(QStringLiteral("pcsoft/sub/c.txt"))).removeRecursively());
            QDir().rmdir(site.ws.filePath(QStringLiteral("pcsoft/sub")));
        }
        QCOMPARE(answerer.messages(), QStringList { message });
        QCOMPARE(w.findChild<QStackedWidget *>(QStringLiteral("stackedWidgetAgg"))->currentIndex(), 2);
        QString states;
        if (fault.startsWith(QLatin1String("pull:"))) {
            // Put back and the program started again: the commit the pull
            // broke off was abandoned, so both sides are the old ones.
            window.reset();
            QVERIFY(site.reinsertCard());
            { MainWindow again; }
            QVERIFY2(consistent(site, &states), qPrintable(states));
            QVERIFY2(states.startsWith(QLatin1String("pc old/old, card old/old")), qPrintable(states));
            return;
        }
        QVERIFY2(consistent(site, &states), qPrintable(states));
        QVERIFY2(states.startsWith(QLatin1String("pc old/old, card old/old")), qPrintable(states));
        if (refusedFirst)
            QCOMPARE(operations->load(), 0);
    }

    void namesThatDifferOnlyInCaseAreOneFile()
    {
        // On the card, as on Windows, "A.TXT" and "a.txt" are one file: the
        // archive's later entry wins and replaces the file already there,
        // whatever the case of its folder.
        TestWorkspace ws;
        QVERIFY(ws.writeFile(QStringLiteral("card/varno/Cardsoft/A.TXT"), "old"));
        QVERIFY(zipFiles({ { "CARDSOFT/a.TXT", "first" }, { "cardsoft/a.txt", "second" }, { "cardsoft/b.txt", "b" } },
                         ws.filePath(QStringLiteral("package.zip"))));
        InstallTransaction transaction;
        const int side = transaction.addSide(ws.filePath(QStringLiteral("card")), ws.filePath(QStringLiteral("card/.update_hub")));
        QVERIFY(transaction.stageArchive(side, ws.filePath(QStringLiteral("package.zip")), QStringLiteral("varno/"),
                                         QStringLiteral("package.zip")));
        QCOMPARE(transaction.fileCount(), 2);
        QVERIFY(transaction.verify());
        QVERIFY(transaction.writeJournal());
        QVERIFY(transaction.commit());
        QCOMPARE(QDir(ws.filePath(QStringLiteral("card/varno"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList { QStringLiteral("Cardsoft") });
        QCOMPARE(QDir(ws.filePath(QStringLiteral("card/varno/Cardsoft"))).entryList(QDir::Files, QDir::Name),
                 QStringList({ QStringLiteral("A.TXT"), QStringLiteral("b.txt") }));
        QCOMPARE(ws.readFile(QStringLiteral("card/varno/Cardsoft/A.TXT")), QByteArray("second"));
    }

    void replacedFilesKeepTheirAttributes()
    {
        // Read-only files on the card: the language file copied for editing
        // is still updated, and each new file is read-only like the old one.
        Site site;
        QVERIFY(site.setUp());
        const QFile::Permissions readOnly = QFile::ReadOwner | QFile::ReadUser | QFile::ReadGroup | QFile::ReadOther;
        for (const char *file : { "card/varno/syslang.ini", "card/varno/cardsoft/a.txt" })
            QVERIFY(QFile::setPermissions(site.ws.filePath(QLatin1String(file)), readOnly));
        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        MainWindow w;
        QVERIFY(install(w, site.package()));
        QString states;
        QVERIFY2(consistent(site, &states), qPrintable(states));
        QVERIFY2(states.startsWith(QLatin1String("pc new/new, card new/new")), qPrintable(states));
        for (const char *file : { "card/varno/syslang.ini", "card/varno/cardsoft/a.txt" })
            QCOMPARE(QFile::permissions(site.ws.filePath(QLatin1String(file))) & (QFile::ReadOwner | QFile::WriteOwner),
                     QFile::ReadOwner);
        QCOMPARE(QFile::permissions(site.ws.filePath(QStringLiteral("card/varno/cardsoft/new/d.txt"))) & QFile::WriteOwner,
                 QFile::WriteOwner);
    }

    void damagedStateOnTheCard_data()
    {
        QTest::addColumn<QByteArray>("journal");
        QTest::addColumn<bool>("moved");
        // A commit that had moved the first file when the journal was damaged.
        QTest::newRow("journal garbled") << QByteArray("update_hub installation journal 1\nstate\tcommitting\n"
                                                       "move\t1\t10\t0\tstage/1/varno/cardsoft/a.txt\t"
                                                       "varno/cardsoft/a.txt\tbackup/varno/cardsoft/a.txt\tx\n"
                                                       "check\t12345678\n")
                                         << true;
        QTest::newRow("journal cut short") << QByteArray("update_hub installation journal 1\nstate\tcommi") << true;
        QTest::newRow("stray files, no journal") << QByteArray() << false;
    }

    void damagedStateOnTheCard()
    {
        QFETCH(QByteArray, journal);
        QFETCH(bool, moved);
        Site site;
        QVERIFY(site.setUp());
        if (!journal.isEmpty())
            QVERIFY(site.ws.writeFile(QStringLiteral("card/.update_hub/journal"), journal));
        QVERIFY(site.ws.writeFile(QStringLiteral("card/.update_hub/stage/1/varno/cardsoft/new/d.txt"), "new d card"));
        QVERIFY(site.ws.writeFile(QStringLiteral("card/.update_hub/stray.tmp"), "left over"));
        if (moved) {
            QVERIFY(QFile::rename(site.ws.filePath(QStringLiteral("card/varno/cardsoft/a.txt")),
                                  site.ws.filePath(QStringLiteral("card/.update_hub/backup/varno/cardsoft/a.txt")))
                    || (site.ws.makeDir(QStringLiteral("card/.update_hub/backup/varno/cardsoft"))
                        && QFile::rename(site.ws.filePath(QStringLiteral("card/varno/cardsoft/a.txt")),
                                         site.ws.filePath(QStringLiteral("card/.update_hub/backup/varno/cardsoft/a.txt")))));
            QVERIFY(site.ws.writeFile(QStringLiteral("card/varno/cardsoft/a.txt"), "new a card"));
        }
        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        {
            MainWindow w;
        }
        QCOMPARE(answerer.messages(), QStringList { recoveredMessage });
        QCOMPARE(answerer.titles(), QStringList { QStringLiteral("Attenzione") });
        QString states;
        QVERIFY2(consistent(site, &states), qPrintable(states));
        QVERIFY2(states.startsWith(QLatin1String("pc old/old, card old/old")), qPrintable(states));
    }

    void cardFoundLate_data()
    {
        QTest::addColumn<QString>("route");
        QTest::addColumn<bool>("loseStaged");
        QTest::newRow("missing at start, manual button") << QStringLiteral("manual") << false;
        QTest::newRow("put in again before the installation") << QStringLiteral("again") << false;
        QTest::newRow("present at start, cannot be mended") << QStringLiteral("start") << true;
    }

    void cardFoundLate()
    {
        // A kill in the commit while the instrument's program is set aside:
        // the card no longer carries its signature.
        QFETCH(QString, route);
        QFETCH(bool, loseStaged);
        packages[1].entries.insert(QStringLiteral("main"), "EXEC_VERSION=2.00");
        const auto inFlight = [](const Site &site) {
            return decided(site) && !QFileInfo::exists(site.ws.filePath(QStringLiteral("card/varno/main")))
                && QFileInfo::exists(site.ws.filePath(QStringLiteral("card/.update_hub/backup/varno/main")));
        };
        // The first file operation that finds the card so is searched once:
        // an installation in this process says which operation it is (the
        // observer runs where a stop would end the program), and a child
        // stopped there must leave the card so. Should the two count
        // differently, every operation is tried in a child from the first.
        static int stopAt = 0;
        if (!stopAt) {
            Site probe;
            QVERIFY(probe.setUp());
            auto found = std::make_shared<std::atomic<int>>(0);
            Platform::setFaultObserver([&probe, inFlight, found](int at) {
                if (!found->load() && inFlight(probe))
                    *found = at;
            });
            {
                ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
                MainWindow w;
                install(w, probe.package());
            }
            Platform::setFaultObserver({});
            stopAt = found->load();
        }
        auto fresh = std::make_unique<Site>();
        QVERIFY(fresh->setUp());
        bool fromFirst = !stopAt;
        for (int at = stopAt ? stopAt : 1; at < 200; ++at) {
            QCOMPARE(runChild(*fresh, "install", at), Platform::faultExitCode);
            if (inFlight(*fresh)) {
                stopAt = at;
                break;
            }
            fresh.reset(); // restores the current folder before the next one takes it
            fresh = std::make_unique<Site>();
            QVERIFY(fresh->setUp());
            if (!fromFirst) {
                fromFirst = true;
                at = 0;
            }
        }
        Site &site = *fresh;
        QVERIFY2(inFlight(site), qPrintable(QString::number(stopAt)));
        if (loseStaged) {
            QDirIterator staged(site.ws.filePath(QStringLiteral("card/.update_hub/stage")), QDir::Files,
                                QDirIterator::Subdirectories);
            QVERIFY(staged.hasNext());
            QVERIFY(QFile::remove(staged.next()));
        }
        const QString card = site.ws.filePath(QStringLiteral("card"));
        const QString aside = card + QStringLiteral("-out");
        // The same card keeps its volume: its entries go out and come back.
        const auto moveEntries = [](const QString &from, const QString &to) {
            QDir().mkpath(to);
            const QDir source(from);
            for (const QString &entry : source.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
                if (!QDir().rename(source.filePath(entry), to + QLatin1Char('/') + entry))
                    return false;
            }
            return true;
        };
        if (route == QLatin1String("manual")) {
            QVERIFY(QDir().rename(card, aside));
        } else if (route == QLatin1String("again")) {
            // Start-up sees an untouched card; the card in flight comes back later.
            QVERIFY(moveEntries(card, aside));
            QVERIFY(site.ws.writeFile(QStringLiteral("card/varno/main"), "EXEC_VERSION=1.00"));
            QVERIFY(site.ws.makeDir(QStringLiteral("card/qte")));
        }
        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        MainWindow w;
        if (route == QLatin1String("again")) {
            QTest::mouseClick(w.findChild<QToolButton *>(QStringLiteral("tbAggiornamentoManuale")), Qt::LeftButton);
            ModalAnswerer::answerNextFileDialog(site.package());
            QTest::mouseClick(w.findChild<QToolButton *>(QStringLiteral("tbOkPw")), Qt::LeftButton);
            QVERIFY(moveEntries(card, site.ws.home() + QStringLiteral("/card-other")));
            QVERIFY(moveEntries(aside, card));
            QVERIFY(w.installPackages());
        } else {
            if (route == QLatin1String("manual"))
                QVERIFY(QDir().rename(aside, card));
            QCOMPARE(install(w, site.package()), !loseStaged);
        }
        QString states;
        if (loseStaged) {
            // At start-up and again when asked to install: nothing is
            // installed over it; it stays as it is for support.
            QCOMPARE(answerer.messages(), QStringList({ unrecoverableMessage, unrecoverableMessage }));
            QVERIFY(QFileInfo::exists(site.ws.filePath(QStringLiteral("card/.update_hub/journal"))));
            QCOMPARE(w.findChild<QStackedWidget *>(QStringLiteral("stackedWidgetAgg"))->currentIndex(), 2);
            return;
        }
        QVERIFY2(answerer.messages().contains(recoveredMessage), qPrintable(answerer.messages().join(QLatin1Char('|'))));
        QVERIFY2(consistent(site, &states), qPrintable(states));
        QVERIFY2(states.startsWith(QLatin1String("pc new/new, card new/new")), qPrintable(states));
        QCOMPARE(site.ws.readFile(QStringLiteral("card/varno/main")), QByteArray("EXEC_VERSION=2.00"));
    }

    void secondUpdaterOnTheSameCard_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("card") << QStringLiteral("card/.update_hub/");
        QTest::newRow("notifier folder") << QStringLiteral("home/orvane/.update_hub/");
    }

    void secondUpdaterOnTheSameCard()
    {
        // Another updater, from another program folder, works on the same
        // card or notifier folder: this one refuses to start.
        QFETCH(QString, folder);
        Site site;
        QVERIFY(site.setUp());
        const QString path = folder.startsWith(QLatin1String("home/"))
            ? Platform::orvaneFolder() + QStringLiteral(".update_hub/")
            : site.ws.filePath(folder);
        QVERIFY(QDir().mkpath(path));
        QLockFile running(path + QStringLiteral("update_hub.lock"));
        QVERIFY(running.tryLock(0));
        {
            ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
            MainWindow w;
            QVERIFY(w.startRefused());
            QCOMPARE(answerer.messages(), QStringList { QStringLiteral("Il programma di aggiornamento è già in esecuzione.") });
        }
        running.unlock();
        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        MainWindow w;
        QVERIFY(!w.startRefused());
        QVERIFY(answerer.messages().isEmpty());
    }

    void recoveryDecidesForEverySide_data()
    {
        QTest::addColumn<QString>("reached"); // the last step made before the end
        QTest::addColumn<QString>("tamper"); // what happens to the files before the restart
        QTest::addColumn<QString>("pc"); // outcome and state of each side
        QTest::addColumn<QString>("card");
        using R = InstallTransaction::Recovery;
        const auto is = [](R outcome, const char *state) {
            return QString::number(int(outcome)) + QLatin1Char(' ') + QLatin1String(state);
        };
        QTest::newRow("journaled, not decided") << "journal" << "" << is(R::Undone, "old") << is(R::Undone, "old");
        QTest::newRow("decided, nothing moved") << "decision" << "" << is(R::Completed, "new") << is(R::Completed, "new");
        QTest::newRow("decided, every move made") << "moves" << "" << is(R::Completed, "new") << is(R::Completed, "new");
        QTest::newRow("decision abandoned") << "abandoned" << "" << is(R::Undone, "old") << is(R::Undone, "old");
        QTest::newRow("decision record lost") << "moves" << "no decision" << is(R::Undone, "old") << is(R::Undone, "old");
        QTest::newRow("record of another transaction")
            << "moves" << "other decision" << is(R::Undone, "old") << is(R::Undone, "old");
        QTest::newRow("journal only under its temporary name")
            << "decision" << "temporary journal" << is(R::Completed, "new") << is(R::Completed, "new");
        QTest::newRow("decision only under its temporary name")
            << "decision" << "temporary decision" << is(R::Completed, "new") << is(R::Completed, "new");
        // Lost or changed files are never taken as moved or restored.
        QTest::newRow("staged file lost before the move")
            << "decision" << "lose staged" << is(R::Completed, "new") << is(R::Failed, "any");
        QTest::newRow("installed file changed") << "moves" << "change target" << is(R::Completed, "new") << is(R::Failed, "mixed");
        QTest::newRow("set-aside file lost") << "abandoned" << "lose backup" << is(R::Undone, "old") << is(R::Failed, "mixed");
        QTest::newRow("journal lost after the moves")
            << "abandoned" << "lose journal" << is(R::Undone, "old") << is(R::Failed, "new");
        QTest::newRow("replaced file changed before the commit")
            << "journal" << "change old" << is(R::Undone, "old") << is(R::Failed, "mixed");
        // A file that appeared where a new file goes has no copy anywhere.
        QTest::newRow("a file where a new one goes")
            << "decision" << "file in the way" << is(R::Completed, "new") << is(R::Failed, "mixed");
    }

    void recoveryDecidesForEverySide()
    {
        QFETCH(QString, reached);
        QFETCH(QString, tamper);
        QFETCH(QString, pc);
        QFETCH(QString, card);
        TestWorkspace ws;
        const Files oldFiles = { { "soft/a.txt", "old a" }, { "soft/b.txt", "old b" } };
        const Files newFiles = { { "soft/a.txt", "new a!" }, { "soft/b.txt", "new b" }, { "soft/new/c.txt", "new c" } };
        const QString archive = ws.filePath(QStringLiteral("release.zip"));
        QVERIFY(zipFiles(newFiles, archive));
        const QStringList roots = { ws.filePath(QStringLiteral("pc/")), ws.filePath(QStringLiteral("card/")) };
        for (const QString &root : roots) {
            for (auto it = oldFiles.cbegin(); it != oldFiles.cend(); ++it)
                QVERIFY(ws.writeFile(root.mid(ws.path().size() + 1) + it.key(), it.value()));
        }
        const QString decisions = roots.at(0) + QStringLiteral(".update_hub/decisions");
        {
            // The process ends after the step reached: nothing undoes anything.
            const auto transaction = std::make_unique<InstallTransaction>();
            transaction->setDecisionRecord(decisions);
            for (const QString &root : roots) {
                const int side = transaction->addSide(root, root + QStringLiteral(".update_hub/"));
                QVERIFY(transaction->stageArchive(side, archive, QString(), QStringLiteral("release.zip")));
            }
            QVERIFY(transaction->verify());
            QVERIFY(transaction->writeJournal());
            if (reached != QLatin1String("journal"))
                QVERIFY(transaction->beginCommit());
            if (reached == QLatin1String("moves") || reached == QLatin1String("abandoned"))
                QVERIFY(transaction->moveAll());
            if (reached == QLatin1String("abandoned"))
                QVERIFY(transaction->abandonCommit());
        }
        const QString cardState = roots.at(1) + QStringLiteral(".update_hub/");
        if (tamper == QLatin1String("no decision"))
            QVERIFY(QFile::remove(decisions));
        if (tamper == QLatin1String("other decision")) {
            QByteArray text = "update_hub installation decisions 1\ncommit\tother\t0\ncommit\tother\t1\n";
            text += "check\t" + QByteArray::number(quint32(crc32(0, reinterpret_cast<const Bytef *>(text.constData()), uInt(text.size()))), 16) + '\n';
            QVERIFY(ws.writeFile(decisions.mid(ws.path().size() + 1), text));
        }
        if (tamper == QLatin1String("temporary journal"))
            QVERIFY(QFile::rename(cardState + QStringLiteral("journal"), cardState + QStringLiteral("journal.tmp")));
        if (tamper == QLatin1String("temporary decision"))
            QVERIFY(QFile::rename(decisions, decisions + QStringLiteral(".tmp")));
        if (tamper == QLatin1String("lose staged"))
            QVERIFY(QFile::remove(cardState + QStringLiteral("stage/1/soft/b.txt")));
        if (tamper == QLatin1String("change target"))
            QVERIFY(ws.writeFile(QStringLiteral("card/soft/b.txt"), "new B"));
        if (tamper == QLatin1String("lose backup"))
            QVERIFY(QFile::remove(cardState + QStringLiteral("backup/soft/b.txt")));
        if (tamper == QLatin1String("lose journal"))
            QVERIFY(QFile::remove(cardState + QStringLiteral("journal")));
        if (tamper == QLatin1String("change old"))
            QVERIFY(ws.writeFile(QStringLiteral("card/soft/b.txt"), "old B"));
        if (tamper == QLatin1String("file in the way"))
            QVERIFY(ws.writeFile(QStringLiteral("card/soft/new/c.txt"), "someone's"));

        for (int i = 0; i < roots.size(); ++i) {
            const QString &root = roots.at(i);
            const int outcome = int(InstallTransaction::recover(root, root + QStringLiteral(".update_hub/"), {}, decisions));
            QString state = QStringLiteral("mixed");
            const auto all = [&](const Files &files) {
                for (auto it = files.cbegin(); it != files.cend(); ++it) {
                    QFile file(root + it.key());
                    if (!file.open(QIODevice::ReadOnly) || file.readAll() != it.value())
                        return false;
                }
                return true;
            };
            if (all(newFiles))
                state = QStringLiteral("new");
            else if (all(oldFiles) && !QFileInfo::exists(root + QStringLiteral("soft/new/c.txt")))
                state = QStringLiteral("old");
            // A failure may stop before or after the other moves.
            const QString expected = i == 0 ? pc : card;
            if (expected.endsWith(QLatin1String(" any")))
                state = QStringLiteral("any");
            QCOMPARE(QString::number(outcome) + QLatin1Char(' ') + state, expected);
        }
        // What could not be brought back stays for support; anything else is gone.
        QCOMPARE(QFileInfo::exists(cardState), card.startsWith(QString::number(int(InstallTransaction::Recovery::Failed))));
        QVERIFY(!QFileInfo::exists(roots.at(0) + QStringLiteral(".update_hub/journal")));
        if (tamper == QLatin1String("file in the way"))
            QCOMPARE(ws.readFile(QStringLiteral("card/soft/new/c.txt")), QByteArray("someone's"));
    }

    void workFolderCacheSurvivesRecovery()
    {
        // The PC's state folder may hold the download cache: it stays.
        Site site;
        QVERIFY(site.setUp());
        QVERIFY(site.ws.writeFile(QStringLiteral("work/.update_hub/downloads/part.zip"), "partial"));
        QVERIFY(site.ws.writeFile(QStringLiteral("work/.update_hub/stage/1/pcsoft/a.txt"), "new a pc"));
        QCOMPARE(InstallTransaction::recover(site.ws.path(), site.ws.filePath(QStringLiteral("work/.update_hub")),
                                             { QStringLiteral("downloads") }),
                 InstallTransaction::Recovery::Undone);
        QCOMPARE(site.ws.readFile(QStringLiteral("work/.update_hub/downloads/part.zip")), QByteArray("partial"));
        QVERIFY(!QFileInfo::exists(site.ws.filePath(QStringLiteral("work/.update_hub/stage"))));
        QCOMPARE(InstallTransaction::recover(site.ws.path(), site.ws.filePath(QStringLiteral("work/.update_hub")),
                                             { QStringLiteral("downloads") }),
                 InstallTransaction::Recovery::Nothing);
    }

    void oneUpdaterAtATime()
    {
        TestWorkspace ws;
        QLockFile running(ws.filePath(QStringLiteral("update_hub.lock")));
        QVERIFY(running.tryLock(0));
        {
            ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
            QVERIFY(!MainWindow::lockProgramFolder());
            QCOMPARE(answerer.messages(), QStringList { QStringLiteral("Il programma di aggiornamento è già in esecuzione.") });
        }
        running.unlock();
        // A lock left by an updater that crashed: its process is gone. The
        // lock holds what Qt writes: process, program, host and the
        // machine's id (without the id the lock could come from another
        // machine sharing the folder, and its process is not looked for).
        QProcess gone;
        gone.setProcessChannelMode(QProcess::ForwardedChannels); // no pipes (see TestSystem::waitForEnd)
        gone.start(QStringLiteral(UPDATE_HUB_RECORDARGS_BIN), {});
        QVERIFY(gone.waitForStarted());
        const qint64 pid = gone.processId();
        QVERIFY(TestSystem::waitForEnd(gone, 30000));
        QVERIFY(ws.writeFile(QStringLiteral("update_hub.lock"),
                             QByteArray::number(pid) + "\nupdate_hub_app\n" + QSysInfo::machineHostName().toUtf8() + "\n"
                                 + QSysInfo::machineUniqueId() + "\n"));
        ModalAnswerer answerer(QStringLiteral("tbOk"), -1);
        const std::unique_ptr<QLockFile> lock = MainWindow::lockProgramFolder();
        QVERIFY(lock);
        QVERIFY(answerer.messages().isEmpty());
    }
};

int main(int argc, char *argv[])
{
    if (argc >= 4 && qstrcmp(argv[1], "--child") == 0)
        return childMain(argc, argv);
    QApplication app(argc, argv);
    TestTransaction test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_transaction.moc"
