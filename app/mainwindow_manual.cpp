// The manual update: a package zip chosen by the user takes the place of the
// service. It is extracted into "work/", and its own manifest and language file
// fill the available-updates page; the installation then skips its downloads.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/uitext.h"
#include "archive/tzipfile.h"
#include "platform/platform.h"
#include "settings/tinifiles.h"
#include "ui/tprogressbox.h"
#include "ui/twaitbox.h"

#include <QFile>
#include <QFileInfo>
#include <QFileDialog>
#include <QLabel>
#include <QLoggingCategory>
#include <QTextEdit>

Q_DECLARE_LOGGING_CATEGORY(lcApp)

namespace {

/// Writes a failure text at the start of "stati.log" (read-write, not
/// truncated), as the installation does.
void logFailure(const QString &failure)
{
    qCDebug(lcApp).noquote() << failure;
    QFile log(QStringLiteral("stati.log"));
    if (log.open(QIODevice::ReadWrite | QIODevice::Text))
        log.write(failure.toUtf8());
}

} // namespace

bool MainWindow::prepareManualRun(TWaitBox &waitBox)
{
    // A manual run uses the card found at start-up; when there was none, the
    // card side would land in the PC folder instead, so look for it once more.
    if (updatePalm == 1 && cardRoot.isEmpty() && !locateCard())
        return false;

    // The card the installation is planned for.
    cardIdentity = cardRoot.isEmpty() ? QString() : Platform::volumeIdentity(cardRoot);

    const QString package = QFileDialog::getOpenFileName(this, tx("Open File"), QStringLiteral("./"),
                                                         QStringLiteral("(*.zip)"));
    qCDebug(lcApp).noquote() << "manual package:" << package;
    if (package.isEmpty())
        return false;

    progressBox->setTitle(tx("Attenzione"));
    progressBox->setMessage(tx(" estrazione archivio aggiornamenti in corso... "));
    progressBox->show();
    extractFileIndex = 0;
    extractFileCount = 1;
    if (!TZipFile::UnzipArchive(package, QStringLiteral("work/"), true, QString(), notifier)) {
        progressBox->close();
        logFailure(QStringLiteral("Decompressione del pacchetto ") + package + QStringLiteral(": Fallita."));
        return false;
    }
    progressBox->close();
    waitBox.showNow();

    TIniFiles syslang(QStringLiteral("work/syslang.ini"), false);
    const QString group = QStringLiteral("lingua");
    const QString selectedDescription = syslang.readUtf8String(group, QStringLiteral("description_sel"));
    const QString reserveDescription = syslang.readUtf8String(group, QStringLiteral("description_def"));
    const QString selected = syslang.readString(group, QStringLiteral("sel"));
    const QString reserve = syslang.readString(group, QStringLiteral("def"));
    if (selectedDescription.isEmpty() || reserveDescription.isEmpty() || selected.isEmpty() || reserve.isEmpty()) {
        waitBox.close();
        logFailure(QStringLiteral("Pacchetto aggiornamento manuale: Corrotto"));
        return false;
    }

    TIniFiles manifest(QStringLiteral("work/update.ini"), true);
    // A package that names no archive would install nothing and pass as done.
    bool namesArchive = false;
    const int files = manifest.readInt(QStringLiteral("pc_update"), QStringLiteral("num_files"), 10, 0);
    for (int i = 0; i < files && !namesArchive; ++i)
        namesArchive = !manifest.readString(QStringLiteral("pc_update"), QStringLiteral("file_") + QString::number(i))
                            .section(QLatin1Char(':'), 0, 0)
                            .isEmpty();
    if (!QFileInfo(QStringLiteral("work/update.ini")).isFile() || !namesArchive) {
        waitBox.close();
        logFailure(QStringLiteral("Pacchetto aggiornamento manuale: Corrotto"));
        return false;
    }
    const int count = manifest.readInt(QStringLiteral("product"), QStringLiteral("num_product"), 10, 0);
    QStringList ids;
    for (int j = 0; j < count; ++j)
        ids << manifest.readString(QStringLiteral("product"), QStringLiteral("idproduct_") + QString::number(j));
    productIds = ids;

    // Three product slots; a package naming fewer products shows only those.
    QLabel *const captions[] = { ui->lblRelDiagInfo1, ui->lblRelDiagInfo2, ui->lblRelDiagInfo3 };
    QWidget *const frames[] = { ui->frmRelDiagInfo1, ui->frmRelDiagInfo2, ui->frmRelDiagInfo3 };
    QTextEdit *const diagnosis[] = { ui->textRelDiag1, ui->textRelDiag2, ui->textRelDiag3 };
    QTextEdit *const information[] = { ui->textRelInfo1, ui->textRelInfo2, ui->textRelInfo3 };
    auto releases = [&](const QString &releaseGroup, const QString &id) {
        return QStringLiteral("\r\n") + manifest.readString(releaseGroup, id + selected) + QStringLiteral(": ")
            + selectedDescription + QStringLiteral("\r\n") + manifest.readString(releaseGroup, id + reserve)
            + QStringLiteral(": ") + reserveDescription;
    };
    for (int slot = 0; slot < 3; ++slot) {
        const bool used = slot < productIds.size();
        captions[slot]->setVisible(used);
        frames[slot]->setVisible(used);
        if (!used)
            continue;
        const QString &id = productIds.at(slot);
        if (id == QLatin1String("moto_files"))
            captions[slot]->setText(tx("Diagnosi Motoveicoli"));
        else if (id == QLatin1String("truck_files"))
            captions[slot]->setText(tx("Diagnosi Autocarri"));
        else
            captions[slot]->setText(tx("Diagnosi Autoveicoli"));
        diagnosis[slot]->setPlainText(releases(QStringLiteral("pc_update_ad"), id));
        information[slot]->setPlainText(releases(QStringLiteral("pc_update_mit"), id));
    }

    waitBox.close();
    setStep(2);
    return true;
}
