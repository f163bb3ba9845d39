// The account step of an online run: maintenance check, login and the
// customer data table, the language page and the two support buttons.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/uitext.h"
#include "language/languagefiles.h"
#include "service/deployment.h"
#include "service/serviceanswers.h"
#include "service/thttp.h"
#include "settings/tinifiles.h"
#include "ui/tmessagebox.h"
#include "ui/twaitbox.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTableWidgetItem>
#include <QUrl>

Q_DECLARE_LOGGING_CATEGORY(lcApp)

namespace {

struct CustomerField
{
    const char *name;        // field name in the login answer
    const char *description; // column 0
    bool translated;
};

const CustomerField customerFields[] = {
    {"SN", "Serial Number", false},
    {"RAGIONE SOCIALE", "Ragione Sociale", true},
    {"CELLULARE", "Sms", true},
    {"E-MAIL", "E-Mail", true},
    {"RIVENDITORE", "Login Orvane", true},
};

// The values go back by the field name of the login answer, whatever row
// the answer put them in.
struct SentField
{
    const char *name;  // field name in the login answer
    const char *field; // name of the update request
};
const SentField sentFields[]
    = {{"RAGIONE SOCIALE", "ragione_sociale"}, {"CELLULARE", "cellulare"}, {"E-MAIL", "email"}, {"RIVENDITORE", "rivenditore"}};

// Column 0 carries the field name of its row.
constexpr int fieldNameRole = Qt::UserRole;

// A language list names its languages by count; a broken count must not make
// the page loop for ever.
constexpr int maxListedLanguages = 1000;

} // namespace

bool MainWindow::fetchCustomerInformation(TWaitBox &waitBox)
{
    waitBox.showNow();

    const QString code = ServiceAnswers::accountCode(ui->lineEditPassword->text());
    QString answer = httpClient->getText(QStringLiteral("/files/varnohub/newblocksite.asp?password=")
                                         + ServiceAnswers::queryValue(code));
    qCDebug(lcApp) << answer;
    if (answer.contains(QStringLiteral("FILE NOT EXISTS"))) {
        waitBox.close();
        showMessage(text("Attenzione"),
                    text("Il server è in manutenzione per nuovi aggiornamenti.|Riprovare tra qualche ora."),
                    QStringLiteral("Ok"), QStringLiteral("\n\n"));
        return false;
    }

    answer = httpClient->login(ui->lineEditPassword->text());
    qCDebug(lcApp) << answer;
    if (answer.contains(QStringLiteral("NO USER FOUND"))) {
        waitBox.close();
        showMessage(text("Attenzione"), text("Password non valida"), QStringLiteral("Ok"), QStringLiteral(" "));
        return false;
    }
    // An empty answer means the login never arrived (the status would still be
    // the one of an earlier request): that is a connection failure too.
    if (!httpClient->answeredOk() || answer.isEmpty()) {
        waitBox.close();
        showConnectionMessage();
        return false;
    }

    const QStringList parts = answer.split(QStringLiteral("\r\n"));
    qCDebug(lcApp) << parts;
    QTableWidget *table = ui->tableWidgetInfo;
    table->clear();
    table->setColumnCount(2);
    table->setRowCount(int(parts.size()) - 1);
    int row = 0;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QString &part = parts.at(i);
        const qsizetype equals = part.indexOf(QLatin1Char('='));
        const QString name = equals < 0 ? part : part.left(equals);
        for (const CustomerField &field : customerFields) {
            if (name != QLatin1String(field.name))
                continue;
            auto *description = new QTableWidgetItem(field.translated ? tx(field.description) : text(field.description));
            description->setFlags(description->flags() & ~Qt::ItemIsEditable);
            description->setData(fieldNameRole, QLatin1String(field.name));
            table->setItem(row, 0, description);
            QString value = part;
            value.remove(name + QLatin1Char('='));
            table->setItem(row, 1, new QTableWidgetItem(value));
            ++row;
            break;
        }
    }
    table->setRowCount(row);
    table->setHorizontalHeaderLabels({tx("Descrizione"), tx("Valore")});
    waitBox.close();
    return true;
}

void MainWindow::on_tbOkInfo_clicked()
{
    if (isBusy())
        return;
    WorkScope work(this);
    TWaitBox waitBox(this);
    waitBox.showNow();

    const QTableWidget *table = ui->tableWidgetInfo;
    for (const SentField &sent : sentFields) {
        // A field the service did not report is not sent: an empty value would
        // erase the customer's data on the service.
        const QTableWidgetItem *item = nullptr;
        for (int row = 0; row < table->rowCount() && !item; ++row) {
            const QTableWidgetItem *name = table->item(row, 0);
            if (name && name->data(fieldNameRole).toString() == QLatin1String(sent.name))
                item = table->item(row, 1);
        }
        if (!item)
            continue;
        const QString value = item->text();
        const QString answer
            = httpClient->updateUserData(ui->lineEditPassword->text(), QLatin1String(sent.field), value);
        if (!answer.contains(QStringLiteral("UPDATED"))) {
            waitBox.close();
            showConnectionMessage();
            return;
        }
    }

    enterLanguagePage();
    waitBox.close();
    setStep(1);
}

void MainWindow::enterLanguagePage()
{
    ui->cbSelLingua1->clear();
    ui->cbDefaultLingua1->clear();
    if (QFile::exists(QStringLiteral("./language_list.ini"))) {
        TIniFiles list(QStringLiteral("./language_list.ini"), true);
        const int count = qMin(list.readInt(QStringLiteral("list"), QStringLiteral("count"), 10, 0), maxListedLanguages);
        for (int i = 0; i < count; ++i) {
            const QString index = QString::number(i);
            const QString name = LanguageFiles::readDisplayName(list, QStringLiteral("list"),
                                                                QStringLiteral("language_description_") + index,
                                                                QStringLiteral("language_unicode_") + index);
            const QString id = list.readString(QStringLiteral("list"), QStringLiteral("language_id_") + index, QString());
            ui->cbSelLingua1->addItem(name, id);
            ui->cbDefaultLingua1->addItem(name, id);
        }
    }

    const QString languageFile
        = updateScope == 1 ? cardRoot + QStringLiteral("varno/language.ini") : QStringLiteral("language.ini");
    QString currentId;
    QString reserveId;
    {
        TIniFiles languages(languageFile, false);
        currentId = LanguageFiles::currentLanguageId(languages, 0);
        reserveId = LanguageFiles::reserveLanguageId(languages);
    }
    ui->cbSelLingua1->setCurrentIndex(ui->cbSelLingua1->findData(currentId, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive));
    ui->cbDefaultLingua1->setCurrentIndex(
        ui->cbDefaultLingua1->findData(reserveId, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive));

    ui->lblSelezioneLinguaTitle->setText(tx("Selezione lingua"));
    ui->lblSelectLinguaTitle1->setText(tx("Selezione lingua"));
    ui->lblSelLingua1->setText(tx("Lingua di visualizzazione"));
    ui->lblDefaultLingua1->setText(tx("Lingua di default"));
    // One choice applies to every vehicle family.
    ui->frameDiag2->hide();
    ui->lblSelectLinguaTitle2->hide();
    ui->frameDiag3->hide();
    ui->lblSelectLinguaTitle3->hide();
    setStep(1);
}

void MainWindow::on_tbTeamViewer_clicked()
{
    if (isBusy())
        return;
    QDesktopServices::openUrl(QUrl(QStringLiteral("http://") + QLatin1String(Deployment::supportDownloadHost)
                                   + QStringLiteral("/it/get_cat/TeamViewerQS.exe")));
}

void MainWindow::on_tbSegnalazioni_clicked()
{
    if (isBusy())
        return;
    const QString mailbox = QLatin1String(Deployment::supportMailbox);
    const QString link = QStringLiteral("<a href=\"mailto:") + mailbox + QStringLiteral("\"><font color=\"#FBBD01\">")
        + mailbox + QStringLiteral("</font></a>");
    const QString message = QStringLiteral("<br/>Gentile Cliente, in caso di segnalazioni invia una e-mail a: ") + link
        + QStringLiteral("<br/><br/>") + QStringLiteral("Dear Customer, in case of needs please send an e-mail to: ")
        + link;
    TMessagebox box(this, 1);
    box.setTitle(tx("Attenzione"));
    box.setMessage(message, Qt::TextBrowserInteraction);
    box.exec();
}
