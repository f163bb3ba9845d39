#pragma once

#include <QList>
#include <QNetworkProxy>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QFile;
class QIODevice;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class QUrl;

/// The one client of the update service. Every request is synchronous: it
/// waits in a nested event loop, so the window keeps repainting, and returns
/// when the transfer has ended, failed, or received nothing for the stall
/// time-out. Failures give empty answers; callers check statusCode().
class THttp : public QObject
{
    Q_OBJECT

public:
    explicit THttp(QObject *parent = nullptr);
    ~THttp() override;

    void setServer(const QString &address, const QString &customization, const QString &proxyServer,
                   const QString &proxyPort);
    /// Status of the most recent response header; kept when a request gets none.
    int statusCode() const { return lastStatusCode; }
    /// True when the last request ended with a whole answer of status 200. A
    /// broken transfer keeps the status of the request before it, so the status
    /// alone would let an empty answer after a dropped connection pass as good.
    bool answeredOk() const { return !lastTransferFailed && lastStatusCode == 200; }
    void close();
    QString customization() const { return customizationKey; }
    QString address() const { return serverAddress; }
    int port() const { return httpPort; }
    int ftpPort() const { return ftpServerPort; }
    int stallTimeout() const { return stallSeconds; }
    /// "server/download_retries": how often a broken package transfer is
    /// resumed within a run (3 when absent, 0 switches retries off).
    int downloadRetries() const { return retries; }
    /// "server/use_proxy_parameters" as written ("0" when absent); the
    /// version-report upload connects directly only when it is "0".
    QString useProxyParametersText() const { return useProxyText; }
    bool useProxyParameters() const { return useProxyText.trimmed() != QLatin1String("0"); }

    /// GET of a service path; the body as Latin-1 text.
    QString getText(const QString &path);
    /// GET of a service path into a file, through "<file>.part": the file is
    /// replaced only when the whole body arrived with status 200.
    bool getToFile(const QString &path, const QString &localFile);

    QString login(const QString &code);
    QString updateUserData(const QString &code, const QString &field, const QString &value);
    QString getCustomRedirection();
    QString getBbadReleases(const QString &language, const QString &productFolder);
    QString getMitReleases(const QString &language, const QString &productFolder);
    QString getProductNames();
    QString getMaxBbadRelease(const QString &productFolder, const QString &key);
    QString getFileBbad2Download(const QString &code, const QString &version, const QString &workFolder,
                                 const QString &key);
    QString getFile2Download(const QString &code, const QString &language, const QString &adVersion,
                             const QString &mitVersion, const QString &product, const QString &key);
    qint64 getFileSize(const QString &entry);
    qint64 sumFileSizes(const QStringList &entries);
    /// The sizes of every entry (one request each), added to the running sum
    /// like sumFileSizes().
    QList<qint64> fileSizes(const QStringList &entries);

    /// What a package transfer sends beside the GET: the bytes already held
    /// (offset > 0 asks for the rest with Range) and the validators.
    struct TransferConditions
    {
        qint64 offset = 0;
        QByteArray ifRange;
        QByteArray ifNoneMatch;
        QByteArray ifModifiedSince;
        qint64 length = -1; // whole length of the file held, -1 unknown
    };
    struct TransferResult
    {
        enum Kind {
            Complete, // 200 or a fitting 206, the whole body arrived
            NotModified, // 304: the copy held is current
            StartOver, // 416 or a 206 that does not fit what is held
            Broken, // dropped, stalled or unreachable: worth resuming
            Busy, // 408, 429, 500, 502, 503, 504: worth asking again later
            Refused, // another HTTP status (404, 403, ...)
            WriteFailed, // the file could not be written (a full disk)
            Cancelled,
        };
        Kind kind = Refused;
        int status = 0;
        qint64 length = -1; // whole length of the file as announced, -1 unknown
        QByteArray etag;
        QByteArray lastModified;
        int retryAfter = -1; // seconds of a Retry-After header, -1 none
    };
    /// One GET of path into file (open for reading and writing). A 206 that
    /// starts at conditions.offset is appended there, a 200 replaces the
    /// file's content, anything else leaves it as it was.
    TransferResult transfer(const QString &path, QFile &file, const TransferConditions &conditions);

    /// Asked when a proxy wants a user name and password (407), with the
    /// proxy as "host:port" and the user name last given; false is Cancel.
    /// The answer is kept for this session only (in memory, never written).
    std::function<bool(const QString &proxy, QString *user, QString *password)> askProxyLogin;
    QString proxyUserName() const { return proxyUser; }
    QString proxyPassword() const { return proxySecret; }

    /// Aborts the request that runs and fails every request until resetCancel().
    void cancel();
    void resetCancel() { cancelFlag = false; }
    bool cancelled() const { return cancelFlag; }
    /// Lets the request waits deliver user input (a window that guards its
    /// own buttons turns this on, so that its Cancel can be pressed).
    void setUserInputAllowed(bool allowed) { userInputAllowed = allowed; }
    bool uploadFile(const QString &localFolder, const QString &remotePrefix, const QString &fileName);
    QString getDateTimeMs();
    QString getDateStamp();
    bool isUpdaterNewer(double installedVersion);

    // Progress counters (they accumulate over the client's whole life).
    QString timeText() const { return timeDownload; }
    QString speedText() const { return speedDownload; }
    qint64 received() const { return receivedTotal; }
    qint64 expected() const { return expectedTotal; }
    qint64 countedThisSecond() const { return bytesThisSecond; }
    int secondsActive() const { return activeSeconds; }
    int filesCounted() const { return fileCount; }
    QNetworkAccessManager *networkManager() const { return manager; }

signals:
    void emitValue(qint64 done, qint64 total, const QString &timeDownload, const QString &speedDownload,
                   qint64 baseTotalValue);
    /// cancel() was called.
    void cancelRequested();

public slots:
    void stateChanged(int state);
    void requestFinished(int id, bool error);
    void dataReadProgress(qint64 done, qint64 total);
    void dataSendProgress(qint64 done, qint64 total);
    void timeSpeed();

private:
    enum class Outcome { Complete, Failed };
    enum class BodyUse { Write, Discard, Abort };
    /// Extras of a package transfer: request headers, a decision on the body
    /// once the header is in, and whether writing the body failed.
    struct RunOptions
    {
        QList<QPair<QByteArray, QByteArray>> headers;
        std::function<BodyUse(QNetworkReply *)> onHeader;
        bool writeFailed = false;
    };
    /// Runs one request; the body goes to sink (a file) or is collected in text.
    /// status receives this request's HTTP status (0 when no header came).
    Outcome run(const QByteArray &method, const QString &path, QIODevice *sink, QByteArray *text,
                QIODevice *body = nullptr, int *status = nullptr, RunOptions *options = nullptr);
    void responseHeaderReceived(QNetworkReply *reply);
    /// The proxy a request of that address goes through (NoProxy: none).
    QNetworkProxy proxyFor(const QUrl &url) const;

    QNetworkAccessManager *manager = nullptr;
    QTimer *speedTimer = nullptr;
    QString customizationKey;
    QString serverAddress;
    QString useProxyText;
    int httpPort = 80;
    int ftpServerPort = 21;
    int stallSeconds = 60;
    int retries = 3;
    int requestId = 0;
    bool cancelFlag = false;
    bool userInputAllowed = false;
    QPointer<QNetworkReply> activeReply;
    qint64 progressBase = 0; // bytes a resumed transfer already had
    QString proxyUser;
    QString proxySecret;
    bool proxyLoginRefused = false; // Cancel in the proxy's login: no retry
    bool proxyLoginWanted = false; // the request ended on a proxy's 407
    QNetworkProxy proxyAsking; // the proxy that sent it

    int lastStatusCode = 0;
    bool lastTransferFailed = false;
    QString timeDownload;
    QString speedDownload;
    qint64 lastDone = 0;
    qint64 currentTotal = 0;
    qint64 bytesThisSecond = 0;
    qint64 receivedTotal = 0;
    int activeSeconds = 0;
    qint64 expectedTotal = 0;
    int fileCount = 0;
};
