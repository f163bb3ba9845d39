// The service communications on the updates-done page: listing, read marks
// and opening a communication in the system's viewer.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "update/communications.h"
#include "app/uitext.h"

#include <QDesktopServices>
#include <QTableWidget>
#include <QTableWidgetItem>

// ---- service communications

QString MainWindow::communicationsFolder() const
{
    return Communications::folder(selectedLanguageId, updateScope == 1, cardRoot);
}

QString MainWindow::readMailsPath() const
{
    return Communications::readMailsFile(updateScope == 1, cardRoot);
}

void MainWindow::listCommunications()
{
    communicationFiles.clear();
    const QList<Communications::Entry> entries = Communications::list(communicationsFolder(), readMailsPath());

    QTableWidget *table = ui->tableWidgetInformativaService;
    table->clearContents();
    table->setRowCount(int(entries.size()));
    table->setColumnCount(2);
    for (int row = 0; row < entries.size(); ++row) {
        const Communications::Entry &entry = entries.at(row);
        communicationFiles << entry.fileName;
        auto *date = new QTableWidgetItem(entry.dateCell);
        date->setFlags(date->flags() & ~Qt::ItemIsEditable);
        auto *subject = new QTableWidgetItem(entry.subject);
        subject->setFlags(subject->flags() & ~Qt::ItemIsEditable);
        table->setItem(row, 0, date);
        table->setItem(row, 1, subject);
    }
    table->setHorizontalHeaderLabels({ tx("Data"), tx("Oggetto") });
}

void MainWindow::on_tbInfo_clicked()
{
    if (isBusy())
        return;
    WorkScope work(this);
    endManualMode();
    manualUpdate = false;

    ui->lblAggEffettuatiTitle->setText(tx("Aggiornamenti effettuati"));
    ui->lblInformativaService->setText(tx("Questa lista contiene le comunicazioni del service.") + QLatin1Char(' ')
                                       + tx("Fare doppio click sulla comunicazione per visualizzarla."));
    listCommunications();
    ui->stackedWidget->setCurrentIndex(1); // pageStepDownload
    setStep(3);
}

void MainWindow::on_tableWidgetInformativaService_cellDoubleClicked(int row, int /*column*/)
{
    if (isBusy())
        return;
    // The table may have been refilled since; a row without a file does nothing.
    if (row < 0 || row >= communicationFiles.size())
        return;
    const QString fileName = communicationFiles.at(row);
    Communications::markRead(readMailsPath(), fileName);
    if (QTableWidgetItem *date = ui->tableWidgetInformativaService->item(row, 0))
        date->setText(Communications::withoutNewMark(date->text()));
    QDesktopServices::openUrl(Communications::address(communicationsFolder(), fileName));
}
