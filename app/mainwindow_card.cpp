// The instrument's card: search among the removable drives, write test, and
// the background inventory of the files an installation must not lose.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "update/fileinventory.h"
#include "update/installtransaction.h"
#include "app/uitext.h"
#include "platform/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QScopeGuard>
#include <QSysInfo>
#include <QLoggingCategory>
#include <QtConcurrent>

Q_DECLARE_LOGGING_CATEGORY(lcApp)

QString MainWindow::findCardRoot()
{
    const QStringList roots = Platform::driveRoots();
    QStringList removable;
    for (const QString &root : roots) {
        if (Platform::isRemovableDrive(root))
            removable << root;
    }

    QString found;
    for (const QString &root : std::as_const(removable)) {
        // A reader without a medium fails its volume query; it gets ten tries.
        bool readable = false;
        for (int attempt = 0; attempt < 10 && !readable; ++attempt)
            readable = Platform::queryVolume(root);
        if (!readable)
            continue;
        // Another removable drive (a memory stick, say) may come first: keep
        // looking until a drive carries the card's signature.
        if (hasCardSignature(root) || InstallTransaction::inFlight(root + QStringLiteral(".update_hub/"))) {
            found = root;
            break;
        }
    }
    qCDebug(lcApp) << "card root:" << found;
    return found;
}

bool MainWindow::hasCardSignature(const QString &root)
{
    return QFile::exists(root + QStringLiteral("varno/main")) && QDir(root + QStringLiteral("qte")).exists();
}

bool MainWindow::locateCard(bool atStartUp)
{
    const QString found = findCardRoot();
    if (found.isEmpty()) {
        cardRoot.clear();
        // The PC side of an interrupted installation is mended all the same.
        recoverInterruptedInstallation();
        showCardMissingMessage();
        return false;
    }
    // One updater per card: a second one, from another program folder,
    // would recover, stage and commit over the first one's work.
    if (!lockCard(found)) {
        cardRoot.clear();
        refused = atStartUp;
        showRunningMessage();
        return false;
    }
    const auto unlock = qScopeGuard([this] { releaseCardLock(); });
    cardRoot = found;
    if (!recoverInterruptedInstallation())
        return false;
    // After the recovery, the usual rules: a card in flight that is not the
    // instrument's card is no card.
    if (!hasCardSignature(cardRoot)) {
        cardRoot.clear();
        releaseCardLock();
        showCardMissingMessage();
        return false;
    }
    return true;
}

bool MainWindow::lockCard(const QString &root)
{
    // Held only while the card is worked on: an open file on the card would
    // keep the system from ejecting or remounting it between runs.
    releaseCardLock();
    const QString stateFolder = root + QStringLiteral(".update_hub/");
    cardLock = lockStateFolder(stateFolder);
    if (!cardLock) {
        // This updater holds no card lock here, so a lock of its own on the
        // card was left when the card was pulled out while locked: the card
        // put in again is taken back, and its recovery can run.
        QLockFile left(stateFolder + QStringLiteral("update_hub.lock"));
        qint64 pid = 0;
        QString host;
        QString application;
        if (!left.getLockInfo(&pid, &host, &application) || pid != QCoreApplication::applicationPid()
            || host != QSysInfo::machineHostName() || !left.removeStaleLockFile())
            return false;
        cardLock = lockStateFolder(stateFolder);
        if (!cardLock)
            return false;
    }
    cardLockRoot = root;
    return true;
}

void MainWindow::releaseCardLock()
{
    if (!cardLock)
        return;
    cardLock.reset();
    QDir().rmdir(cardLockRoot + QStringLiteral(".update_hub")); // only when empty
    cardLockRoot.clear();
}

bool MainWindow::testCardWritable()
{
    QFile probe(cardRoot + QStringLiteral("test.write"));
    const bool opened = probe.open(QIODevice::ReadWrite);
    if (!opened || !probe.isWritable()) {
        showMessage(text("Attenzione"), text("SD Card protetta da scrittura."), QStringLiteral("Ok"),
                    QStringLiteral(" "));
        return false;
    }
    probe.remove();
    probe.close();
    return true;
}

InventoryInput MainWindow::inventoryInput() const
{
    InventoryInput input;
    input.walkPc = updatePc == 1;
    input.walkCard = updatePalm == 1;
    input.pcRoot = QStringLiteral(".");
    input.cardRoot = cardRoot;
    input.languageId = selectedLanguageId;
    return input;
}

void MainWindow::startInventory()
{
    // The task gets copies of what it reads: a new card search or the language
    // page may change the members while it runs.
    const InventoryInput input = inventoryInput();
    inventoryStop = false;
    inventoryRunning = true;
    inventoryFuture = QtConcurrent::run([this, input]() { fileInventory = FileInventory::build(input, inventoryStop); });
}

void MainWindow::buildFileInventory()
{
    fileInventory = FileInventory::build(inventoryInput(), inventoryStop);
}

bool MainWindow::checkFileInventory()
{
    // The inventory describes the installation before the update: wait for it.
    inventoryFuture.waitForFinished();
    missingFiles = FileInventory::missingFiles(fileInventory);
    return missingFiles.isEmpty();
}
