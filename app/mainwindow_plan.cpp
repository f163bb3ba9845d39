// The planning step of an online run (tbOkSelezionaLingua): the plan itself is
// UpdatePlanner's; the window supplies its inputs and shows the outcome.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/uitext.h"
#include "update/updateplanner.h"
#include "language/ttranslator.h"
#include "platform/platform.h"
#include "ui/twaitbox.h"

#include <QLabel>
#include <QLoggingCategory>
#include <QTextEdit>

Q_DECLARE_LOGGING_CATEGORY(lcApp)

void MainWindow::on_tbOkSelezionaLingua_clicked()
{
    if (isBusy())
        return;
    WorkScope work(this);
    TWaitBox waitBox(this);
    waitBox.showNow();

    PlanInput input;
    input.updateScope = updateScope;
    input.cardRoot = cardRoot;
    input.softwareFolder = softwareFolder;
    input.databaseFolders = databaseFolders;
    input.accountCode = ui->lineEditPassword->text();
    input.selectedLanguageId = ui->cbSelLingua1->currentData().toString();
    input.reserveLanguageId = ui->cbDefaultLingua1->currentData().toString();
    input.selectedDescription = ui->cbSelLingua1->currentText();
    input.reserveDescription = ui->cbDefaultLingua1->currentText();

    UpdatePlanner planner(*httpClient, &MainWindow::embeddedVersion);
    const PlanResult plan = planner.run(input);
    if (!plan.ok) {
        qCDebug(lcApp).noquote() << "update plan stopped:" << plan.failedAt;
        waitBox.close();
        showConnectionMessage();
        return;
    }

    selectedLanguageId = input.selectedLanguageId;
    cardIdentity = cardRoot.isEmpty() ? QString() : Platform::volumeIdentity(cardRoot);
    reserveLanguageId = input.reserveLanguageId;
    productIds = plan.productIds;
    downloadList = plan.downloadList;
    downloadSizes = plan.downloadSizes;
    totalDownloadSize = plan.totalDownloadSize;

    // One block per product slot; the service may report fewer than three.
    QLabel *const names[] = { ui->lblRelDiagInfo1, ui->lblRelDiagInfo2, ui->lblRelDiagInfo3 };
    QWidget *const frames[] = { ui->frmRelDiagInfo1, ui->frmRelDiagInfo2, ui->frmRelDiagInfo3 };
    QTextEdit *const diagnosis[] = { ui->textRelDiag1, ui->textRelDiag2, ui->textRelDiag3 };
    QTextEdit *const information[] = { ui->textRelInfo1, ui->textRelInfo2, ui->textRelInfo3 };
    for (int slot = 0; slot < 3; ++slot) {
        const bool used = slot < plan.diagnosisTexts.size();
        names[slot]->setVisible(used);
        frames[slot]->setVisible(used);
        if (!used)
            continue;
        names[slot]->setText(TTranslator::instance()->translate(plan.productNames.at(slot)));
        diagnosis[slot]->setPlainText(plan.diagnosisTexts.at(slot));
        information[slot]->setPlainText(plan.informationTexts.at(slot));
    }

    waitBox.close();
    setStep(2);
}
