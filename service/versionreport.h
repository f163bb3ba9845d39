#pragma once

#include "service/deployment.h"

#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

/// The report of installed versions sent to the maker after every
/// installation: one row per report in the local SQLite database
/// "plugins/log/raccolta_dati_versioni.db" (table t_versione), and the upload
/// of that database by FTP to "varnohub/log/versione" on the service host.
///
/// The database is deleted only after the upload and the rename succeeded;
/// until then it keeps its rows, so the next upload carries them too.
namespace VersionReport {

/// Name of the SQL connection that the report keeps for the program's life.
QString connectionName();
/// The database file, relative to the working folder.
QString databasePath();
/// Remote folder, relative to the FTP account's login folder.
QString remoteFolder();

/// A version text as written into the database: read as a floating-point
/// number (0 when it is not one) and written in the shortest general form
/// with at most six significant digits ("3.65" stays "3.65", "" gives "0").
QString numberText(const QString &text);

/// The values the main window holds for a report.
struct Inputs
{
    QString serialNumber;
    /// Root of the instrument's card, ending with "/".
    QString cardRoot;
    QString selectedLanguageId;
    QString expiration;
    /// Version embedded in the card's main program (cardRoot + "varno/main").
    QString cardSwVersion;
    /// The updater's own version.
    QString updaterVersion = QString::fromLatin1(Deployment::updaterVersion);
    bool filesIntact = false;
    QStringList missingFiles;
};

/// Where the report gets the service's date and time; the main window binds
/// these to its HTTP client. Either may answer empty (no date known).
struct Sources
{
    std::function<QString()> dateTimeMs;
    std::function<QString()> dateStamp;
    /// The proxy login the user gave in this session (user, password); may be unset.
    std::function<QPair<QString, QString>()> proxyLogin;
};

/// One row of t_versione, every value as the text that is stored.
struct Row
{
    QString sn, device, createDate, expiration, verSw, verUpdate, verAuto, verDbAuto, verMoto, verDbMoto,
        verTruck, verDbTruck, verRemedo, password, language, owner, family, checksum, filesMissing;
};

/// Gathers the row: the inputs, the card's "varno/syslang.ini" and the
/// account code of "./password.ini".
Row buildRow(const Inputs &inputs, const QString &createDate);

enum class RecordResult {
    NotOpened, ///< the database could not be opened; nothing written
    NoDate, ///< the service gave no date; nothing written
    InsertFailed, ///< the row was refused (for example a file that is not a database)
    Written, ///< the row was written; the upload followed
};

enum class UploadResult {
    NoDate, ///< the service gave no date stamp; nothing sent, the file stays
    NoConnection, ///< use_proxy_parameters is "1" without a proxy to use, or another value than "0"
                  ///< and "1": no connection is made, the file stays
    NoFile, ///< there is no database to send
    NotReadable, ///< no consistent copy could be taken (locked, not a database); the file stays
    Failed, ///< the FTP exchange failed; the file stays for the next report
    Uploaded, ///< uploaded and renamed; the local file was deleted
};

/// Options of the FTP exchange that tests shorten; the defaults serve the program.
struct UploadOptions
{
    int connectTimeout = 20;
    int responseTimeout = 60;
    int lowSpeedTime = 30;
};

/// Appends one row and, when it was written, uploads the database.
/// uploadResult (optional) receives the upload's outcome.
RecordResult record(const Inputs &inputs, const Sources &sources, UploadResult *uploadResult = nullptr,
                    const UploadOptions &options = UploadOptions());

/// Sends the database to the service host (account, host and port from
/// "http_server.ini", serial number from "password.ini") and deletes it on success.
UploadResult upload(const Sources &sources, const UploadOptions &options = UploadOptions());

/// The FTP account for a service address: the partner's for the partner
/// host, the maker's for every other address.
struct Account
{
    QString user;
    QString password;
};
Account accountFor(const QString &serverAddress);

} // namespace VersionReport
