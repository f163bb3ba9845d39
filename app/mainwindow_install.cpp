// The installation run behind tbOkAggiornamentiDisponibili: the download of
// every planned package (online runs), the test and extraction of every archive
// of the work manifest to the PC and to the card, and the follow-up steps,
// each recorded in "stati.log".
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/downloadnames.h"
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
    if (QFile::exists(target))
        QFile::remove(target);
    return QFile::copy(source, target);
}

void MainWindow::updateSystemLanguageFiles()
{
    const bool pc = updateScope == 0 || updateScope == 2;
    const bool card = updateScope == 1 || updateScope == 2;
    LanguageFiles::recordInstalledVersions(QStringLiteral("./work/syslang.ini"), productIds, databaseFolders, pc,
                                           card, cardRoot);
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
    // A dated copy of the work folder, manifest included, stays in the program folder.
    const QString copy = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss"))
        + QStringLiteral(".zip");
    if (!runResponsive([copy] { return TZipFile::ZipDirectory(QStringLiteral("work"), QStringLiteral("work/"), copy, QString()); }))
        qCDebug(lcApp).noquote() << "copy of the work folder failed:" << copy;
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

bool MainWindow::archiveFailure(const QString &text)
{
    qCDebug(lcApp).noquote() << text;
    progressBox->close();
    StatusLog log;
    log.write(text);
    return false;
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
    if (!manualUpdate && !downloadPackages())
        return cancelInstallation();

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
                return archiveFailure(QStringLiteral("Archivio ") + name + QStringLiteral(": Corrotto."));
        }
        QCoreApplication::processEvents();
        progressBox->show();
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
    const QString cardFolder = cardRoot + QStringLiteral("varno/");
    for (int k = 0; k < count; ++k) {
        extractFileCount = count;
        extractFileIndex = k;
        const QString &name = names.at(k);
        const QString &kind = kinds.at(k);
        const QString archive = workFolder + name;
        const QString failure = QStringLiteral("Decompressione del pacchetto ") + name + QStringLiteral(": Fallita.");
        if (!isPlainName(name))
            return archiveFailure(failure);

        Destinations to = destinationsFor(name, kind, updateScope);
        // A card without room gets only the instrument's own software.
        if (noRoomOnCard && (!kind.isEmpty() || namePrefix(name) != QLatin1String("varno_palm")))
            to.card = false;

        if (to.notifier) {
            killProcess(QStringLiteral("OVUpdateNotify.exe"));
            killProcess(QStringLiteral("ov_update_evo.exe"));
            const QString notifierFolder = Platform::orvaneFolder() + QStringLiteral("ov_update_notify/");
            QDir().mkpath(notifierFolder);
            if (!TZipFile::UnzipArchive(archive, notifierFolder, true, QString(), notifier))
                return cancelPending ? cancelInstallation() : archiveFailure(failure);
        }
        const QString pcFolder = kind == QLatin1String("bbad") ? QStringLiteral("bbad/") : QStringLiteral("./");
        if (to.pc && !TZipFile::UnzipArchive(archive, pcFolder, true, QString(), notifier))
            return cancelPending ? cancelInstallation() : archiveFailure(failure);
        const QString cardDestination = kind == QLatin1String("bbad") ? cardFolder + QStringLiteral("bbad/") : cardFolder;
        if (to.card && noCard)
            return archiveFailure(failure);
        if (to.card && !TZipFile::UnzipArchive(archive, cardDestination, true, QString(), notifier))
            return cancelPending ? cancelInstallation() : archiveFailure(failure);
        QCoreApplication::processEvents();
        if (cancelPending)
            return cancelInstallation();
        progressBox->show();
    }
    // From here the installation completes: a cancel is no longer taken.
    cancelStage = CancelStage::Finishing;
    progressBox->close();

    filesIntact = true;
    TWaitBox waitBox(this);
    waitBox.showNow();
    filesIntact = checkFileInventory();

    StatusLog log;
    if (noRoomOnCard) {
        // The card keeps its old language files: only the PC side is recorded.
        const bool pc = updateScope == 2;
        if (pc)
            LanguageFiles::recordInstalledVersions(QStringLiteral("./work/syslang.ini"), productIds,
                                                   databaseFolders, true, false, cardRoot);
    } else {
        updateSystemLanguageFiles();
    }
    log.line(" : update sys file\n");
    listCommunications();
    log.line(" : load mails\n");
    if (updateScope == 2) {
        const bool copied = replaceFile(QStringLiteral("./language.ini"), cardFolder + QStringLiteral("language.ini"));
        qCDebug(lcApp) << "Copia language.ini su card:" << copied;
    }

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
