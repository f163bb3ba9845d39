#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QIODevice;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

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

public slots:
    void stateChanged(int state);
    void requestFinished(int id, bool error);
    void dataReadProgress(qint64 done, qint64 total);
    void dataSendProgress(qint64 done, qint64 total);
    void timeSpeed();

private:
    enum class Outcome { Complete, Failed };
    /// Runs one request; the body goes to sink (a file) or is collected in text.
    /// status receives this request's HTTP status (0 when no header came).
    Outcome run(const QByteArray &method, const QString &path, QIODevice *sink, QByteArray *text,
                QIODevice *body = nullptr, int *status = nullptr);
    void responseHeaderReceived(QNetworkReply *reply);

    QNetworkAccessManager *manager = nullptr;
    QTimer *speedTimer = nullptr;
    QString customizationKey;
    QString serverAddress;
    QString useProxyText;
    int httpPort = 80;
    int ftpServerPort = 21;
    int stallSeconds = 60;
    int requestId = 0;

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
