<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_GB" sourcelanguage="it_IT">
<context>
    <name>MainWindow</name>
    <message>
        <source>MainWindow</source>
        <translation>MainWindow</translation>
    </message>
    <message>
        <source>Ver.</source>
        <translation>Ver.</translation>
    </message>
    <message>
        <source>Step 1</source>
        <translation>Step 1</translation>
    </message>
    <message>
        <source>Step 2</source>
        <translation>Step 2</translation>
    </message>
    <message>
        <source>Step 3</source>
        <translation>Step 3</translation>
    </message>
    <message>
        <source>Step 4</source>
        <translation>Step 4</translation>
    </message>
    <message>
        <source>Inserimento password</source>
        <translation>Enter password</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>Selezione lingua</source>
        <translation>Language selection</translation>
    </message>
    <message>
        <source>Diagnosi Autoveicoli</source>
        <translation>Car diagnosis</translation>
    </message>
    <message>
        <source>Seleziona lingua</source>
        <translation>Select language</translation>
    </message>
    <message>
        <source>Lingua di default</source>
        <translation>Default language</translation>
    </message>
    <message>
        <source>Diagnosi Motoveicoli</source>
        <translation>Motorbike diagnosis</translation>
    </message>
    <message>
        <source>Diagnosi Autocarri</source>
        <translation>Truck diagnosis</translation>
    </message>
    <message>
        <source>Aggiornamenti disponibili</source>
        <translation>Available updates</translation>
    </message>
    <message>
        <source>Autodiagnosi Rel.</source>
        <translation>Diagnosis rel.</translation>
    </message>
    <message>
        <source>Info Tecniche Rel.</source>
        <translation>Tech. info rel.</translation>
    </message>
    <message>
        <source>Aggiornamenti effettuati</source>
        <translation>Updates installed</translation>
    </message>
</context>
<context>
    <name>TLinguaBox</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Seleziona Lingua</source>
        <translation>Select Language</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>TMessagebox</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Attenzione</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>Attendere prego</source>
        <translation>Please wait</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>TProgressBox</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Aggiornamento update</source>
        <translation>Updater update</translation>
    </message>
    <message>
        <source>Aggiornamento in corso...</source>
        <translation>Update in progress...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Tempo rimanente:</source>
        <translation>Time left:</translation>
    </message>
    <message>
        <source>Velocità:</source>
        <translation>Speed:</translation>
    </message>
</context>
<context>
    <name>TTranslator</name>
    <message>
        <source>Attenzione</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>Attenzione, impossibile scaricare gli ultimi aggiornamenti.</source>
        <translation>Warning, the latest updates cannot be downloaded.</translation>
    </message>
    <message>
        <source>Controllare la connessione ad Internet.</source>
        <translation>Check the Internet connection.</translation>
    </message>
    <message>
        <source>Il server è in manutenzione per nuovi aggiornamenti.</source>
        <translation>The server is under maintenance for new updates.</translation>
    </message>
    <message>
        <source>Riprovare tra qualche ora.</source>
        <translation>Try again in a few hours.</translation>
    </message>
    <message>
        <source>Nessun lettore SD Card trovato.</source>
        <translation>No SD card reader found.</translation>
    </message>
    <message>
        <source>Verificare che il dispositivo sia correttamente collegato al PC e ripetere l&apos;operazione.</source>
        <translation>Check that the device is correctly connected to the PC and try again.</translation>
    </message>
    <message>
        <source>SD Card protetta da scrittura.</source>
        <translation>The SD card is write-protected.</translation>
    </message>
    <message>
        <source>Spazio su memory card insufficiente per contenere l&apos;aggiornamento.</source>
        <translation>Not enough space on the memory card for the update.</translation>
    </message>
    <message>
        <source>Inserire la memory card nello strumento ed accenderlo; sarà avviata la procedura di cancellazione delle lingue inutilizzate.</source>
        <translation>Insert the memory card into the instrument and switch it on; the removal of unused languages will start.</translation>
    </message>
    <message>
        <source>Al termine ripetere l&apos;aggiornamento.</source>
        <translation>When it has finished, repeat the update.</translation>
    </message>
    <message>
        <source>E&apos; presente un aggiornamento del software.</source>
        <translation>A software update is available.</translation>
    </message>
    <message>
        <source>Premere ok per continuare.</source>
        <translation>Press OK to continue.</translation>
    </message>
    <message>
        <source>Password non valida</source>
        <translation>Invalid password</translation>
    </message>
    <message>
        <source>Attendere prego...</source>
        <translation>Please wait...</translation>
    </message>
    <message>
        <source>Software Update</source>
        <translation>Software Update</translation>
    </message>
    <message>
        <source>download aggiornamenti in corso...</source>
        <translation>downloading updates...</translation>
    </message>
    <message>
        <source>Connessione interrotta, nuovo tentativo in corso...</source>
        <translation>Connection lost, trying again...</translation>
    </message>
    <message>
        <source>Aggiornamento annullato.</source>
        <translation>Update cancelled.</translation>
    </message>
    <message>
        <source>Il prossimo aggiornamento riprenderà da dove si è interrotto.</source>
        <translation>The next update will continue where this one stopped.</translation>
    </message>
    <message>
        <source> estrazione archivio aggiornamenti in corso... </source>
        <translation> extracting update archive... </translation>
    </message>
    <message>
        <source>Tempo rimanente:</source>
        <translation>Time left:</translation>
    </message>
    <message>
        <source>Velocità:</source>
        <translation>Speed:</translation>
    </message>
    <message>
        <source>Attivare la connessione internet.</source>
        <translation>Turn on the Internet connection.</translation>
    </message>
    <message>
        <source>Inserire la password rilasciata.</source>
        <translation>Enter the password you were given.</translation>
    </message>
    <message>
        <source>Se non avete una password, contattare l&apos;ufficio commerciale.</source>
        <translation>If you do not have a password, contact the sales office.</translation>
    </message>
    <message>
        <source>Descrizione</source>
        <translation>Description</translation>
    </message>
    <message>
        <source>Valore</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>Ragione Sociale</source>
        <translation>Company name</translation>
    </message>
    <message>
        <source>Sms</source>
        <translation>SMS</translation>
    </message>
    <message>
        <source>E-Mail</source>
        <translation>E-mail</translation>
    </message>
    <message>
        <source>Login Orvane</source>
        <translation>Orvane login</translation>
    </message>
    <message>
        <source>Selezione lingua</source>
        <translation>Language selection</translation>
    </message>
    <message>
        <source>Lingua di visualizzazione</source>
        <translation>Display language</translation>
    </message>
    <message>
        <source>Lingua di default</source>
        <translation>Default language</translation>
    </message>
    <message>
        <source>Autodiagnosi</source>
        <translation>Diagnosis</translation>
    </message>
    <message>
        <source>INFORMAZIONI TECNICHE</source>
        <translation>TECHNICAL INFORMATION</translation>
    </message>
    <message>
        <source>Aggiornamenti disponibili</source>
        <translation>Available updates</translation>
    </message>
    <message>
        <source>Aggiornamenti effettuati</source>
        <translation>Updates installed</translation>
    </message>
    <message>
        <source>Diagnosi Autoveicoli</source>
        <translation>Car diagnosis</translation>
    </message>
    <message>
        <source>Diagnosi Motoveicoli</source>
        <translation>Motorbike diagnosis</translation>
    </message>
    <message>
        <source>Diagnosi Autocarri</source>
        <translation>Truck diagnosis</translation>
    </message>
    <message>
        <source>Questa lista contiene le comunicazioni del service.</source>
        <translation>This list holds the messages from the service.</translation>
    </message>
    <message>
        <source>Fare doppio click sulla comunicazione per visualizzarla.</source>
        <translation>Double-click a message to open it.</translation>
    </message>
    <message>
        <source>Data</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>Oggetto</source>
        <translation>Subject</translation>
    </message>
    <message>
        <source>Open File</source>
        <translation>Open File</translation>
    </message>
    <message>
        <source>Automobili</source>
        <translation>Cars</translation>
    </message>
    <message>
        <source>Motocicli</source>
        <translation>Motorbikes</translation>
    </message>
    <message>
        <source>Autocarri</source>
        <translation>Trucks</translation>
    </message>
    <message>
        <source>Ripetere l&apos;aggiornamento.</source>
        <translation>Repeat the update.</translation>
    </message>
    <message>
        <source>Archivio %1: Corrotto.</source>
        <translation>Archive %1: Corrupt.</translation>
    </message>
    <message>
        <source>Decompressione del pacchetto %1: Fallita.</source>
        <translation>Unpacking of the package %1: Failed.</translation>
    </message>
    <message>
        <source>Il pacchetto %1 contiene un nome di file non valido per la memory card: %2.</source>
        <translation>The package %1 holds a file name the memory card cannot store: %2.</translation>
    </message>
    <message>
        <source>Contattare l&apos;assistenza.</source>
        <translation>Contact support.</translation>
    </message>
    <message>
        <source>La memory card è stata rimossa durante l&apos;aggiornamento.</source>
        <translation>The memory card was removed during the update.</translation>
    </message>
    <message>
        <source>Reinserire la memory card e riavviare il programma: l&apos;aggiornamento verrà completato o annullato.</source>
        <translation>Insert the memory card again and restart the program: the update will be completed or undone.</translation>
    </message>
    <message>
        <source>La memory card non ha restituito i dati scritti.</source>
        <translation>The memory card did not return the data written to it.</translation>
    </message>
    <message>
        <source>Ripetere l&apos;aggiornamento; se si ripete, sostituire la memory card.</source>
        <translation>Repeat the update; if this happens again, replace the memory card.</translation>
    </message>
    <message>
        <source>L&apos;ultimo aggiornamento si è interrotto.</source>
        <translation>The last update was interrupted.</translation>
    </message>
    <message>
        <source>La memory card è stata riportata a uno stato coerente.</source>
        <translation>The memory card has been brought back to a consistent state.</translation>
    </message>
    <message>
        <source>La memory card non può essere riportata a uno stato coerente.</source>
        <translation>The memory card cannot be brought back to a consistent state.</translation>
    </message>
    <message>
        <source>Non rimuovere la memory card e contattare l&apos;assistenza.</source>
        <translation>Do not remove the memory card and contact support.</translation>
    </message>
    <message>
        <source>Ripristino della memory card...</source>
        <translation>Restoring the memory card...</translation>
    </message>
    <message>
        <source>Spazio su disco insufficiente per scaricare l&apos;aggiornamento.</source>
        <translation>Not enough disk space to download the update.</translation>
    </message>
    <message>
        <source>Il proxy %1 richiede nome utente e password.</source>
        <translation>The proxy %1 asks for a user name and password.</translation>
    </message>
    <message>
        <source>Nome utente</source>
        <translation>User name</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>Download del pacchetto %1 non riuscito.</source>
        <translation>Download of the package %1 failed.</translation>
    </message>
    <message>
        <source>Controllare la connessione ad Internet e ripetere l&apos;aggiornamento: il download riprenderà da dove si è interrotto.</source>
        <translation>Check the Internet connection and repeat the update: the download will resume where it stopped.</translation>
    </message>
    <message>
        <source>Liberare spazio e ripetere l&apos;aggiornamento.</source>
        <translation>Free some space and repeat the update.</translation>
    </message>
    <message>
        <source>La memory card inserita non è quella controllata all&apos;inizio.</source>
        <translation>The memory card inserted is not the one checked at the start.</translation>
    </message>
    <message>
        <source>Il programma di aggiornamento è già in esecuzione.</source>
        <translation>The updater is already running.</translation>
    </message>
</context>
</TS>
