#pragma once

#include <QByteArray>
#include <QFuture>
#include <QList>
#include <QMainWindow>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class QLockFile;

namespace Ui {
class MainWindow;
}

class TProgressBox;
class TMessagebox;
class TWaitBox;
class THttp;
class QZipFileNotificationInterface;
namespace VersionReport {
struct Sources;
}
struct InventoryInput;

/// The updater's one window: start-up, the page and step machine and every
/// step of an update run.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    /// Step indicator: marks lblStep1..4 and shows that page of stackedWidgetAgg.
    void setStep(int step);
    /// The work behind tbOkPw; true keeps the account-code controls disabled.
    bool prepareRun();

    /// Shows a TMessagebox: message parts and buttons are separated by "|";
    /// title and every message part are translated. Returns the dialog result.
    int showMessage(const QString &title, const QString &messages, const QString &buttons,
                    const QString &separator);

    /// Root of the first removable drive that carries the instrument's card
    /// (ends with "/"), or an empty text. A drive with an installation in
    /// flight in its ".update_hub" counts as well: what the installation set
    /// aside may be the very files that make the card recognisable.
    static QString findCardRoot();
    /// True when the drive at root carries the card's files ("varno/main"
    /// and the folder "qte").
    static bool hasCardSignature(const QString &root);
    /// The card search of a run: finds the card, takes its lock, mends an
    /// installation left in flight on every side and then applies the card
    /// rules. Shows the message of whatever fails and returns false then.
    bool locateCard(bool atStartUp = false);
    /// The lock of the card at root, held while the card is worked on
    /// (recovery, installation); false when another updater holds it.
    bool lockCard(const QString &root);
    void releaseCardLock();
    void showRunningMessage();
    /// The card write test; shows its message and returns false on failure.
    bool testCardWritable();

    /// The background file inventory and its check after an installation.
    void buildFileInventory();
    bool checkFileInventory();

    /// Appends the version report's row and uploads the database.
    void recordVersionReport();
    /// Uploads the version report's database; kept until an upload succeeded.
    void uploadVersionReport();
    /// Writes the record of installed versions for the update notifier.
    void recordInstalledVersions(const QString &productFolder);

    /// Downloads (online run), tests and extracts the packages of the work
    /// manifest and runs the follow-up steps; true when step 4 was reached.
    bool installPackages();
    /// Records the installed versions in the PC and card "syslang.ini".
    void updateSystemLanguageFiles();
    /// Copies source beside target and renames the copy over target.
    static bool replaceFile(const QString &source, const QString &target);
    /// Finishes or undoes an installation that a previous run left in flight
    /// (PC, notifier folder, card) and says so. False, after its message,
    /// when a side could not be brought back: nothing may be installed then.
    bool recoverInterruptedInstallation();
    /// The record that decides the commit of every side of an installation.
    static QString decisionRecord();
    /// The state folder of installations on the PC side.
    static QString pcStateFolder();
    /// The lock that keeps a second updater out of the program folder; null,
    /// after the message, when another updater holds it.
    static std::unique_ptr<QLockFile> lockProgramFolder();
    /// The lock of one more updater's folder (the card's or the notifier's
    /// ".update_hub"); null when another updater holds it.
    static std::unique_ptr<QLockFile> lockStateFolder(const QString &stateFolder);
    /// True when the window found another updater at work on its card or
    /// notifier folder and must not be used.
    bool startRefused() const { return refused; }
    /// Packs "plugins/log" and "plugins/log/ovp" into archives, uploads and removes them.
    void uploadLogArchives();

    /// Fills tableWidgetInformativaService with the service communications.
    void listCommunications();

    /// Fetches and keeps the customization redirection, refreshes the language lists.
    bool loadServiceRedirection();
    /// True when the updater is current; starts a newer one and ends otherwise.
    bool checkUpdaterUpdate();

    /// The updater's own version, "3.65".
    static QString updaterVersion();
    /// True when version (as embeddedVersion reads it) is a whole version
    /// number greater than the updater's own.
    static bool isNewerUpdater(const QString &version);
    /// The four characters after "EXEC_VERSION=" in a program file, or empty.
    static QString embeddedVersion(const QString &filePath);
    /// Ends every process of that program by force.
    static void killProcess(const QString &programName);


    // Read access for tests and for the run's later steps.
    int scope() const { return updateScope; }
    QString card() const { return cardRoot; }
    QString languageId() const { return selectedLanguageId; }
    QString serial() const { return serialNumber; }
    bool inventoryStarted() const { return inventoryRunning; }
    QList<QByteArray> inventory() const { return fileInventory; }
    QStringList missing() const { return missingFiles; }
    QStringList redirection() const { return redirectionFields; }
    QString softwareFolderName() const { return softwareFolder; }
    QStringList databaseFolderNames() const { return databaseFolders; }
    TProgressBox *progressWindow() const { return progressBox; }
    QZipFileNotificationInterface *archiveNotifier() const { return notifier; }
    QStringList downloads() const { return downloadList; }
    qint64 downloadTotal() const { return totalDownloadSize; }
    QStringList products() const { return productIds; }
    THttp *http() const { return httpClient; }

    /// Called instead of ending the process when a new updater was started
    /// (tests replace it; the program quits the application with code 0).
    static void setProcessExitHandler(void (*handler)(int));

    /// The scope table: 0 PC only, 1 card only, 2 both, 3 refused.
    static int scopeFor(int pc, int palm);

    /// True while a step of a run works (a request, the plan, the
    /// installation): the window's buttons start nothing meanwhile.
    bool isBusy() const { return workDepth > 0; }
    /// Stops the download run, the archive tests or the extraction that runs
    /// (tbCancel, Escape or the close control of the progress window).
    void requestCancel();
    QList<qint64> downloadSizeList() const { return downloadSizes; }


public slots:
    void emitValue(qint64 done, qint64 total, const QString &timeDownload, const QString &speedDownload,
                   qint64 baseTotalValue);
    void progress(uint done, uint total);

protected:
    /// During a run the run is cancelled first; the window closes when it has stopped.
    void closeEvent(QCloseEvent *event) override;
    /// Holds user input back from the window while a step works, and moves
    /// the frameless window when its tool bar or step strip is dragged.
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void on_tbDownload_clicked();
    void on_tbAggiornamentoManuale_clicked(bool checked);
    void on_tbOkPw_clicked();
    void on_tbCancelPw_clicked();
    void on_tbSelezionaLingua_clicked();
    void on_tbCancelInfo_clicked();
    void on_tbCancelSelezionaLingua_clicked();
    void on_tbCancelAggiornamentiDisponibili_clicked();
    void on_tbOkAggiornamentiEffettuati_clicked();
    void on_tbMinimize_clicked();
    void on_tbClose_clicked();

    // --- customer information, language page and dialog, support buttons
    void on_tbOkInfo_clicked();
    void on_tbTeamViewer_clicked();
    void on_tbSegnalazioni_clicked();
    // --- update plan
    void on_tbOkSelezionaLingua_clicked();
    // --- installation
    void on_tbOkAggiornamentiDisponibili_clicked();
    // --- service communications
    void on_tbInfo_clicked();
    void on_tableWidgetInformativaService_cellDoubleClicked(int row, int column);
    // --- manual update

private:
    static void (*&processExitHandler())(int);

    /// Marks the window busy for the life of a handler's work.
    class WorkScope
    {
    public:
        explicit WorkScope(MainWindow *window);
        ~WorkScope();
        WorkScope(const WorkScope &) = delete;
        WorkScope &operator=(const WorkScope &) = delete;

    private:
        MainWindow *window;
    };
    /// What a cancel may stop: nothing (requests of other steps are only
    /// aborted when the window closes), the download run and the extraction,
    /// or the finishing steps of an installation, which always complete.
    enum class CancelStage { Idle, Cancellable, Finishing };
    /// Ends an installation the user stopped: progress closed, the message,
    /// step 2 kept so that Ok resumes.
    bool cancelInstallation();
    bool isDragSurface(const QObject *object) const;
    bool dragWindow(QEvent *event);
    VersionReport::Sources reportSources();
    /// Runs the online branch of prepareRun (customer information).
    bool fetchCustomerInformation(TWaitBox &waitBox);
    /// Fills and shows the language page.
    void enterLanguagePage();
    void startInventory();
    InventoryInput inventoryInput() const;
    void showConnectionMessage();
    /// "Nessun lettore SD Card trovato." with its advice.
    void showCardMissingMessage();
    void setPromptTexts();
    void endManualMode();
    void enableAccountControls(bool enabled);
    QString communicationsFolder() const;
    QString readMailsPath() const;

    // --- private helpers of the later steps
    /// The manual branch of prepareRun: the package chosen in a file dialog.
    bool prepareManualRun(TWaitBox &waitBox);
    enum class DownloadRun { Done, Cancelled, Failed };
    /// Fetches every entry of downloadList into "work/" and writes the
    /// manifest; stops at the first package that cannot be fetched (its
    /// message shown) or when the user cancels.
    DownloadRun downloadPackages();
    /// Ends an installation at a package that could not be fetched: status
    /// log and the message with its cause (connection or disk).
    void downloadFailure(const QString &name, bool diskFull);
    /// Ends an installation at a failed archive: trace, progress closed,
    /// status log, and the message with its advice.
    bool archiveFailure(const QString &logged, const QString &shown);
    bool corruptArchive(const QString &name);
    bool failedExtraction(const QString &name);
    /// True when the program folder lacks room for the downloads and their copy.
    bool downloadRoomMissing() const;
    /// The dated copy of the work folder; the newest three are kept.
    void copyWorkFolder();
    /// True when the card covered by the run is no longer the planned one.
    bool cardChanged() const;
    /// True when the card lacks room for the archives of the manifest bound for it.
    bool cardTooSmall(const QStringList &names, const QStringList &kinds) const;

    Ui::MainWindow *ui = nullptr;
    THttp *httpClient = nullptr;
    TProgressBox *progressBox = nullptr;
    QZipFileNotificationInterface *notifier = nullptr;

    int updatePc = 0;
    int updatePalm = 0;
    int updateScope = 3;
    QString cardRoot;
    QString cardIdentity; // volume identity of the card the plan was made for
    QString serialNumber;
    QString selectedLanguageId;
    bool manualUpdate = false;
    bool windowsVistaOrLater = false;

    QList<QByteArray> fileInventory;
    QFuture<void> inventoryFuture;
    std::atomic<bool> inventoryStop{false};
    bool inventoryRunning = false;
    QStringList missingFiles;
    bool filesIntact = true;
    QStringList communicationFiles; // table row -> communication file
    int extractFileCount = 0;
    int extractFileIndex = 0;

    // Filled by the service redirection and the update plan.
    QStringList redirectionFields;
    QString softwareFolder;
    QStringList databaseFolders;
    QStringList productIds;
    QStringList downloadList;
    QList<qint64> downloadSizes; // planned size of each downloadList entry
    qint64 totalDownloadSize = 0;

    int workDepth = 0;
    CancelStage cancelStage = CancelStage::Idle;
    bool cancelPending = false;
    bool closeAfterWork = false;
    bool closeNow = false;
    bool refused = false;
    // Single-instance locks beside the program folder's.
    std::unique_ptr<QLockFile> notifierLock;
    std::unique_ptr<QLockFile> cardLock;
    QString cardLockRoot;
    bool dragging = false;
    QPoint dragOffset;
    // Download run: bytes counted as done before the current transfer's own.
    bool downloadRunActive = false;
    qint64 downloadRunBase = 0;
    // The most the whole-operation bar has shown in this download run.
    qint64 downloadRunShown = 0;
    QString reserveLanguageId;
};
