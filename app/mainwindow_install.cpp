// The installation run behind tbOkAggiornamentiDisponibili: the download of
// every planned package (online runs), the test and extraction of every archive
// of the work manifest to the PC and to the card, and the follow-up steps,
// each recorded in "stati.log".
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "update/downloadnames.h"
#include "update/cardrules.h"
#include "update/installtransaction.h"
#include "update/updateplanner.h"
#include "app/uitext.h"
#include "archive/tzipfile.h"
#include "language/languagefiles.h"
#include "platform/platform.h"
#include "service/packagedownload.h"
#include "service/thttp.h"
#include "settings/tinifiles.h"
#include "ui/tprogressbox.h"
#include "ui/twaitbox.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QEventLoop>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QLoggingCategory>
#include <QThreadPool>
#include <QScopeGuard>
#include <QTimer>
#include <QtConcurrent>

Q_DECLARE_LOGGING_CATEGORY(lcApp)

namespace {

const QString workFolder = QStringLiteral("work/");
const QString manifestPath = QStringLiteral("work/update.ini");
const QString manifestGroup = QStringLiteral("pc_update");

/// "stati.log" in the program folder. It is opened for reading and writing,
/// neither truncated nor appended to: the new text overwrites the old one from
/// the first byte, and an older, longer content keeps its tail. When the file
/// cannot be opened nothing is logged and the run goes on.
class StatusLog
{
public:
    StatusLog()
        : file(QStringLiteral("stati.log"))
    {
        if (!file.open(QIODevice::ReadWrite | QIODevice::Text))
            qCDebug(lcApp).noquote() << "stati.log cannot be opened:" << file.errorString();
    }

    /// A line of a successful run: the date followed by the fixed text.
    void line(const char *text)
    {
        write(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + QLatin1String(text));
    }

    /// A failure text, without date and without line end.
    void write(const QString &text)
    {
        if (!file.isOpen())
            return;
        file.write(text.toUtf8());
        file.flush();
    }

    void close() { file.close(); }

private:
    QFile file;
};

/// The archive name of a manifest value: the text up to the first ":".
QString archiveName(const QString &value)
{
    return value.section(QLatin1Char(':'), 0, 0);
}

/// The kind of a manifest value: the text after the first ":" up to the next one.
QString archiveKind(const QString &value)
{
    return value.section(QLatin1Char(':'), 1, 1);
}

/// A manifest names archives inside the work folder; a name that reaches
/// into another folder (a hand-made or damaged manual package) is treated
/// like a corrupt archive instead of being read from elsewhere.
bool isPlainName(const QString &name)
{
    return !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && name != QLatin1String("..")
        && name != QLatin1String(".");
}

/// The first two "_"-fields of a local name, e.g. "varno_pc".
QString namePrefix(const QString &name)
{
    return name.section(QLatin1Char('_'), 0, 1);
}

/// Where an archive goes in a run of the given scope.
struct Destinations
{
    bool pc = false;
    bool card = false;
    bool notifier = false;
};

Destinations destinationsFor(const QString &name, const QString &kind, int scope)
{
    const bool pcSide = scope == 0 || scope == 2;
    const bool cardSide = scope == 1 || scope == 2;
    Destinations to;
    if (kind == QLatin1String("balloon")) {
        to.notifier = true;
    } else if (kind == QLatin1String("bbad")) {
        to.pc = pcSide;
        to.card = cardSide;
    } else if (namePrefix(name) == QLatin1String("varno_pc")) {
        to.pc = pcSide;
    } else if (namePrefix(name) == QLatin1String("varno_palm")) {
        to.card = cardSide;
    } else {
        to.pc = pcSide;
        to.card = cardSide;
    }
    return to;
}

/// The card folder of an archive's files: "varno/bbad/" or "varno/".
QString cardFolderFor(const QString &kind)
{
    return kind == QLatin1String("bbad") ? QStringLiteral("varno/bbad/") : QStringLiteral("varno/");
}

/// Adds the files and folders of an archive extracted below folder.
void addArchiveRoom(CardRules::Room &room, const QString &archive, const QString &folder)
{
    room.addStage();
    const QList<TZipFile::EntryInfo> entries = TZipFile::Entries(archive, true);
    for (const TZipFile::EntryInfo &entry : entries) {
        if (entry.folder)
            room.addFolder(folder + entry.path);
        else
            room.addFile(folder + entry.path, entry.size);
    }
}

/// Adds a file the installation copies and edits (the language files):
/// its current size and some room to grow.
void addEditedFileRoom(CardRules::Room &room, const QString &path, const QString &target)
{
    room.addFile(target, quint64(qMax<qint64>(0, QFileInfo(path).size())) + 4096);
}

/// True when the room needed is known to exceed the free room on the volume.
bool exceedsFreeRoom(const CardRules::Room &room, const QString &volume, const char *what)
{
    const qint64 needed = room.bytes(Platform::clusterSize(volume));
    const qint64 available = Platform::freeSpace(volume);
    qCDebug(lcApp) << what << "room: needed" << needed << "available" << available;
    return available >= 0 && needed > available;
}

/// What became of the card when a step of the installation failed on it.
enum class CardFault {
    None, // the card is there and takes data: the failure has another cause
    Removed, // taken out, or another card in its place
    Full,
    WriteProtected,
};

/// Looks at the card after a failure, before the staging is removed: the
/// volume is queried, then one cluster is written into the state folder.
CardFault cardFault(const QString &cardRoot, const QString &identity)
{
    if (cardRoot.isEmpty())
        return CardFault::None;
    if (!Platform::queryVolume(cardRoot) || Platform::volumeIdentity(cardRoot) != identity)
        return CardFault::Removed;
    const QString folder = cardRoot + QStringLiteral(".update_hub/");
    const qint64 cluster = qMax<qint64>(512, Platform::clusterSize(cardRoot));
    const bool hadFolder = QFileInfo(folder).isDir();
    QFile probe(folder + QStringLiteral("room.probe"));
    // A card that takes no new entry or no new cluster is full, unless it
    // takes no writes at all.
    if (!QDir().mkpath(folder) || !probe.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return Platform::volumeReadOnly(cardRoot) ? CardFault::WriteProtected : CardFault::Full;
    const QByteArray block(int(cluster), '\0');
    bool wrote = probe.write(block) == block.size() && probe.flush();
    probe.close();
    wrote = wrote && probe.error() == QFileDevice::NoError;
    probe.remove();
    if (!hadFolder)
        QDir().rmdir(folder);
    if (wrote)
        return CardFault::None;
    return Platform::volumeReadOnly(cardRoot) ? CardFault::WriteProtected : CardFault::Full;
}

/// Runs an archive operation that reports no progress (a test, the copy of
/// the work folder) on a worker thread and waits in a local event loop, so the
/// window keeps repainting while a large package is read. User input is
/// delivered, so that Cancel can be pressed; the window holds it back from its
/// own buttons while it works.
bool runResponsive(const std::function<bool()> &operation)
{
    static QThreadPool pool;
    pool.setMaxThreadCount(1);
    QFutureWatcher<bool> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcher<bool>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run(&pool, operation));
    if (!watcher.isFinished())
        loop.exec();
    return watcher.result();
}

/// A downloaded package that failed its test leaves the download cache with
/// its record (and the work folder), so the next run fetches it whole instead
/// of being served the same bad copy again.
void forgetDownloadedCopy(const QStringList &downloadList, const QStringList &databaseFolders,
                          const QString &name)
{
    const DownloadCache cache;
    for (const QString &entry : downloadList) {
        if (DownloadNames::localName(entry, databaseFolders).name != name)
            continue;
        qCDebug(lcApp).noquote() << "cache: bad copy of" << name << "removed";
        cache.discard(DownloadCache::slotName(name, DownloadNames::servicePath(entry)));
        QFile::remove(workFolder + name);
    }
}

} // namespace

void MainWindow::on_tbOkAggiornamentiDisponibili_clicked()
{
    if (isBusy())
        return;
    WorkScope work(this);
    // The page's buttons stay disabled while the run goes on.
    ui->tbOkAggiornamentiDisponibili->setEnabled(false);
    ui->tbCancelAggiornamentiDisponibili->setEnabled(false);
    installPackages();
    cancelStage = CancelStage::Idle;
    ui->tbOkAggiornamentiDisponibili->setEnabled(true);
    ui->tbCancelAggiornamentiDisponibili->setEnabled(true);
}

bool MainWindow::replaceFile(const QString &source, const QString &target)
{
    // The copy is made beside the target and renamed over it: the target is
    // never missing, and a copy cut short never takes its place.
    const QString beside = target + QStringLiteral(".update_hub-new");
    QFile::remove(beside);
    if (!QFile::copy(source, beside))
        return false;
    if (!Platform::flushFile(beside) || !Platform::renameOver(beside, target)) {
        QFile::remove(beside);
        return false;
    }
    return true;
}

void MainWindow::updateSystemLanguageFiles()
{
    const bool pc = updateScope == 0 || updateScope == 2;
    const bool card = updateScope == 1 || updateScope == 2;
    LanguageFiles::recordInstalledVersions(QStringLiteral("./work/syslang.ini"), productIds, databaseFolders, pc,
                                           card, cardRoot);
}

bool MainWindow::downloadRoomMissing() const
{
    // The packages, and the dated copy of the work folder that holds them.
    const qint64 needed = 2 * qMax<qint64>(0, totalDownloadSize);
    const qint64 available = Platform::freeSpace(QStringLiteral("."));
    qCDebug(lcApp) << "program folder space: needed" << needed << "available" << available;
    return available >= 0 && needed > available;
}

void MainWindow::copyWorkFolder()
{
    // A dated copy of the work folder, manifest included, stays in the program
    // folder; an installation's own folder ".update_hub" is not part of it.
    const QString copy = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss"))
        + QStringLiteral(".zip");
    const bool copied = runResponsive([copy] {
        const QDir work(QStringLiteral("work"));
        const QFileInfoList items = work.entryInfoList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        bool ok = true;
        for (const QFileInfo &item : items) {
            if (item.fileName() == QLatin1String(".update_hub"))
                continue;
            const QString path = QStringLiteral("work//") + item.fileName();
            if (item.isDir() && !item.isSymLink())
                ok = TZipFile::ZipDirectory(path, QStringLiteral("work/"), copy, QString()) && ok;
            else if (item.isFile())
                ok = TZipFile::ZipSingleFile(path, path, copy, QString()) && ok;
        }
        return ok;
    });
    if (!copied)
        qCDebug(lcApp).noquote() << "copy of the work folder failed:" << copy;
    // The newest three copies are kept (their names sort by date).
    QStringList copies = QDir().entryList({ QStringLiteral("\?\?\?\?-\?\?-\?\?_\?\?-\?\?-\?\?.zip") }, QDir::Files, QDir::Name);
    while (copies.size() > 3)
        QFile::remove(copies.takeFirst());
}

MainWindow::DownloadRun MainWindow::downloadPackages()
{
    progressBox->show();
    const DownloadCache cache;
    PackageDownload fetch(*httpClient, cache);
    fetch.onRetry = [this](int attempt, int waitMs) {
        qCDebug(lcApp) << "transfer broken: try" << attempt << "in" << waitMs << "ms";
        progressBox->setMessage(tx("Connessione interrotta, nuovo tentativo in corso..."));
    };
    fetch.onTransfer = [this]() { progressBox->setMessage(tx("download aggiornamenti in corso...")); };

    // What the cache holds already counts as done, from the first moment.
    QList<qint64> held;
    qint64 heldLater = 0;
    for (qsizetype i = 0; i < downloadList.size(); ++i) {
        const QString name = DownloadNames::localName(downloadList.at(i), databaseFolders).name;
        held << (name.isEmpty() ? 0
                                : cache.heldBytes(name, DownloadNames::servicePath(downloadList.at(i)),
                                                  downloadSizes.value(i)));
        heldLater += held.last();
    }
    qint64 finished = 0;
    downloadRunShown = 0;
    downloadRunActive = true;
    {
        TIniFiles manifest(manifestPath, true);
        manifest.writeInt(manifestGroup, QStringLiteral("num_files"), int(downloadList.size()));
        for (qsizetype i = 0; i < downloadList.size(); ++i) {
            const QString &entry = downloadList.at(i);
            qCDebug(lcApp).noquote() << "download" << i << entry;
            const qint64 size = downloadSizes.value(i);
            heldLater -= held.at(i);
            downloadRunBase = finished + heldLater;
            const DownloadNames::LocalName local = DownloadNames::localName(entry, databaseFolders);
            if (local.name.isEmpty())
                continue;
            manifest.writeString(manifestGroup, QStringLiteral("file_") + QString::number(i),
                                 DownloadNames::manifestValue(local));
            manifest.sync();
            downloadRunShown = qMax(downloadRunShown, downloadRunBase + held.at(i));
            progressBox->updateProgress(held.at(i), size, QString(), QString(), downloadRunBase + held.at(i),
                                        totalDownloadSize);
            // A package that did not arrive leaves no file and fails its archive test.
            const PackageDownload::Outcome outcome
                = fetch.fetch(DownloadNames::servicePath(entry), local.name, size, workFolder + local.name);
            if (outcome == PackageDownload::Outcome::Cancelled) {
                downloadRunActive = false;
                return DownloadRun::Cancelled;
            }
            if (outcome == PackageDownload::Outcome::Failed) {
                downloadRunActive = false;
                if (httpClient->cancelled())
                    return DownloadRun::Cancelled;
                downloadFailure(local.name, fetch.failureCause() == PackageDownload::Cause::Disk);
                return DownloadRun::Failed;
            }
            finished += qMax<qint64>(0, size);
        }
    }
    downloadRunActive = false;
    copyWorkFolder();
    progressBox->close();
    return DownloadRun::Done;
}

void MainWindow::downloadFailure(const QString &name, bool diskFull)
{
    const QString logged
        = QStringLiteral("Download del pacchetto ") + name + QStringLiteral(" non riuscito.");
    qCDebug(lcApp).noquote() << logged << (diskFull ? "(disk)" : "(connection)");
    progressBox->close();
    {
        StatusLog log;
        log.write(logged);
    }
    const QString cause = diskFull ? text("Spazio su disco insufficiente per scaricare l'aggiornamento.")
                                   : text("Controllare la connessione ad Internet e ripetere "
                                          "l'aggiornamento: il download riprenderà da dove "
                                          "si è interrotto.");
    showMessage(text("Attenzione"),
                tx("Download del pacchetto %1 non riuscito.").arg(name) + QLatin1Char('|') + cause,
                QStringLiteral("Ok"), QStringLiteral(" "));
}

bool MainWindow::cancelInstallation()
{
    // Whatever the installation had in flight is undone here, before the
    // window says anything (the staged files of a staged installation).
    qCDebug(lcApp) << "installation cancelled";
    progressBox->close();
    cancelPending = false;
    cancelStage = CancelStage::Idle;
    downloadRunActive = false;
    httpClient->resetCancel();
    notifier->resetCancel();
    showMessage(text("Attenzione"),
                text("Aggiornamento annullato.") + QLatin1Char('|')
                    + text("Il prossimo aggiornamento riprenderà da dove si è interrotto."),
                QStringLiteral("Ok"), QStringLiteral(" "));
    setStep(2);
    return false;
}

bool MainWindow::archiveFailure(const QString &logged, const QString &shown)
{
    qCDebug(lcApp).noquote() << logged;
    progressBox->close();
    {
        StatusLog log;
        log.write(logged);
    }
    showMessage(text("Attenzione"), shown + QLatin1Char('|') + text("Ripetere l'aggiornamento."),
                QStringLiteral("Ok"), QStringLiteral(" "));
    return false;
}

bool MainWindow::corruptArchive(const QString &name)
{
    return archiveFailure(QStringLiteral("Archivio ") + name + QStringLiteral(": Corrotto."),
                          tx("Archivio %1: Corrotto.").arg(name));
}

bool MainWindow::failedExtraction(const QString &name)
{
    return archiveFailure(QStringLiteral("Decompressione del pacchetto ") + name + QStringLiteral(": Fallita."),
                          tx("Decompressione del pacchetto %1: Fallita.").arg(name));
}

bool MainWindow::cardTooSmall(const QStringList &names, const QStringList &kinds) const
{
    if ((updateScope != 1 && updateScope != 2) || cardRoot.isEmpty())
        return false;
    // The staged files lie beside the ones they replace until the commit.
    CardRules::Room room;
    for (qsizetype k = 0; k < names.size(); ++k) {
        if (destinationsFor(names.at(k), kinds.at(k), updateScope).card)
            addArchiveRoom(room, workFolder + names.at(k), cardFolderFor(kinds.at(k)));
    }
    addEditedFileRoom(room, cardRoot + QStringLiteral("varno/syslang.ini"), QStringLiteral("varno/syslang.ini"));
    addEditedFileRoom(room, QStringLiteral("language.ini"), QStringLiteral("varno/language.ini"));
    return exceedsFreeRoom(room, cardRoot, "card");
}

bool MainWindow::cardChanged() const
{
    if (updateScope != 1 && updateScope != 2)
        return false;
    const QString now = cardRoot.isEmpty() ? QString() : Platform::volumeIdentity(cardRoot);
    qCDebug(lcApp) << "card identity: planned" << cardIdentity << "now" << now;
    return now != cardIdentity;
}

bool MainWindow::installPackages()
{
    QDir().mkpath(QStringLiteral("work"));
    QDir().rmdir(QStringLiteral("work/dazip"));
    QDir().rmdir(QStringLiteral("work/dabbad"));

    progressBox->setTitle(tx("Software Update"));
    progressBox->setMessage(tx("download aggiornamenti in corso..."));
    cancelPending = false;
    httpClient->resetCancel();
    notifier->resetCancel();
    cancelStage = CancelStage::Cancellable;
    if (!manualUpdate) {
        if (downloadRoomMissing()) {
            showMessage(text("Attenzione"),
                        text("Spazio su disco insufficiente per scaricare l'aggiornamento.") + QLatin1Char('|')
                            + text("Liberare spazio e ripetere l'aggiornamento."),
                        QStringLiteral("Ok"), QStringLiteral(" "));
            return false;
        }
        const DownloadRun fetched = downloadPackages();
        if (fetched == DownloadRun::Cancelled)
            return cancelInstallation();
        if (fetched == DownloadRun::Failed)
            return false;
    }

    // Read after the download run has written and synced it.
    TIniFiles manifest(manifestPath, true);
    const int count = manifest.readInt(manifestGroup, QStringLiteral("num_files"), 10, 0);
    QStringList names;
    QStringList kinds;
    for (int j = 0; j < count; ++j) {
        const QString value = manifest.readString(manifestGroup, QStringLiteral("file_") + QString::number(j));
        names << archiveName(value);
        kinds << archiveKind(value);
    }
    // Which archives each version of "work/syslang.ini" waits for.
    const std::optional<ValueEntries> valueEntries = ValueEntries::read(manifest);

    progressBox->setTitle(tx("Attenzione"));
    progressBox->setMessage(tx(" estrazione archivio aggiornamenti in corso... "));
    progressBox->show();

    for (int j = 0; j < count; ++j) {
        const QString &name = names.at(j);
        if (!name.contains(QLatin1String(".exe"))) {
            const QString archive = workFolder + name;
            QZipFileNotificationInterface *const stop = notifier;
            const bool intact = isPlainName(name)
                && runResponsive([archive, stop] { return TZipFile::TestArchive(archive, QString(), stop); });
            if (cancelPending)
                return cancelInstallation();
            if (!intact) {
                if (!manualUpdate)
                    forgetDownloadedCopy(downloadList, databaseFolders, name);
                return corruptArchive(name);
            }
        }
        QCoreApplication::processEvents();
        progressBox->show();
    }

    // The card that was planned for is the one that gets the update.
    if (cardChanged()) {
        progressBox->close();
        showMessage(text("Attenzione"),
                    text("La memory card inserita non è quella controllata all'inizio.") + QLatin1Char('|')
                        + text("Ripetere l'aggiornamento."),
                    QStringLiteral("Ok"), QStringLiteral(" "));
        return false;
    }

    // The inventory describes the installation before anything is extracted.
    if (!inventoryFuture.isFinished()) {
        QFutureWatcher<void> watcher;
        QEventLoop loop;
        connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
        watcher.setFuture(inventoryFuture);
        if (!watcher.isFinished())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
    }

    const bool noRoomOnCard = cardTooSmall(names, kinds);
    // Without a card root the card's folders would resolve inside the PC folder.
    const bool noCard = cardRoot.isEmpty();
    const bool pcCovered = updateScope == 0 || updateScope == 2;
    const bool cardCovered = (updateScope == 1 || updateScope == 2) && !noCard;

    // Everything goes into staging first: ".update_hub" on the card and in
    // the work folder (and beside the notifier's folder); the installation's
    // folders change only in the commit below.
    // One updater at a time works on a card.
    if (cardCovered && !lockCard(cardRoot)) {
        progressBox->close();
        showRunningMessage();
        return false;
    }
    const auto unlockCard = qScopeGuard([this] { releaseCardLock(); });
    // Nothing is staged over a side that an earlier installation left in
    // flight (a card put in again, a card found late): it is mended first.
    if (!recoverInterruptedInstallation()) {
        progressBox->close();
        return false;
    }
    progressBox->setTitle(tx("Attenzione"));
    progressBox->setMessage(tx(" estrazione archivio aggiornamenti in corso... "));
    const auto noRoomMessage = [this]() {
        showMessage(text("Attenzione"),
                    text("Spazio su memory card insufficiente per contenere l'aggiornamento.") + QLatin1Char('|')
                        + text("Inserire la memory card nello strumento ed accenderlo; sarà avviata la procedura di "
                               "cancellazione delle lingue inutilizzate.")
                        + QLatin1Char('|') + text("Al termine ripetere l'aggiornamento."),
                    QStringLiteral("Ok"), QStringLiteral(" "));
    };
    // A stop before anything is written: the message, also in "stati.log".
    const auto refuse = [this](const QString &logged, const std::function<void()> &show) {
        qCDebug(lcApp).noquote() << logged;
        progressBox->close();
        {
            StatusLog log;
            log.write(logged);
        }
        show();
        return false;
    };
    // What goes where once the card's room is known: a card without room
    // gets only the instrument's own software.
    const auto destinationsOf = [&](int k) {
        Destinations to = destinationsFor(names.at(k), kinds.at(k), updateScope);
        if (noRoomOnCard && (!kinds.at(k).isEmpty() || namePrefix(names.at(k)) != QLatin1String("varno_palm")))
            to.card = false;
        to.pc = to.pc && pcCovered;
        to.card = to.card && cardCovered;
        return to;
    };
    // Names the card cannot hold would fail there, for good: refused first.
    for (int k = 0; k < count && cardCovered; ++k) {
        if (!destinationsOf(k).card || !isPlainName(names.at(k)))
            continue;
        const QList<TZipFile::EntryInfo> entries = TZipFile::Entries(workFolder + names.at(k), true);
        for (const TZipFile::EntryInfo &entry : entries) {
            if (CardRules::storableName(entry.path))
                continue;
            const QString &name = names.at(k);
            // "|" separates the lines of a message: shown as a broken bar.
            QString shownEntry = entry.path;
            shownEntry.replace(QLatin1Char('|'), QChar(0x00A6));
            return refuse(QStringLiteral("Pacchetto ") + name + QStringLiteral(": nome di file non valido: ")
                              + entry.path,
                          [&] {
                              showMessage(text("Attenzione"),
                                          tx("Il pacchetto %1 contiene un nome di file non valido per la memory "
                                             "card: %2.")
                                                  .arg(name, shownEntry)
                                              + QLatin1Char('|') + text("Contattare l'assistenza."),
                                          QStringLiteral("Ok"), QStringLiteral(" "));
                          });
        }
    }
    // The room of what is staged, counted in each volume's clusters.
    {
        CardRules::Room cardRoom;
        CardRules::Room pcRoom;
        for (int k = 0; k < count; ++k) {
            const Destinations to = destinationsOf(k);
            if (to.card)
                addArchiveRoom(cardRoom, workFolder + names.at(k), cardFolderFor(kinds.at(k)));
            if (to.pc)
                addArchiveRoom(pcRoom, workFolder + names.at(k),
                               kinds.at(k) == QLatin1String("bbad") ? QStringLiteral("bbad/") : QString());
        }
        addEditedFileRoom(pcRoom, QStringLiteral("syslang.ini"), QStringLiteral("syslang.ini"));
        if (cardCovered) {
            addEditedFileRoom(cardRoom, cardRoot + QStringLiteral("varno/syslang.ini"),
                              QStringLiteral("varno/syslang.ini"));
            addEditedFileRoom(cardRoom, QStringLiteral("language.ini"), QStringLiteral("varno/language.ini"));
            if (exceedsFreeRoom(cardRoom, cardRoot, "card"))
                return refuse(QStringLiteral("Spazio su memory card insufficiente"), noRoomMessage);
        }
        if (pcCovered && exceedsFreeRoom(pcRoom, QStringLiteral("."), "program folder"))
            return refuse(QStringLiteral("Spazio su disco insufficiente"), [this] {
                showMessage(text("Attenzione"),
                            text("Spazio su disco insufficiente per scaricare l'aggiornamento.") + QLatin1Char('|')
                                + text("Liberare spazio e ripetere l'aggiornamento."),
                            QStringLiteral("Ok"), QStringLiteral(" "));
            });
    }

    InstallTransaction transaction;
    transaction.setDecisionRecord(decisionRecord());
    const int pcSide = pcCovered ? transaction.addSide(QStringLiteral("./"), pcStateFolder()) : -1;
    const int cardSide = cardCovered ? transaction.addSide(cardRoot, cardRoot + QStringLiteral(".update_hub/")) : -1;
    int notifierSide = -1;
    QStringList installed;
    // The message that names the cause of a failure on the card.
    const auto cardTrouble = [&](const QString &logged, const QString &lines) {
        return refuse(logged, [&] { showMessage(text("Attenzione"), lines, QStringLiteral("Ok"), QStringLiteral(" ")); });
    };
    const auto causeOnCard = [&](CardFault fault, bool readBack, const QString &name) {
        switch (fault) {
        case CardFault::Removed:
            return cardTrouble(QStringLiteral("Memory card rimossa"),
                               text("La memory card è stata rimossa durante l'aggiornamento.") + QLatin1Char('|')
                                   + text("Reinserire la memory card e riavviare il programma: l'aggiornamento "
                                          "verrà completato o annullato."));
        case CardFault::Full:
            return refuse(QStringLiteral("Spazio su memory card insufficiente"), noRoomMessage);
        case CardFault::WriteProtected:
            return cardTrouble(QStringLiteral("SD Card protetta da scrittura"), text("SD Card protetta da scrittura."));
        case CardFault::None:
            break;
        }
        if (readBack)
            return cardTrouble(QStringLiteral("Memory card: lettura diversa dai dati scritti"),
                               text("La memory card non ha restituito i dati scritti.") + QLatin1Char('|')
                                   + text("Ripetere l'aggiornamento; se si ripete, sostituire la memory card."));
        return failedExtraction(name);
    };
    // A failed extraction or a cancel undoes everything staged so far. What
    // became of the card is looked at first, while the staging is still there.
    const auto undo = [&](const QString &name, bool readBack = false) {
        const CardFault fault = cardCovered && !cancelPending ? cardFault(cardRoot, cardIdentity) : CardFault::None;
        transaction.rollback();
        return cancelPending ? cancelInstallation() : causeOnCard(fault, readBack, name);
    };
    const auto cancelled = [&]() {
        transaction.rollback();
        return cancelInstallation();
    };
    for (int k = 0; k < count; ++k) {
        extractFileCount = count;
        extractFileIndex = k;
        const QString &name = names.at(k);
        const QString &kind = kinds.at(k);
        const QString archive = workFolder + name;
        if (!isPlainName(name))
            return undo(name);

        Destinations to = destinationsFor(name, kind, updateScope);
        // A card without room gets only the instrument's own software.
        if (noRoomOnCard && (!kind.isEmpty() || namePrefix(name) != QLatin1String("varno_palm")))
            to.card = false;

        if (to.notifier) {
            killProcess(QStringLiteral("OVUpdateNotify.exe"));
            killProcess(QStringLiteral("ov_update_evo.exe"));
            const QString folder = Platform::orvaneFolder();
            QDir().mkpath(folder);
            if (notifierSide < 0)
                notifierSide = transaction.addSide(folder, folder + QStringLiteral(".update_hub/"));
            if (!transaction.stageArchive(notifierSide, archive, QStringLiteral("ov_update_notify/"), name, notifier))
                return undo(name);
        }
        const QString pcFolder = kind == QLatin1String("bbad") ? QStringLiteral("bbad/") : QString();
        if (to.pc && !transaction.stageArchive(pcSide, archive, pcFolder, name, notifier))
            return undo(name);
        if (to.card && noCard)
            return undo(name);
        if (to.card && !transaction.stageArchive(cardSide, archive, cardFolderFor(kind), name, notifier))
            return undo(name);
        if (to.notifier || to.pc || to.card)
            installed << name;
        QCoreApplication::processEvents();
        if (cancelPending)
            return cancelled();
        progressBox->show();
    }

    // The files that name the installed releases belong to the same commit.
    const QString syslangName = QStringLiteral("syslang.ini");
    const QString cardSyslang = QStringLiteral("varno/syslang.ini");
    const QString pcSyslang = pcSide >= 0 ? transaction.prepareFile(pcSide, syslangName, true) : QString();
    // A card without room keeps its old language files.
    const QString cardSyslangStaged
        = cardSide >= 0 && !noRoomOnCard ? transaction.prepareFile(cardSide, cardSyslang, true) : QString();
    if ((pcSide >= 0 && pcSyslang.isEmpty()) || (cardSide >= 0 && !noRoomOnCard && cardSyslangStaged.isEmpty()))
        return undo(syslangName);
    // A version is recorded when every archive behind it was installed. A
    // package that carries no record of them is one answer: each of its
    // versions waits for every archive that this run had to install.
    const auto recorded = [&](const QString &section, const QString &key) {
        if (valueEntries)
            return valueEntries->broughtAbout(section, key, installed);
        for (int k = 0; k < count; ++k) {
            const Destinations to = destinationsFor(names.at(k), kinds.at(k), updateScope);
            if ((to.notifier || to.pc || to.card) && !installed.contains(names.at(k)))
                return false;
        }
        return true;
    };
    // A manual run knows no redirection: its package names its databases
    // by their versions in its own "syslang.ini".
    QStringList recordedFolders = databaseFolders;
    if (manualUpdate) {
        TIniFiles work(QStringLiteral("work/syslang.ini"), false);
        QStringList sections;
        work.sectionNames(sections);
        for (const QString &section : std::as_const(sections)) {
            if (work.hasValue(section, QStringLiteral("version"))
                && !recordedFolders.contains(section, Qt::CaseInsensitive))
                recordedFolders << section;
        }
    }
    LanguageFiles::recordInstalledVersionsInto(QStringLiteral("./work/syslang.ini"), productIds,
                                               recordedFolders, pcSyslang, cardSyslangStaged, recorded);
    if (!pcSyslang.isEmpty() && QFileInfo::exists(pcSyslang) && !transaction.stageFile(pcSide, syslangName, syslangName))
        return undo(syslangName);
    if (!cardSyslangStaged.isEmpty() && QFileInfo::exists(cardSyslangStaged)
        && !transaction.stageFile(cardSide, cardSyslang, syslangName))
        return undo(syslangName);
    if (updateScope == 2 && cardSide >= 0) {
        const QString languageName = QStringLiteral("language.ini");
        const QString staged = transaction.prepareFile(cardSide, QStringLiteral("varno/language.ini"), false);
        const bool copied = !staged.isEmpty() && QFile::copy(QStringLiteral("./language.ini"), staged)
            && transaction.stageFile(cardSide, QStringLiteral("varno/language.ini"), languageName);
        qCDebug(lcApp) << "Copia language.ini su card:" << copied;
    }

    // Reading every staged file back and the commit take seconds for a large
    // update: they run beside the event loop, which keeps the window alive.
    if (!runResponsive([&transaction] { return transaction.verify(); })) {
        if (cancelPending)
            return cancelled();
        const bool onCard = cardCovered
            && transaction.failedRoot() == QDir::cleanPath(QDir(cardRoot).absolutePath()) + QLatin1Char('/');
        return undo(transaction.failedLabel(), onCard);
    }
    QCoreApplication::processEvents();
    if (cancelPending)
        return cancelled();
    // From here the installation completes: a cancel is no longer taken, so
    // a commit is never left half done.
    cancelStage = CancelStage::Finishing;
    // Writing the journals reads every file a move replaces (its size and
    // CRC-32 go into them): beside the event loop too.
    if (!runResponsive([&transaction] { return transaction.writeJournal(); }))
        return undo(transaction.failedLabel());
    // A move that fails is undone with those before it.
    if (!runResponsive([&transaction] { return transaction.commit(); }))
        return causeOnCard(cardCovered ? cardFault(cardRoot, cardIdentity) : CardFault::None, false,
                           transaction.failedLabel());
    progressBox->close();

    filesIntact = true;
    TWaitBox waitBox(this);
    waitBox.showNow();
    filesIntact = checkFileInventory();

    StatusLog log;
    log.line(" : update sys file\n");
    listCommunications();
    log.line(" : load mails\n");

    if (noRoomOnCard) {
        waitBox.close();
        log.close();
        noRoomMessage();
        setStep(0);
        return false;
    }

    // The diagnostic tool's setup runs once; its marker file keeps it from running again.
    const QString setup = QStringLiteral("setup_diagnostictool.exe");
    const QString setupMarker = QStringLiteral("driver_diagnostictool");
    if (QFileInfo::exists(setup) && !QFileInfo::exists(setupMarker)) {
        Platform::startProgram(QFileInfo(setup).absoluteFilePath());
        TIniFiles marker(setupMarker, false);
        marker.writeString(QStringLiteral("driver"), QStringLiteral("diagnostictool"), QStringLiteral("true"));
        marker.sync();
    }

    recordVersionReport();
    log.line(" : write database\n");
    recordInstalledVersions(softwareFolder);
    log.line(" : registry edit\n");

    const QString notifierProgram = Platform::orvaneFolder() + QStringLiteral("ov_update_notify/OVUpdateNotify.exe");
    if (windowsVistaOrLater && QFileInfo::exists(notifierProgram)) {
        Platform::startProgram(notifierProgram);
        log.line(" : balloon launch\n");
    }

    waitBox.close();
    log.line(" : close wait message\n");
    setStep(3);
    log.line(" : switch step four\n");
    log.close();
    return true;
}

QString MainWindow::pcStateFolder()
{
    return QStringLiteral("work/.update_hub/");
}

QString MainWindow::decisionRecord()
{
    return pcStateFolder() + QStringLiteral("decisions");
}

bool MainWindow::recoverInterruptedInstallation()
{
    using Recovery = InstallTransaction::Recovery;
    const QString folder = Platform::orvaneFolder();
    const QString card = cardRoot;
    // Finishing a large commit on a slow card takes a while: after a second
    // the progress window says what happens, and the event loop keeps the
    // windows painted meanwhile.
    QTimer slow;
    slow.setSingleShot(true);
    connect(&slow, &QTimer::timeout, this, [this] {
        progressBox->setTitle(tx("Attenzione"));
        progressBox->setMessage(tx("Ripristino della memory card..."));
        progressBox->show();
    });
    slow.start(1000);
    QList<Recovery> outcomes;
    runResponsive([&outcomes, folder, card] {
        // The download cache of the work folder is no part of an installation.
        outcomes << InstallTransaction::recover(QStringLiteral("./"), pcStateFolder(), { QStringLiteral("downloads") },
                                                decisionRecord());
        outcomes << InstallTransaction::recover(folder, folder + QStringLiteral(".update_hub/"), {}, decisionRecord());
        if (!card.isEmpty())
            outcomes << InstallTransaction::recover(card, card + QStringLiteral(".update_hub/"), {}, decisionRecord());
        return true;
    });
    if (!slow.isActive())
        progressBox->close();
    slow.stop();
    if (outcomes.count(Recovery::Nothing) == outcomes.size())
        return true;
    qCDebug(lcApp) << "interrupted installation recovered:" << int(outcomes.value(0)) << int(outcomes.value(1))
                   << int(outcomes.value(2));
    if (outcomes.contains(Recovery::Failed)) {
        // Left as it is: a later start or card search tries again, and no
        // installation starts over it meanwhile.
        showMessage(text("Attenzione"),
                    text("La memory card non può essere riportata a uno stato coerente.") + QLatin1Char('|')
                        + text("Non rimuovere la memory card e contattare l'assistenza."),
                    QStringLiteral("Ok"), QStringLiteral(" "));
        return false;
    }
    showMessage(text("Attenzione"),
                text("L'ultimo aggiornamento si è interrotto.") + QLatin1Char('|')
                    + text("La memory card è stata riportata a uno stato coerente."),
                QStringLiteral("Ok"), QStringLiteral(" "));
    return true;
}
