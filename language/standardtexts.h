#pragma once

#include <QtGlobal>

/// Every text the program puts on screen at run time. Each one is passed
/// through TTranslator::translate() before it is shown; the markers let
/// lupdate collect them into the "TTranslator" context of the translations.
namespace Texts {

// Message titles and sentences.
inline constexpr char Attention[] = QT_TRANSLATE_NOOP("TTranslator", "Attenzione");
inline constexpr char DownloadFailed[]
    = QT_TRANSLATE_NOOP("TTranslator", "Attenzione, impossibile scaricare gli ultimi aggiornamenti.");
inline constexpr char CheckConnection[]
    = QT_TRANSLATE_NOOP("TTranslator", "Controllare la connessione ad Internet.");
inline constexpr char ServerMaintenance[]
    = QT_TRANSLATE_NOOP("TTranslator", "Il server è in manutenzione per nuovi aggiornamenti.");
inline constexpr char RetryLater[] = QT_TRANSLATE_NOOP("TTranslator", "Riprovare tra qualche ora.");
inline constexpr char NoCardReader[] = QT_TRANSLATE_NOOP("TTranslator", "Nessun lettore SD Card trovato.");
inline constexpr char CheckDeviceConnected[] = QT_TRANSLATE_NOOP(
    "TTranslator",
    "Verificare che il dispositivo sia correttamente collegato al PC e ripetere l'operazione.");
inline constexpr char CardWriteProtected[]
    = QT_TRANSLATE_NOOP("TTranslator", "SD Card protetta da scrittura.");
inline constexpr char CardSpaceLow[]
    = QT_TRANSLATE_NOOP("TTranslator", "Spazio su memory card insufficiente per contenere l'aggiornamento.");
inline constexpr char InsertCardInInstrument[]
    = QT_TRANSLATE_NOOP("TTranslator",
                        "Inserire la memory card nello strumento ed accenderlo; sarà avviata la procedura di "
                        "cancellazione delle lingue inutilizzate.");
inline constexpr char RepeatUpdateAfterwards[]
    = QT_TRANSLATE_NOOP("TTranslator", "Al termine ripetere l'aggiornamento.");
inline constexpr char UpdaterUpdateAvailable[]
    = QT_TRANSLATE_NOOP("TTranslator", "E' presente un aggiornamento del software.");
inline constexpr char PressOkToContinue[] = QT_TRANSLATE_NOOP("TTranslator", "Premere ok per continuare.");
inline constexpr char InvalidPassword[] = QT_TRANSLATE_NOOP("TTranslator", "Password non valida");

// Wait box and progress window.
inline constexpr char PleaseWait[] = QT_TRANSLATE_NOOP("TTranslator", "Attendere prego...");
inline constexpr char SoftwareUpdate[] = QT_TRANSLATE_NOOP("TTranslator", "Software Update");
inline constexpr char DownloadingUpdates[]
    = QT_TRANSLATE_NOOP("TTranslator", "download aggiornamenti in corso...");
// The blanks at both ends are part of the text.
inline constexpr char ExtractingUpdates[]
    = QT_TRANSLATE_NOOP("TTranslator", " estrazione archivio aggiornamenti in corso... ");
inline constexpr char TimeLeft[] = QT_TRANSLATE_NOOP("TTranslator", "Tempo rimanente:");
inline constexpr char Speed[] = QT_TRANSLATE_NOOP("TTranslator", "Velocità:");
inline constexpr char ConnectionLostRetrying[]
    = QT_TRANSLATE_NOOP("TTranslator", "Connessione interrotta, nuovo tentativo in corso...");
// A run the user stopped.
inline constexpr char UpdateCancelled[] = QT_TRANSLATE_NOOP("TTranslator", "Aggiornamento annullato.");
inline constexpr char UpdateWillResume[]
    = QT_TRANSLATE_NOOP("TTranslator", "Il prossimo aggiornamento riprenderà da dove si è interrotto.");

// Account-code page.
inline constexpr char EnableInternet[]
    = QT_TRANSLATE_NOOP("TTranslator", "Attivare la connessione internet.");
inline constexpr char EnterIssuedPassword[]
    = QT_TRANSLATE_NOOP("TTranslator", "Inserire la password rilasciata.");
inline constexpr char NoPasswordContactSales[]
    = QT_TRANSLATE_NOOP("TTranslator", "Se non avete una password, contattare l'ufficio commerciale.");

// Customer data table.
inline constexpr char Description[] = QT_TRANSLATE_NOOP("TTranslator", "Descrizione");
inline constexpr char Value[] = QT_TRANSLATE_NOOP("TTranslator", "Valore");
inline constexpr char CompanyName[] = QT_TRANSLATE_NOOP("TTranslator", "Ragione Sociale");
inline constexpr char Sms[] = QT_TRANSLATE_NOOP("TTranslator", "Sms");
inline constexpr char Email[] = QT_TRANSLATE_NOOP("TTranslator", "E-Mail");
inline constexpr char DealerLogin[] = QT_TRANSLATE_NOOP("TTranslator", "Login Orvane");

// Language page and language dialog.
inline constexpr char LanguageSelection[] = QT_TRANSLATE_NOOP("TTranslator", "Selezione lingua");
inline constexpr char DisplayLanguage[] = QT_TRANSLATE_NOOP("TTranslator", "Lingua di visualizzazione");
inline constexpr char DefaultLanguage[] = QT_TRANSLATE_NOOP("TTranslator", "Lingua di default");

// Available-updates and updates-done pages.
inline constexpr char SelfDiagnosis[] = QT_TRANSLATE_NOOP("TTranslator", "Autodiagnosi");
inline constexpr char TechnicalInformation[] = QT_TRANSLATE_NOOP("TTranslator", "INFORMAZIONI TECNICHE");
inline constexpr char UpdatesAvailable[] = QT_TRANSLATE_NOOP("TTranslator", "Aggiornamenti disponibili");
inline constexpr char UpdatesDone[] = QT_TRANSLATE_NOOP("TTranslator", "Aggiornamenti effettuati");
inline constexpr char CarDiagnosis[] = QT_TRANSLATE_NOOP("TTranslator", "Diagnosi Autoveicoli");
inline constexpr char MotorbikeDiagnosis[] = QT_TRANSLATE_NOOP("TTranslator", "Diagnosi Motoveicoli");
inline constexpr char TruckDiagnosis[] = QT_TRANSLATE_NOOP("TTranslator", "Diagnosi Autocarri");

// Service communications.
inline constexpr char CommunicationsListInfo[]
    = QT_TRANSLATE_NOOP("TTranslator", "Questa lista contiene le comunicazioni del service.");
inline constexpr char DoubleClickToOpen[]
    = QT_TRANSLATE_NOOP("TTranslator", "Fare doppio click sulla comunicazione per visualizzarla.");
inline constexpr char Date[] = QT_TRANSLATE_NOOP("TTranslator", "Data");
inline constexpr char Subject[] = QT_TRANSLATE_NOOP("TTranslator", "Oggetto");

// Manual update.
inline constexpr char OpenFile[] = QT_TRANSLATE_NOOP("TTranslator", "Open File");

// Installation in flight and its recovery.
inline constexpr char InstallationFailedRepeat[]
    = QT_TRANSLATE_NOOP("TTranslator", "Ripetere l'aggiornamento.");
inline constexpr char ArchiveCorrupt[]
    = QT_TRANSLATE_NOOP("TTranslator", "Archivio %1: Corrotto.");
inline constexpr char PackageExtractionFailed[]
    = QT_TRANSLATE_NOOP("TTranslator", "Decompressione del pacchetto %1: Fallita.");
inline constexpr char UpdateInterrupted[]
    = QT_TRANSLATE_NOOP("TTranslator", "L'ultimo aggiornamento si è interrotto.");
inline constexpr char CardConsistentAgain[]
    = QT_TRANSLATE_NOOP("TTranslator", "La memory card è stata riportata a uno stato coerente.");
inline constexpr char DiskSpaceLow[]
    = QT_TRANSLATE_NOOP("TTranslator", "Spazio su disco insufficiente per scaricare l'aggiornamento.");
inline constexpr char FreeSpaceAndRepeat[]
    = QT_TRANSLATE_NOOP("TTranslator", "Liberare spazio e ripetere l'aggiornamento.");
inline constexpr char OtherCardInserted[]
    = QT_TRANSLATE_NOOP("TTranslator", "La memory card inserita non è quella controllata all'inizio.");
inline constexpr char UpdaterAlreadyRunning[]
    = QT_TRANSLATE_NOOP("TTranslator", "Il programma di aggiornamento è già in esecuzione.");

/// All of the texts above, for checks over the whole set.
inline constexpr const char *all[] = {
    Attention,
    DownloadFailed,
    CheckConnection,
    ServerMaintenance,
    RetryLater,
    NoCardReader,
    CheckDeviceConnected,
    CardWriteProtected,
    CardSpaceLow,
    InsertCardInInstrument,
    RepeatUpdateAfterwards,
    UpdaterUpdateAvailable,
    PressOkToContinue,
    InvalidPassword,
    PleaseWait,
    SoftwareUpdate,
    DownloadingUpdates,
    ExtractingUpdates,
    TimeLeft,
    Speed,
    EnableInternet,
    EnterIssuedPassword,
    NoPasswordContactSales,
    Description,
    Value,
    CompanyName,
    Sms,
    Email,
    DealerLogin,
    LanguageSelection,
    DisplayLanguage,
    DefaultLanguage,
    SelfDiagnosis,
    TechnicalInformation,
    UpdatesAvailable,
    UpdatesDone,
    CarDiagnosis,
    MotorbikeDiagnosis,
    TruckDiagnosis,
    CommunicationsListInfo,
    DoubleClickToOpen,
    Date,
    Subject,
    OpenFile,
    InstallationFailedRepeat,
    ArchiveCorrupt,
    PackageExtractionFailed,
    UpdateInterrupted,
    CardConsistentAgain,
    DiskSpaceLow,
    FreeSpaceAndRepeat,
    OtherCardInserted,
    UpdaterAlreadyRunning,
};

} // namespace Texts
