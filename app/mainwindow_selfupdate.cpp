// The start of an online run: the customization redirection, the language
// lists, and the updater's own replacement when the service has a newer one.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/uitext.h"
#include "archive/tzipfile.h"
#include "platform/platform.h"
#include "service/thttp.h"
#include "ui/tmessagebox.h"
#include "ui/twaitbox.h"
#include "ui/tprogressbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <cmath>

Q_DECLARE_LOGGING_CATEGORY(lcApp)

namespace {

const char servicePathRoot[] = "/files/varnohub/";

void quitApplication(int code)
{
    QCoreApplication::exit(code);
}

} // namespace

void MainWindow::setProcessExitHandler(void (*handler)(int))
{
    processExitHandler() = handler;
}

void (*&MainWindow::processExitHandler())(int)
{
    static void (*handler)(int) = quitApplication;
    return handler;
}

bool MainWindow::loadServiceRedirection()
{
    TWaitBox waitBox(this);
    waitBox.showNow();

    const QString answer = httpClient->getCustomRedirection();
    if (!httpClient->answeredOk()) {
        waitBox.close();
        showConnectionMessage();
        return false;
    }

    // Eight fields; a shorter answer counts its missing fields as empty.
    redirectionFields = answer.split(QLatin1Char(';'));
    while (redirectionFields.size() < 8)
        redirectionFields << QString();
    for (int i = 0; i <= 4; ++i) {
        if (redirectionFields.at(i).isEmpty()) {
            waitBox.close();
            showConnectionMessage();
            return false;
        }
    }
    softwareFolder = redirectionFields.at(0);
    databaseFolders.clear();
    if (!redirectionFields.at(6).isEmpty())
        databaseFolders = redirectionFields.at(6).split(QLatin1Char('|'));

    const QString listFolder = QLatin1String(servicePathRoot) + redirectionFields.at(1)
        + QStringLiteral("/update_software_varno_update/");
    for (const char *name : {"language_list.ini", "language_listmoto_files.ini", "language_listtruck_files.ini"})
        httpClient->getToFile(listFolder + QLatin1String(name), QLatin1String(name));

    waitBox.close();
    return true;
}

bool MainWindow::checkUpdaterUpdate()
{
    TWaitBox waitBox(this);
    waitBox.showNow();

    const bool newer = httpClient->isUpdaterNewer(updaterVersion().toDouble());
    if (!newer) {
        if (httpClient->answeredOk())
            return true;
        waitBox.close();
        showConnectionMessage();
        return false;
    }

    const bool inventoryWasStarted = inventoryStarted();
    inventoryStop = true;
    inventoryFuture.waitForFinished();

    waitBox.close();
    showMessage(text("Attenzione"), text("E' presente un aggiornamento del software.|Premere ok per continuare."),
                QStringLiteral("Ok"), QStringLiteral(" "));

    progressBox->setTitle(tx("Software Update"));
    progressBox->setMessage(tx("download aggiornamenti in corso..."));
    progressBox->show();
    cancelStage = CancelStage::Cancellable;
    const bool complete = httpClient->getToFile(QLatin1String(servicePathRoot) + redirectionFields.value(1)
                                                    + QStringLiteral("/update_software_varno_update/pc/update_hub.exe"),
                                                QStringLiteral("update_hub.exe"));
    cancelStage = CancelStage::Idle;
    progressBox->close();
    if (cancelPending) {
        // Stopped by the user: back to the logo page, without a word. What
        // arrived of the new updater is no program; the inventory stopped for
        // the download runs again, as the updater goes on.
        cancelPending = false;
        httpClient->resetCancel();
        notifier->resetCancel();
        QFile::remove(QStringLiteral("update_hub.exe"));
        if (inventoryWasStarted)
            startInventory();
        ui->stackedWidget->setCurrentIndex(0);
        return false;
    }

    // Only a program that says it is newer is started: an error page, a cut
    // file or the same version again would start a self-update at every run.
    const QString program = QStringLiteral("update_hub.exe");
    if (complete && httpClient->answeredOk()) {
        const QString version = embeddedVersion(program);
        if (isNewerUpdater(version)) {
            const QString folder = QDir::toNativeSeparators(QDir::currentPath());
            if (Platform::startProgram(program, {QStringLiteral("DIR=") + folder})) {
                closeNow = true;
                close();
                processExitHandler()(0);
                return false;
            }
        } else {
            qCDebug(lcApp) << "downloaded updater has version" << version << "- not newer than" << updaterVersion();
            QFile::remove(program);
        }
    }
    // The updater goes on running: its inventory is needed again.
    if (inventoryWasStarted)
        startInventory();
    showConnectionMessage();
    return false;
}

bool MainWindow::isNewerUpdater(const QString &version)
{
    // Four characters of a version number; anything else (cut, garbage) is no version.
    bool ok = false;
    const double number = version.toDouble(&ok);
    return version.size() == 4 && ok && std::isfinite(number) && number > updaterVersion().toDouble();
}
