// The installation run behind tbOkAggiornamentiDisponibili: the download of
// every planned package (online runs), the test and extraction of every archive
// of the work manifest to the PC and to the card, and the follow-up steps,
// each recorded in "stati.log".
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "update/downloadnames.h"
#include "update/installtransaction.h"
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

bool MainWindow::downloadPackages()
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
                return false;
            }
            finished += qMax<qint64>(0, size);
        }
    }
    downloadRunActive = false;
    copyWorkFolder();
    progressBox->close();
    return true;
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
    if (updateScope != 1 && updateScope != 2)
        return false;
    qint64 needed = 0;
    for (qsizetype k = 0; k < names.size(); ++k) {
        if (!destinationsFor(names.at(k), kinds.at(k), updateScope).card)
            continue;
        const qint64 size = TZipFile::UncompressedSize(workFolder + names.at(k));
        if (size > 0)
            needed += size;
    }
    // Files replaced in place free their old room again, so this errs on the
    // side of asking for more space than the update strictly needs.
    const qint64 available = Platform::freeSpace(cardRoot);
    qCDebug(lcApp) << "card space: needed" << needed << "available" << available;
    return available >= 0 && needed > available;
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
        if (!downloadPackages())
            return cancelInstallation();
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
            if (!intact)
                return corruptArchive(name);
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

    InstallTransaction transaction;
    transaction.setDecisionRecord(decisionRecord());
    const int pcSide = pcCovered ? transaction.addSide(QStringLiteral("./"), pcStateFolder()) : -1;
    const int cardSide = cardCovered ? transaction.addSide(cardRoot, cardRoot + QStringLiteral(".update_hub/")) : -1;
    int notifierSide = -1;
    QStringList installed;
    // A failed extraction or a cancel undoes everything staged so far.
    const auto undo = [&](const QString &name) {
        transaction.rollback();
        return cancelPending ? cancelInstallation() : failedExtraction(name);
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
        const QString cardFolder = kind == QLatin1String("bbad") ? QStringLiteral("varno/bbad/") : QStringLiteral("varno/");
        if (to.card && !transaction.stageArchive(cardSide, archive, cardFolder, name, notifier))
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
    LanguageFiles::recordInstalledVersionsInto(QStringLiteral("./work/syslang.ini"), productIds, databaseFolders,
                                               pcSyslang, cardSyslangStaged, &installed);
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
        const QString failed = transaction.failedLabel();
        transaction.rollback();
        return failedExtraction(failed);
    }
    QCoreApplication::processEvents();
    if (cancelPending)
        return cancelled();
    // From here the installation completes: a cancel is no longer taken, so
    // a commit is never left half done.
    cancelStage = CancelStage::Finishing;
    // Writing the journals reads every file a move replaces (its size and
    // CRC-32 go into them): beside the event loop too.
    if (!runResponsive([&transaction] { return transaction.writeJournal(); })) {
        transaction.rollback();
        return failedExtraction(transaction.failedLabel());
    }
    // A move that fails is undone with those before it.
    if (!runResponsive([&transaction] { return transaction.commit(); }))
        return failedExtraction(transaction.failedLabel());
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
        showMessage(text("Attenzione"),
                    text("Spazio su memory card insufficiente per contenere l'aggiornamento.") + QLatin1Char('|')
                        + text("Inserire la memory card nello strumento ed accenderlo; sarà avviata la procedura di "
                               "cancellazione delle lingue inutilizzate.")
                        + QLatin1Char('|') + text("Al termine ripetere l'aggiornamento."),
                    QStringLiteral("Ok"), QStringLiteral(" "));
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
