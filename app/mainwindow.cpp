#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/uitext.h"
#include "archive/tzipfile.h"
#include "language/ttranslator.h"
#include "platform/platform.h"
#include "service/serviceanswers.h"
#include "service/thttp.h"
#include "settings/tinifiles.h"
#include "ui/dialogstyle.h"
#include "ui/tlinguabox.h"
#include "ui/tmessagebox.h"
#include "ui/tprogressbox.h"
#include "ui/tproxyloginbox.h"
#include "ui/twaitbox.h"
#include "update/fileinventory.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLockFile>
#include <QLoggingCategory>
#include <QPixmap>
#include <QMouseEvent>
#include <QSettings>
#include <QSysInfo>
#include <QTimer>
#include <QWindow>
#include <QtConcurrent>

Q_LOGGING_CATEGORY(lcApp, "update_hub.app")

namespace {

// Flat scroll bars in the colours of the window.
const char *const scrollBarStyle = R"(
QScrollBar:vertical { border: none; background: rgb(204, 204, 204); width: 15px; margin: 12px 0px 12px 0px; padding: 1px 0px 1px 0px; }
QScrollBar::handle:vertical { background: rgb(113, 113, 113); border-radius: 5px; min-height: 20px; }
QScrollBar::sub-line:vertical { border: none; background: rgb(204, 204, 204); height: 15px; border-top-left-radius: 5px; border-top-right-radius: 5px; subcontrol-position: top; subcontrol-origin: margin; }
QScrollBar::add-line:vertical { border: none; background: rgb(204, 204, 204); height: 15px; border-bottom-left-radius: 5px; border-bottom-right-radius: 5px; subcontrol-position: bottom; subcontrol-origin: margin; }
QScrollBar::up-arrow:vertical { image: url(:/images/img/arrow_menu_scrollbar_up.png); }
QScrollBar::down-arrow:vertical { image: url(:/images/img/arrow_menu_scrollbar_down.png); }
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }
QScrollBar:horizontal { border: none; background: rgb(204, 204, 204); height: 15px; margin: 0px 12px 0px 12px; padding: 0px 1px 0px 1px; }
QScrollBar::handle:horizontal { background: rgb(113, 113, 113); border-radius: 5px; min-width: 20px; }
QScrollBar::sub-line:horizontal { border: none; background: rgb(204, 204, 204); width: 15px; border-top-left-radius: 5px; border-bottom-left-radius: 5px; subcontrol-position: left; subcontrol-origin: margin; }
QScrollBar::add-line:horizontal { border: none; background: rgb(204, 204, 204); width: 15px; border-top-right-radius: 5px; border-bottom-right-radius: 5px; subcontrol-position: right; subcontrol-origin: margin; }
QScrollBar::left-arrow:horizontal { image: url(:/images/img/arrow_menu_scrollbar_left.png); }
QScrollBar::right-arrow:horizontal { image: url(:/images/img/arrow_menu_scrollbar_right.png); }
QScrollBar::add-page:horizontal, QScrollBar::sub-page:horizontal { background: none; }
)";

const char *const currentStepStyle = "QLabel { color: white; }";
const char *const otherStepStyle = "QLabel { color: rgba(155, 155, 155, 255); }";

/// Loads the translation that "language.ini" names for the current language
/// and returns that language's id (empty without the file).
QString loadChosenTranslation()
{
    if (!QFile::exists(QStringLiteral("language.ini")))
        return QString();
    TIniFiles languageIni(QStringLiteral("language.ini"), false);
    const QString current = languageIni.readString(QStringLiteral("selected"), QStringLiteral("currentlanguage"),
                                                   QStringLiteral("1"));
    const QString section = QStringLiteral("lingua") + current;
    const QString file = languageIni.readString(section, QStringLiteral("file"), QString());
    TTranslator::instance()->loadTranslation(QStringLiteral("./") + file);
    return languageIni.readString(section, QStringLiteral("idlingua"), QString());
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    initUiResources();
    // The chosen language's translation, loaded before the form is built so
    // that the form's own texts come out translated too.
    selectedLanguageId = loadChosenTranslation();

    ui->setupUi(this);

    // Each call replaces the flags of the one before: the window ends up frameless.
    setWindowFlags(Qt::MSWindowsFixedSizeDialogHint);
    setWindowFlags(Qt::CustomizeWindowHint);
    setWindowFlags(Qt::FramelessWindowHint);

    ui->labelVersion->setText(QStringLiteral("Ver.") + updaterVersion());
    setWindowIcon(QIcon(QStringLiteral(":/images/img/icon_aster.png")));
    setWindowIconText(QStringLiteral("Update Aster"));
    setWindowTitle(QStringLiteral("Update Aster"));
    ui->labelCenter->setPixmap(QPixmap(QStringLiteral(":/images/img/footer_aster.png")));
    ui->labelLogoRight->setStyleSheet(
        QStringLiteral("QLabel { image: url(:/images/img/bkg_logo_right_aster.png); }"));
    ui->frameVisualizzaInfo->hide();

    httpClient = new THttp(this);
    progressBox = new TProgressBox(this);
    connect(httpClient, &THttp::emitValue, this, &MainWindow::emitValue);
    // A proxy that asks for a login gets it from the user, for this session.
    httpClient->askProxyLogin = [this](const QString &proxy, QString *user, QString *password) {
        if (closeAfterWork)
            return false;
        TProxyLoginBox box(this, proxy);
        if (box.exec() != 1)
            return false;
        *user = box.userName();
        *password = box.password();
        return true;
    };
    connect(progressBox, &TProgressBox::cancelRequested, this, &MainWindow::requestCancel);
    // Request waits deliver input so that Cancel can be pressed; the filter
    // keeps it from the window's own buttons while a step works.
    httpClient->setUserInputAllowed(true);
    qApp->installEventFilter(this);
    // The archive notifier has no parent: the destructor deletes it in its turn.
    notifier = new QZipFileNotificationInterface();
    connect(notifier, &QZipFileNotificationInterface::progress, this, &MainWindow::progress);

    // Account code and instrument serial number.
    if (QFile::exists(QStringLiteral("password.ini"))) {
        QSettings account(QStringLiteral("./password.ini"), QSettings::IniFormat);
        ui->lineEditPassword->setText(account.value(QStringLiteral("impostazioni/password")).toString());
        ui->lineEditPassword->setCursorPosition(0);
        serialNumber = account.value(QStringLiteral("impostazioni/serialnumber")).toString();
    }

    // What this installation may update.
    {
        QSettings customization(QStringLiteral("./customize_update.ini"), QSettings::IniFormat);
        updatePc = customization.value(QStringLiteral("personalizzazioni/update_pc"), 0).toInt();
        updatePalm = customization.value(QStringLiteral("personalizzazioni/update_palm"), 0).toInt();
    }
    updateScope = scopeFor(updatePc, updatePalm);
    qCDebug(lcApp) << "update_pc" << updatePc << "update_palm" << updatePalm << "scope" << updateScope;
    if (updateScope == 3) {
        showConnectionMessage();
        return;
    }

    // Updaters of other program folders share the notifier's folder.
    notifierLock = lockStateFolder(Platform::orvaneFolder() + QStringLiteral(".update_hub/"));
    if (!notifierLock) {
        refused = true;
        showRunningMessage();
        return;
    }

    // Before the inventory: it describes the installation as recovered. A
    // side that cannot be mended leaves the inventory unstarted, so that
    // the next run's card search tries again.
    if (updatePalm == 1) {
        if (!locateCard(true))
            return;
        cardIdentity = Platform::volumeIdentity(cardRoot);
    } else {
        recoverInterruptedInstallation();
    }
    setStyleSheet(QString::fromLatin1(scrollBarStyle));
    startInventory();
    windowsVistaOrLater = Platform::windowsVistaOrLater();
}

MainWindow::~MainWindow()
{
    qApp->removeEventFilter(this);
    inventoryStop = true;
    inventoryFuture.waitForFinished();
    httpClient->close();
    disconnect(httpClient, nullptr, nullptr, nullptr);
    disconnect(notifier, nullptr, nullptr, nullptr);
    delete httpClient;
    delete notifier;
    delete progressBox;
    delete ui;
    releaseCardLock();
    if (notifierLock) {
        notifierLock.reset();
        QDir().rmdir(Platform::orvaneFolder() + QStringLiteral(".update_hub")); // only when empty
    }
}

std::unique_ptr<QLockFile> MainWindow::lockProgramFolder()
{
    auto lock = std::make_unique<QLockFile>(QStringLiteral("update_hub.lock"));
    // A lock whose updater is gone (crashed, killed) is taken over at once;
    // one whose updater still runs is never stale, however old.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0))
        return lock;
    qCDebug(lcApp) << "program folder locked:" << lock->error();
    loadChosenTranslation();
    TMessagebox box(nullptr, 1);
    box.setTitle(TTranslator::instance()->translate(text("Attenzione")));
    box.setMessage(TTranslator::instance()->translate(text("Il programma di aggiornamento è già in esecuzione.")),
                   Qt::NoTextInteraction);
    box.exec();
    return nullptr;
}

std::unique_ptr<QLockFile> MainWindow::lockStateFolder(const QString &stateFolder)
{
    QDir().mkpath(stateFolder);
    auto lock = std::make_unique<QLockFile>(stateFolder + QStringLiteral("update_hub.lock"));
    lock->setStaleLockTime(0);
    if (lock->tryLock(0))
        return lock;
    if (lock->error() == QLockFile::LockFailedError) {
        // A card carried over from another PC may bring the lock of an
        // updater that ended there: no updater of this PC holds it.
        qint64 pid = 0;
        QString host;
        QString application;
        if (!lock->getLockInfo(&pid, &host, &application) || host == QSysInfo::machineHostName()
            || !lock->removeStaleLockFile() || !lock->tryLock(0)) {
            qCDebug(lcApp).noquote() << "locked by another updater:" << stateFolder << pid << host;
            return nullptr;
        }
        return lock;
    }
    // A folder that cannot hold a lock (a write-protected card) keeps no
    // updater out; the write test speaks for such a card.
    qCDebug(lcApp).noquote() << "cannot lock" << stateFolder << lock->error();
    return lock;
}

void MainWindow::showRunningMessage()
{
    showMessage(text("Attenzione"), text("Il programma di aggiornamento è già in esecuzione."), QStringLiteral("Ok"),
                QStringLiteral(" "));
}

int MainWindow::scopeFor(int pc, int palm)
{
    if (pc == 1)
        return palm == 1 ? 2 : 0;
    return palm == 1 ? 1 : 3;
}

void MainWindow::setStep(int step)
{
    QLabel *const labels[] = {ui->lblStep1, ui->lblStep2, ui->lblStep3, ui->lblStep4};
    if (step >= 0 && step <= 3) {
        for (int i = 0; i < 4; ++i)
            labels[i]->setStyleSheet(QString::fromLatin1(i == step ? currentStepStyle : otherStepStyle));
    }
    ui->stackedWidgetAgg->setCurrentIndex(step);
}

int MainWindow::showMessage(const QString &title, const QString &messages, const QString &buttons,
                            const QString &separator)
{
    // A window on its way out asks nothing more.
    if (closeAfterWork)
        return 0;
    const QStringList parts = messages.split(QLatin1Char('|'));
    const int buttonMode = int(buttons.split(QLatin1Char('|')).size());
    QStringList translated;
    translated.reserve(parts.size());
    for (const QString &part : parts)
        translated << TTranslator::instance()->translate(part);

    TMessagebox box(this, buttonMode);
    box.setTitle(TTranslator::instance()->translate(title));
    box.setMessage(translated.join(separator), Qt::NoTextInteraction);
    return box.exec();
}

void MainWindow::showConnectionMessage()
{
    showMessage(text("Attenzione"),
                text("Attenzione, impossibile scaricare gli ultimi aggiornamenti.") + QLatin1Char('|') + text("Controllare la connessione ad Internet."),
                QStringLiteral("Ok"), QStringLiteral(" "));
}

void MainWindow::showCardMissingMessage()
{
    showMessage(text("Attenzione"),
                text("Nessun lettore SD Card trovato.|Verificare che il dispositivo sia correttamente "
                     "collegato al PC e ripetere l'operazione."),
                QStringLiteral("Ok"), QStringLiteral(" "));
}

void MainWindow::setPromptTexts()
{
    ui->lblInfo1->setText(tx("Attivare la connessione internet.") + QLatin1Char(' ') + tx("Inserire la password rilasciata."));
    ui->lblInfo2->setText(tx("Se non avete una password, contattare l'ufficio commerciale."));
}

void MainWindow::endManualMode()
{
    if (ui->tbAggiornamentoManuale->isChecked()) {
        manualUpdate = false;
        ui->tbAggiornamentoManuale->setChecked(false);
    }
}

void MainWindow::enableAccountControls(bool enabled)
{
    ui->tbOkPw->setEnabled(enabled);
    ui->tbCancelPw->setEnabled(enabled);
    ui->lineEditPassword->setEnabled(enabled);
}

void MainWindow::on_tbDownload_clicked()
{
    if (isBusy())
        return;
    WorkScope work(this);
    // An installation that may update nothing contacts nobody.
    if (updateScope == 3) {
        showConnectionMessage();
        return;
    }
    if (!loadServiceRedirection() || !checkUpdaterUpdate())
        return;

    if (updatePalm == 1) {
        // An installation left in flight on the card is mended first, as at
        // start-up, whenever the card is searched again.
        if (!locateCard())
            return;
        if (!testCardWritable())
            return;
        cardIdentity = Platform::volumeIdentity(cardRoot);
        // A card missing at start-up left the inventory unstarted: without it
        // the installation could not tell which files it lost.
        if (!inventoryStarted()) {
            setStyleSheet(QString::fromLatin1(scrollBarStyle));
            startInventory();
            windowsVistaOrLater = Platform::windowsVistaOrLater();
        }
    }

    endManualMode();
    setPromptTexts();
    ui->stackedWidget->setCurrentIndex(1);
    setStep(0);
}

void MainWindow::on_tbAggiornamentoManuale_clicked(bool checked)
{
    if (isBusy())
        return;
    manualUpdate = checked;
    if (!checked) {
        ui->stackedWidget->setCurrentIndex(0);
        ui->frameVisualizzaInfo->hide();
        return;
    }
    setPromptTexts();
    ui->stackedWidget->setCurrentIndex(1);
    setStep(0);
    ui->frameVisualizzaInfo->hide();
    enableAccountControls(true);
}

void MainWindow::on_tbOkPw_clicked()
{
    if (isBusy())
        return;
    WorkScope work(this);
    enableAccountControls(false);
    if (prepareRun()) {
        ui->frameVisualizzaInfo->show();
    } else {
        ui->frameVisualizzaInfo->hide();
        enableAccountControls(true);
    }
}

void MainWindow::on_tbCancelPw_clicked()
{
    if (isBusy())
        return;
    endManualMode();
    ui->stackedWidget->setCurrentIndex(0);
    ui->frameVisualizzaInfo->hide();
}

void MainWindow::on_tbSelezionaLingua_clicked()
{
    if (isBusy())
        return;
    WorkScope work(this);
    ui->stackedWidget->setCurrentIndex(0);
    endManualMode();
    {
        TLinguaBox box(this);
        box.exec();
    }
    ui->frameVisualizzaInfo->hide();
    enableAccountControls(true);
}

void MainWindow::on_tbCancelInfo_clicked()
{
    if (isBusy())
        return;
    ui->frameVisualizzaInfo->hide();
    enableAccountControls(true);
}

void MainWindow::on_tbCancelSelezionaLingua_clicked()
{
    if (isBusy())
        return;
    setStep(0);
}

void MainWindow::on_tbCancelAggiornamentiDisponibili_clicked()
{
    if (isBusy())
        return;
    if (manualUpdate) {
        ui->stackedWidget->setCurrentIndex(1);
        setStep(0);
    } else {
        setStep(1);
    }
}

void MainWindow::on_tbOkAggiornamentiEffettuati_clicked()
{
    if (isBusy())
        return;
    ui->stackedWidget->setCurrentIndex(0);
    ui->frameVisualizzaInfo->hide();
    enableAccountControls(true);
    endManualMode();
}

void MainWindow::on_tbMinimize_clicked()
{
    showMinimized();
}

void MainWindow::on_tbClose_clicked()
{
    if (isBusy())
        return;
    // The PC diagnosis program is started when the updater closes.
    if (QFileInfo::exists(QStringLiteral("main.exe")))
        Platform::startProgram(QStringLiteral("main.exe"));
    close();
}

bool MainWindow::prepareRun()
{
    QDir work(QStringLiteral("./work"));
    if (!work.exists()) {
        QDir().mkpath(QStringLiteral("./work"));
    } else {
        // Every entry that can be removed as a file goes; sub-folders stay.
        const QStringList entries = work.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        for (const QString &entry : entries) {
            if (!QFileInfo(work.filePath(entry)).isDir())
                work.remove(entry);
        }
    }
    QDir().mkpath(QStringLiteral("./plugins"));
    QDir().mkpath(QStringLiteral("./plugins/log"));
    uploadLogArchives();

    const QString diagnosis = tx("Autodiagnosi").toUpper() + QLatin1Char(':');
    const QString technical = tx("INFORMAZIONI TECNICHE").toUpper() + QLatin1Char(':');
    ui->lblRelDiag1->setText(diagnosis);
    ui->lblRelDiag2->setText(diagnosis);
    ui->lblRelDiag3->setText(diagnosis);
    ui->lblRelInfo1->setText(technical);
    ui->lblRelInfo2->setText(technical);
    ui->lblRelInfo3->setText(technical);
    ui->lblAggDisponibiliTitle->setText(tx("Aggiornamenti disponibili"));
    ui->lblAggEffettuatiTitle->setText(tx("Aggiornamenti effettuati"));
    ui->lblInformativaService->setText(tx("Questa lista contiene le comunicazioni del service.") + QLatin1Char(' ') + tx("Fare doppio click sulla comunicazione per visualizzarla."));

    TWaitBox waitBox(this);
    if (manualUpdate)
        return prepareManualRun(waitBox);
    return fetchCustomerInformation(waitBox);
}

void MainWindow::emitValue(qint64 done, qint64 total, const QString &timeDownload, const QString &speedDownload,
                           qint64 baseTotalValue)
{
    if (!downloadRunActive) {
        progressBox->updateProgress(done, total, timeDownload, speedDownload, baseTotalValue, totalDownloadSize);
        return;
    }
    // The whole-operation bar counts this run's bytes, those already held
    // included; the time left is what remains of it at the average speed.
    // A transfer reports from zero before its answer says how much was held
    // (a resumed part, a copy the service confirms): the bar does not step back.
    const qint64 overall = qMax(downloadRunShown, downloadRunBase + done);
    downloadRunShown = overall;
    QString timeLeft = timeDownload;
    if (httpClient->secondsActive() > 0) {
        const qint64 rate = httpClient->received() / httpClient->secondsActive();
        if (rate > 0)
            timeLeft = ServiceAnswers::timeLeftText(qMax<qint64>(0, totalDownloadSize - overall) / rate);
    }
    progressBox->updateProgress(done, total, timeLeft, speedDownload, overall, totalDownloadSize);
}

MainWindow::WorkScope::WorkScope(MainWindow *window)
    : window(window)
{
    ++window->workDepth;
}

MainWindow::WorkScope::~WorkScope()
{
    if (--window->workDepth == 0 && window->closeAfterWork)
        QTimer::singleShot(0, window, &QWidget::close);
}

void MainWindow::requestCancel()
{
    if (cancelStage != CancelStage::Cancellable || cancelPending)
        return;
    qCDebug(lcApp) << "cancel requested";
    cancelPending = true;
    httpClient->cancel();
    notifier->requestCancel();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (workDepth > 0 && !closeNow) {
        event->ignore();
        closeAfterWork = true;
        if (cancelStage == CancelStage::Cancellable)
            requestCancel();
        else if (cancelStage == CancelStage::Idle)
            httpClient->cancel();
        return;
    }
    QMainWindow::closeEvent(event);
}

bool MainWindow::isDragSurface(const QObject *object) const
{
    if (!ui)
        return false;
    const QObject *const surfaces[] = { ui->frameButton, ui->lblStep1, ui->lblStep1Arrow, ui->lblStep2,
                                        ui->lblStep2Arrow, ui->lblStep3, ui->lblStep3Arrow, ui->lblStep4,
                                        ui->lblStep4Arrow, ui->lblRepeat };
    for (const QObject *surface : surfaces) {
        if (object == surface)
            return true;
    }
    return false;
}

bool MainWindow::dragWindow(QEvent *event)
{
    auto *mouse = static_cast<QMouseEvent *>(event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (mouse->button() != Qt::LeftButton)
            return false;
        // The window manager moves the window where it can; else it follows the mouse.
        if (windowHandle() && windowHandle()->startSystemMove())
            return true;
        dragging = true;
        dragOffset = mouse->globalPosition().toPoint() - pos();
        return true;
    case QEvent::MouseMove:
        if (!dragging || !(mouse->buttons() & Qt::LeftButton))
            return false;
        move(mouse->globalPosition().toPoint() - dragOffset);
        return true;
    case QEvent::MouseButtonRelease:
        if (!dragging)
            return false;
        dragging = false;
        return true;
    default:
        return false;
    }
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
        break;
    default:
        return QMainWindow::eventFilter(watched, event);
    }
    if (!watched->isWidgetType() || static_cast<QWidget *>(watched)->window() != this)
        return QMainWindow::eventFilter(watched, event);
    if (isDragSurface(watched) && dragWindow(event))
        return true;
    // While a step works no button of the window may start another handler;
    // the progress window and message boxes are windows of their own.
    if (workDepth > 0 && event->type() != QEvent::MouseMove)
        return true;
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::progress(uint done, uint total)
{
    progressBox->updateProgress(done, total, QString(), QString(), extractFileIndex, extractFileCount);
    QCoreApplication::processEvents();
}
