#include "service/versionreport.h"

#include "language/languagefiles.h"
#include "service/deployment.h"
#include "service/ftpupload.h"
#include "settings/tinifiles.h"

#include <QFile>
#include <QLoggingCategory>
#include <QNetworkProxy>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUrl>

#include <cmath>

Q_DECLARE_LOGGING_CATEGORY(lcFtp)

namespace VersionReport {

namespace {

const char createStatement[]
    = "CREATE TABLE IF NOT EXISTS t_versione (id INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, sn VARCHAR(50) "
      "NOT "
      "NULL, device VARCHAR(50), createDate TEXT NOT NULL, expiration VARCHAR(50), verSw DECIMAL(6,2), "
      "verUpdate "
      "DECIMAL(6,2), verAuto DECIMAL(6,2), verDbAuto DECIMAL(6,2), verMoto DECIMAL(6,2), verDbMoto "
      "DECIMAL(6,2), "
      "verTruck DECIMAL(6,2), verDbTruck DECIMAL(6,2), verRemedo DECIMAL(6,2), verFw DECIMAL(6,2), verSd "
      "DECIMAL(6,2), password VARCHAR(50), language VARCHAR(3), owner VARCHAR(50), family VARCHAR(50), "
      "checksum "
      "TINYINT(1), filesMissing TEXT )";

// Values are bound, never placed into the text: an apostrophe in the account
// code or the language would otherwise break the statement.
const char insertStatement[]
    = "INSERT INTO t_versione "
      "(id,sn,device,createDate,expiration,verSw,verUpdate,verAuto,verDbAuto,verMoto,verDbMoto,verTruck,"
      "verDbTruck,verRemedo,verFw,verSd,password,language,owner,family,checksum,filesMissing) VALUES "
      "(NULL,?,?,?,?,?,?,?,?,?,?,?,?,?,NULL,NULL,?,?,?,?,?,?)";

// Every value was a quoted text in the statement, so an empty one is '' and
// never NULL (sn and createDate are NOT NULL); a null QString binds as NULL.
QString textValue(const QString &value)
{
    return value.isNull() ? QString::fromLatin1("", 0) : value;
}

QString settingsText(const QString &file, const QString &section, const QString &key,
                     const QString &defaultValue)
{
    TIniFiles ini(file, true);
    return ini.readString(section, key, defaultValue);
}

// A transaction-consistent copy of the database in a temporary file, made by
// SQLite itself (a hot journal is rolled back, a writer's lock is respected).
QByteArray databaseSnapshot(const QString &path)
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return {};
    const QString copyPath = dir.filePath(QStringLiteral("copy.db"));
    const QString name = connectionName() + QStringLiteral("_copy");
    bool copied = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
        if (db.open()) {
            QSqlQuery query(db);
            copied = query.prepare(QStringLiteral("VACUUM INTO ?"));
            if (copied) {
                query.addBindValue(copyPath);
                copied = query.exec();
            }
            if (!copied)
                qCWarning(lcFtp) << "copy of" << path << "failed:" << query.lastError().text();
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (!copied)
        return {};
    QFile copy(copyPath);
    return copy.open(QIODevice::ReadOnly) ? copy.readAll() : QByteArray();
}

} // namespace

QString connectionName()
{
    return QStringLiteral("raccolta_dati_versioni");
}

QString databasePath()
{
    return QStringLiteral("plugins/log/raccolta_dati_versioni.db");
}

QString remoteFolder()
{
    return QStringLiteral("varnohub/log/versione");
}

QString numberText(const QString &text)
{
    const double number = LanguageFiles::versionNumber(text);
    return QString::number(std::isfinite(number) ? number : 0.0, 'g', 6);
}

Account accountFor(const QString &serverAddress)
{
    if (serverAddress == QLatin1String(Deployment::partnerServiceHost))
        return { QStringLiteral("quorelbantisva"), QStringLiteral("pentrolivaskoum") };
    return { QStringLiteral("drumelfask"), QStringLiteral("vilta") };
}

Row buildRow(const Inputs &inputs, const QString &createDate)
{
    TIniFiles syslang(inputs.cardRoot + QStringLiteral("varno/syslang.ini"), false);
    const QString id = inputs.selectedLanguageId;
    const QString autoRelease
        = numberText(syslang.readString(QStringLiteral("ad"), id, QStringLiteral("26")));
    const QString motoRelease
        = numberText(syslang.readString(QStringLiteral("admoto_files"), id, QStringLiteral("26")));
    const QString truckRelease
        = numberText(syslang.readString(QStringLiteral("adtruck_files"), id, QStringLiteral("26")));

    QString password;
    if (QFile::exists(QStringLiteral("./password.ini"))) {
        QSettings account(QStringLiteral("./password.ini"), QSettings::IniFormat);
        password = account.value(QStringLiteral("impostazioni/password")).toString();
    }

    Row row;
    row.sn = inputs.serialNumber;
    row.device = QStringLiteral("ASTER");
    row.createDate = createDate;
    row.expiration = inputs.expiration;
    row.verSw = numberText(inputs.cardSwVersion);
    row.verUpdate = numberText(inputs.updaterVersion);
    row.verAuto = autoRelease;
    row.verDbAuto = autoRelease;
    row.verMoto = motoRelease;
    row.verDbMoto = motoRelease;
    row.verTruck = truckRelease;
    row.verDbTruck = truckRelease;
    row.verRemedo = numberText(QStringLiteral("0"));
    row.password = password;
    row.language = inputs.selectedLanguageId;
    row.owner = QString::fromLatin1(Deployment::ownerCode);
    row.family = QStringLiteral("EU");
    row.checksum = inputs.filesIntact ? QStringLiteral("1") : QStringLiteral("0");
    row.filesMissing = inputs.missingFiles.join(QLatin1Char('|'));
    return row;
}

RecordResult record(const Inputs &inputs, const Sources &sources, UploadResult *uploadResult,
                    const UploadOptions &options)
{
    // The connection is kept for the program's life; the file is opened per report.
    QSqlDatabase db = QSqlDatabase::contains(connectionName())
        ? QSqlDatabase::database(connectionName(), false)
        : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName());
    db.setDatabaseName(databasePath());
    if (!db.open()) {
        qCWarning(lcFtp) << "ERRORE : Open database raccolta_dati_versioni.db";
        return RecordResult::NotOpened;
    }

    {
        QSqlQuery create(db);
        if (!create.exec(QString::fromLatin1(createStatement)))
            qCDebug(lcFtp) << "create table:" << create.lastError().text();
    }

    const QString createDate = sources.dateTimeMs ? sources.dateTimeMs() : QString();
    if (createDate.isEmpty())
        return RecordResult::NoDate; // the next report opens the file again

    const Row row = buildRow(inputs, createDate);
    bool inserted = false;
    {
        QSqlQuery insert(db);
        if (insert.prepare(QString::fromLatin1(insertStatement))) {
            for (const QString *value :
                 { &row.sn, &row.device, &row.createDate, &row.expiration, &row.verSw, &row.verUpdate,
                   &row.verAuto, &row.verDbAuto, &row.verMoto, &row.verDbMoto, &row.verTruck, &row.verDbTruck,
                   &row.verRemedo, &row.password, &row.language, &row.owner, &row.family, &row.checksum,
                   &row.filesMissing })
                insert.addBindValue(textValue(*value));
            inserted = insert.exec();
        }
        if (!inserted)
            qCDebug(lcFtp) << "insert:" << insert.lastError().text();
    }
    db.close();
    if (!inserted) {
        qCWarning(lcFtp) << "ERRORE : INSERT INTO t_versione";
        return RecordResult::InsertFailed;
    }

    const UploadResult sent = upload(sources, options);
    if (uploadResult)
        *uploadResult = sent;
    return RecordResult::Written;
}

UploadResult upload(const Sources &sources, const UploadOptions &options)
{
    const QString serial = settingsText(QStringLiteral("password.ini"), QStringLiteral("impostazioni"),
                                        QStringLiteral("serialnumber"), QString());
    const QString stamp = sources.dateStamp ? sources.dateStamp() : QString();
    if (stamp.isEmpty())
        return UploadResult::NoDate;

    TIniFiles server(QStringLiteral("http_server.ini"), true);
    const QString address = server.readString(QStringLiteral("server"), QStringLiteral("address"),
                                              QString::fromLatin1(Deployment::defaultServiceHost));
    const QString useProxy = server
                                 .readString(QStringLiteral("server"), QStringLiteral("use_proxy_parameters"),
                                             QStringLiteral("0"))
                                 .trimmed();
    QString proxy;
    if (useProxy == QLatin1String("1")) {
        // The HTTP proxy of the service requests: the one in the settings
        // file, else the system's for the service host.
        const QString proxyHost
            = server.readString(QStringLiteral("server"), QStringLiteral("proxy_server"), QString())
                  .trimmed();
        const QString proxyPort
            = server.readString(QStringLiteral("server"), QStringLiteral("proxy_port"), QString()).trimmed();
        if (!proxyHost.isEmpty()) {
            proxy = QStringLiteral("http://") + proxyHost + QLatin1Char(':')
                + (proxyPort.isEmpty() ? QStringLiteral("80") : proxyPort);
        } else {
            const QList<QNetworkProxy> system = QNetworkProxyFactory::systemProxyForQuery(
                QNetworkProxyQuery(QUrl(QStringLiteral("http://") + address + QLatin1Char('/'))));
            for (const QNetworkProxy &candidate : system) {
                if (candidate.type() == QNetworkProxy::HttpProxy && !candidate.hostName().isEmpty()) {
                    proxy = QStringLiteral("http://") + candidate.hostName() + QLatin1Char(':')
                        + QString::number(candidate.port());
                    break;
                }
            }
        }
        if (proxy.isEmpty()) {
            qCDebug(lcFtp)
                << "use_proxy_parameters is 1 but no proxy is known: the version report is not sent";
            return UploadResult::NoConnection;
        }
    } else if (useProxy != QLatin1String("0")) {
        qCDebug(lcFtp) << "use_proxy_parameters is" << useProxy << ": the version report is not sent";
        return UploadResult::NoConnection;
    }
    int port = server.readInt(QStringLiteral("server"), QStringLiteral("ftp_port"), 10, 21);
    if (port <= 0 || port > 65535)
        port = 21;

    if (!QFile::exists(databasePath()))
        return UploadResult::NoFile;
    // The file is deleted below: a connection still holding it open would
    // go on writing into the deleted file.
    if (QSqlDatabase::contains(connectionName()))
        QSqlDatabase::database(connectionName(), false).close();

    FtpUpload::Request request;
    request.content = databaseSnapshot(databasePath());
    if (request.content.isEmpty())
        return UploadResult::NotReadable;

    const Account account = accountFor(address);
    request.host = address;
    request.port = port;
    request.user = account.user;
    request.password = account.password;
    request.folder = remoteFolder();
    request.temporaryName = serial + QLatin1Char('_') + stamp + QStringLiteral("_versione.tmp");
    request.finalName = serial + QLatin1Char('_') + stamp + QStringLiteral("_versione.db");
    request.proxy = proxy;
    if (!proxy.isEmpty() && sources.proxyLogin) {
        const QPair<QString, QString> login = sources.proxyLogin();
        request.proxyUser = login.first;
        request.proxyPassword = login.second;
    }
    request.connectTimeout = options.connectTimeout;
    request.responseTimeout = options.responseTimeout;
    request.lowSpeedTime = options.lowSpeedTime;

    const FtpUpload::Result result = FtpUpload::upload(request);
    if (!result.ok)
        return UploadResult::Failed; // keep the rows for the next report

    if (!QFile::remove(databasePath()))
        qCWarning(lcFtp) << "the sent version report could not be deleted:" << databasePath();
    return UploadResult::Uploaded;
}

} // namespace VersionReport
