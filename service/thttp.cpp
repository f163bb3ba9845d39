#include "service/thttp.h"

#include "platform/platform.h"
#include "service/deployment.h"
#include "service/serviceanswers.h"

#include <QAuthenticator>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QTimer>
#include <QUrl>

#include <filesystem>
#include <system_error>

Q_LOGGING_CATEGORY(lcService, "update_hub.service")

namespace {

const QString servicePathRoot = QStringLiteral("/files/varnohub/");

// A query value as the service decodes it back (Latin-1, reserved characters encoded).
QString q(const QString &value)
{
    return ServiceAnswers::queryValue(value);
}

// A text answer larger than this is not an answer of the service.
constexpr qsizetype maxTextAnswer = 16 * 1024 * 1024;

} // namespace

THttp::THttp(QObject *parent)
    : QObject(parent)
    , manager(new QNetworkAccessManager(this))
{
    // Packages arrive in chunks allocated on the network thread and freed
    // here; without this the heap returns and re-faults them all the time.
    Platform::keepFreedMemoryForReuse();
    // Redirects are never followed: the service is asked on one host only.
    manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    // A proxy that wants a login (407): the request ends here without one,
    // and run() asks the user and sends it again. Asked from within this
    // signal, the user would be timed by the request's stall time-out.
    connect(manager, &QNetworkAccessManager::proxyAuthenticationRequired, this,
            [this](const QNetworkProxy &proxy, QAuthenticator *) {
                qCDebug(lcService).noquote() << "proxy" << proxy.hostName() << proxy.port() << "asks for a login";
                if (cancelFlag || !askProxyLogin) {
                    proxyLoginRefused = true;
                    return;
                }
                proxyLoginWanted = true;
                proxyAsking = proxy;
            });

    QSettings settings(QStringLiteral("./http_server.ini"), QSettings::IniFormat);
    const QString proxyPort = settings.value(QStringLiteral("server/proxy_port")).toString();
    const QString proxyServer = settings.value(QStringLiteral("server/proxy_server")).toString();
    const QString subdir
        = settings.value(QStringLiteral("server/subdir"), QStringLiteral("praxo")).toString();
    const QString address
        = settings.value(QStringLiteral("server/address"), QLatin1String(Deployment::defaultServiceHost))
              .toString();
    useProxyText
        = settings.value(QStringLiteral("server/use_proxy_parameters"), QStringLiteral("0")).toString();
    // The keys below came later; files without them keep the old behaviour.
    const auto number = [&settings](const QString &key, int fallback, int highest) {
        bool ok = false;
        const int value = settings.value(key).toString().trimmed().toInt(&ok);
        return ok && value > 0 && value <= highest ? value : fallback;
    };
    httpPort = number(QStringLiteral("server/port"), 80, 65535);
    ftpServerPort = number(QStringLiteral("server/ftp_port"), 21, 65535);
    stallSeconds = number(QStringLiteral("server/stall_timeout"), 60, 24 * 3600);
    {
        bool ok = false;
        const int value = settings.value(QStringLiteral("server/download_retries")).toString().trimmed().toInt(&ok);
        retries = ok && value >= 0 && value <= 100 ? value : 3;
    }
    setServer(address, subdir, proxyServer, proxyPort);

    speedTimer = new QTimer(this);
    speedTimer->setSingleShot(true);
    connect(speedTimer, &QTimer::timeout, this, &THttp::timeSpeed);
    speedTimer->start(1000);
}

THttp::~THttp() = default;

void THttp::setServer(const QString &address, const QString &customization, const QString &proxyServer,
                      const QString &proxyPort)
{
    qCDebug(lcService).noquote() << "Host:" << address << "; Directory:" << customization;
    qCDebug(lcService).noquote() << "Proxy:" << proxyServer << "; Port:" << proxyPort;
    customizationKey = customization;
    if (!proxyServer.simplified().isEmpty() || !proxyPort.simplified().isEmpty()) {
        // A port that is not a number (or not a port) is set as 0.
        bool ok = false;
        const int port = proxyPort.trimmed().toInt(&ok);
        const quint16 proxyPortNumber = ok && port > 0 && port <= 65535 ? quint16(port) : 0;
        manager->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, proxyServer, proxyPortNumber));
    } else {
        // No proxy of its own: the system's settings (Windows' Internet
        // settings; http_proxy, https_proxy and no_proxy elsewhere).
        QNetworkProxyFactory::setUseSystemConfiguration(true);
        manager->setProxy(QNetworkProxy(QNetworkProxy::DefaultProxy));
    }
    serverAddress = address;
}

QNetworkProxy THttp::proxyFor(const QUrl &url) const
{
    const QNetworkProxy own = manager->proxy();
    if (own.type() != QNetworkProxy::DefaultProxy)
        return own;
    const QList<QNetworkProxy> system = QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(url));
    return system.isEmpty() ? QNetworkProxy(QNetworkProxy::NoProxy) : system.first();
}

void THttp::close()
{
    manager->clearConnectionCache();
}

void THttp::responseHeaderReceived(QNetworkReply *reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return;
    qCDebug(lcService) << "Size :" << reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    qCDebug(lcService) << "Type :" << reply->header(QNetworkRequest::ContentTypeHeader).toString();
    lastStatusCode = status.toInt();
    qCDebug(lcService) << "Status Code :" << lastStatusCode;
}

void THttp::stateChanged(int state)
{
    static const char *const names[]
        = { "Unconnected", "Host Lookup", "Connecting", "Sending", "Reading", "Connect", "Closing" };
    if (state >= 0 && state < 7)
        qCDebug(lcService) << names[state];
}

void THttp::requestFinished(int id, bool error)
{
    qCDebug(lcService) << "Request Id :" << id << (error ? "Error" : "");
}

THttp::Outcome THttp::run(const QByteArray &method, const QString &path, QIODevice *sink, QByteArray *text,
                          QIODevice *body, int *status, RunOptions *options)
{
    const int id = ++requestId;
    const int statusBefore = lastStatusCode;
    proxyLoginRefused = false;
    proxyLoginWanted = false;
    // A new transfer counts its progress from zero, whatever the last one reached.
    lastDone = 0;
    if (status)
        *status = 0;
    if (cancelFlag) {
        lastTransferFailed = true;
        return Outcome::Failed;
    }

    // The path goes out as built, as Latin-1 bytes: only what a request line
    // cannot carry raw is encoded, escapes already in it are not encoded again.
    const QByteArray address = "http://" + serverAddress.toLatin1() + ':' + QByteArray::number(httpPort)
        + ServiceAnswers::requestTarget(path);
    QNetworkRequest request(QUrl::fromEncoded(address, QUrl::TolerantMode));
    // No byte for this long (before or after the header) aborts the transfer.
    request.setTransferTimeout(stallSeconds * 1000);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // Bodies arrive as sent, so their size can be checked against Content-Length.
    request.setRawHeader(QByteArrayLiteral("Accept-Encoding"), QByteArrayLiteral("identity"));
    if (body)
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/octet-stream"));
    if (options) {
        for (const auto &header : std::as_const(options->headers))
            request.setRawHeader(header.first, header.second);
    }

    stateChanged(2);
    QNetworkReply *reply = method == "POST" ? manager->post(request, body) : manager->get(request);
    // Downloads into a file keep little in memory: the network thread waits
    // while this much is unread. When the other side closes the connection
    // early, the network thread discards whatever it received beyond this
    // (it was never handed over), and the resumed transfer fetches it again.
    // Each time the limit is reached the two threads wait for each other,
    // which costs most where passing between threads is slow (under Wine
    // a 1 MiB limit made the downloads of an installation take a fifth
    // longer); 4 MiB keeps those waits and the refetches rare.
    if (sink)
        reply->setReadBufferSize(4 * 1024 * 1024);
    activeReply = reply;
    bool headerSeen = false;
    bool tooLarge = false;
    bool writeFailed = false;
    qint64 bodyBytes = 0;
    // A transfer with a header decision writes only what it was told to keep.
    bool decided = !(options && options->onHeader);
    BodyUse use = BodyUse::Write;
    auto decide = [&]() {
        if (decided || !reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
            return;
        decided = true;
        use = options->onHeader(reply);
        if (use == BodyUse::Abort)
            reply->abort();
    };

    // Downloads pass through one reused buffer: no allocation per chunk.
    QByteArray buffer;
    if (sink)
        buffer.resize(256 * 1024);
    auto take = [&]() {
        if (sink) {
            decide();
            if (!decided || use == BodyUse::Abort)
                return;
            qint64 count = 0;
            while (!writeFailed && (count = reply->read(buffer.data(), buffer.size())) > 0) {
                bodyBytes += count;
                if (use == BodyUse::Discard)
                    continue;
                if (sink->write(buffer.constData(), count) != count) {
                    qCDebug(lcService) << "cannot write the download:" << sink->errorString();
                    writeFailed = true;
                    reply->abort();
                }
            }
            return;
        }
        const QByteArray chunk = reply->readAll();
        if (chunk.isEmpty() || !text)
            return;
        bodyBytes += chunk.size();
        if (text->size() + chunk.size() > maxTextAnswer) {
            qCDebug(lcService) << "answer larger than" << maxTextAnswer << "bytes: abandoned";
            tooLarge = true;
            reply->abort();
        } else {
            text->append(chunk);
        }
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, [&]() {
        if (!headerSeen && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
            headerSeen = true;
            stateChanged(4);
            responseHeaderReceived(reply);
            if (sink)
                decide();
        }
    });
    connect(reply, &QNetworkReply::readyRead, this, take);
    connect(reply, &QNetworkReply::downloadProgress, this, &THttp::dataReadProgress);
    connect(reply, &QNetworkReply::uploadProgress, this, &THttp::dataSendProgress);

    QEventLoop waitLoop;
    connect(reply, &QNetworkReply::finished, &waitLoop, &QEventLoop::quit);
    // User input waits: a click during a request must not start a second one.
    if (!reply->isFinished())
        waitLoop.exec(userInputAllowed ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    // An aborted reply (stall time-out) is closed and has nothing left to read.
    if (!tooLarge && !writeFailed && reply->isOpen())
        take();
    activeReply = nullptr;
    if (options)
        options->writeFailed = writeFailed;
    if (!headerSeen && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
        headerSeen = true;
        responseHeaderReceived(reply);
    }
    // Nothing of this reply may reach the locals above once we return.
    reply->disconnect(this);

    const QNetworkReply::NetworkError error = reply->error();
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    // Errors below 200 are connection and proxy failures (refused, dropped,
    // stall time-out, ...); ProtocolFailure is a broken answer. HTTP statuses
    // such as 404 are answers: their body is kept for the caller.
    const bool transportFailed
        = (error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied)
        || error == QNetworkReply::ProtocolFailure;
    // A close before the announced length is usually RemoteHostClosedError,
    // but the count is checked as well. Without a Content-Length the end of
    // the body is the end of the connection, so a drop cannot be told apart.
    // A 304, a 204 or a 1xx answer has no body, whatever length it names.
    const int answerStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool bodiless
        = answerStatus == 304 || answerStatus == 204 || (answerStatus >= 100 && answerStatus < 200);
    const bool shortBody = headerSeen && announced.isValid() && method != "HEAD" && !bodiless
        && bodyBytes != announced.toLongLong();
    const bool aborted = decided && use == BodyUse::Abort;
    bool failed = tooLarge || writeFailed || shortBody || transportFailed || !headerSeen || aborted;
    requestFinished(id, failed || error != QNetworkReply::NoError);
    if (error != QNetworkReply::NoError)
        qCDebug(lcService) << "error" << error << reply->errorString();
    if (shortBody)
        qCDebug(lcService) << "body of" << bodyBytes << "bytes, announced" << announced.toLongLong();
    reply->deleteLater();
    stateChanged(0);

    // A proxy asked for a login (407), or turned the one given away with 401
    // (as some do; the service itself never asks for one): the user is asked
    // now that no request is waiting, and the request goes out once more,
    // with a stall time-out of its own, through the proxy with that login.
    // The network layer keeps the login for its later connections.
    const bool loginAsked = proxyLoginWanted || (!failed && answerStatus == 401 && !proxyUser.isEmpty());
    if (loginAsked && !cancelFlag) {
        const QNetworkProxy proxy = proxyLoginWanted ? proxyAsking : proxyFor(request.url());
        if (proxy.type() == QNetworkProxy::HttpProxy) {
            QString user = proxyUser;
            QString password;
            const QString name = proxy.hostName() + QLatin1Char(':') + QString::number(proxy.port());
            qCDebug(lcService).noquote() << "proxy" << name << (proxyLoginWanted ? "wants" : "refused") << "a login";
            if (askProxyLogin && askProxyLogin(name, &user, &password)) {
                proxyUser = user;
                proxySecret = password;
                QNetworkProxy withLogin = proxy;
                withLogin.setUser(user);
                withLogin.setPassword(password);
                manager->setProxy(withLogin);
                manager->clearAccessCache();
                auto *file = qobject_cast<QFileDevice *>(sink);
                const bool rewound
                    = (!sink || (options && options->onHeader) || (file && file->resize(0) && file->seek(0)))
                    && (!body || body->seek(0));
                if (rewound) {
                    if (text)
                        text->clear();
                    return run(method, path, sink, text, body, status, options);
                }
            }
            proxyLoginRefused = true;
            failed = true;
        }
    }

    lastTransferFailed = failed;
    if (failed) {
        // A broken transfer is a failed connection: no answer, and the status
        // of its header (if one came) does not count.
        lastStatusCode = statusBefore;
        if (text)
            text->clear();
        return Outcome::Failed;
    }
    if (status)
        *status = lastStatusCode;
    return Outcome::Complete;
}

QString THttp::getText(const QString &path)
{
    QByteArray answer;
    run("GET", path, nullptr, &answer);
    return QString::fromLatin1(answer);
}

bool THttp::getToFile(const QString &path, const QString &localFile)
{
    // The target is replaced only by a complete download: an older copy
    // survives a broken transfer.
    const QString partFile = localFile + QStringLiteral(".part");
    QFile part(partFile);
    if (!part.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        qCDebug(lcService) << "cannot create" << partFile << part.errorString();
        return false;
    }
    int status = 0;
    const Outcome outcome = run("GET", path, &part, nullptr, nullptr, &status);
    const bool flushed = part.flush();
    part.close();
    const bool complete
        = outcome == Outcome::Complete && status == 200 && flushed && part.error() == QFileDevice::NoError;
    if (!complete) {
        QFile::remove(partFile);
        return false;
    }
    // One rename that replaces the target, so no moment is left without it.
    std::error_code failure;
    std::filesystem::rename(std::filesystem::path(partFile.toStdU16String()),
                            std::filesystem::path(localFile.toStdU16String()), failure);
    if (failure) {
        qCDebug(lcService) << "cannot rename" << partFile << "to" << localFile
                           << QString::fromStdString(failure.message());
        QFile::remove(partFile);
        return false;
    }
    return true;
}

QString THttp::login(const QString &code)
{
    return getText(servicePathRoot + QStringLiteral("login.asp?password=")
                   + q(ServiceAnswers::accountCode(code)));
}

QString THttp::updateUserData(const QString &code, const QString &field, const QString &value)
{
    // Every reserved character of the value is encoded ("Rossi & Figli" must
    // not cut the query, "/" included); blanks come out as "%20".
    return getText(servicePathRoot + QStringLiteral("update_user_data.asp?password=")
                   + q(ServiceAnswers::accountCode(code)) + QStringLiteral("&data2update=") + q(field)
                   + QStringLiteral("&value=") + ServiceAnswers::queryValue(value, QByteArray()));
}

QString THttp::getCustomRedirection()
{
    qCDebug(lcService) << "customization" << customizationKey;
    return getText(servicePathRoot + QStringLiteral("get_custom_redirection.asp?customization=")
                   + q(customizationKey));
}

QString THttp::getBbadReleases(const QString &language, const QString &productFolder)
{
    return getText(servicePathRoot + QStringLiteral("get_bbad_releases.asp?language=") + q(language)
                   + QStringLiteral("&workdir_product=") + q(productFolder) + QStringLiteral("&customization=")
                   + q(customizationKey));
}

QString THttp::getMitReleases(const QString &language, const QString &productFolder)
{
    return getText(servicePathRoot + QStringLiteral("get_mit_releases.asp?language=") + q(language)
                   + QStringLiteral("&workdir_product=") + q(productFolder) + QStringLiteral("&customization=")
                   + q(customizationKey));
}

QString THttp::getProductNames()
{
    return getText(servicePathRoot + QStringLiteral("get_product_names.asp?customization=")
                   + q(customizationKey));
}

QString THttp::getMaxBbadRelease(const QString &productFolder, const QString &key)
{
    return getText(servicePathRoot + QStringLiteral("get_max_bbad_release.asp?workdir_product=")
                   + q(productFolder) + QStringLiteral("&customization=") + q(key));
}

QString THttp::getFileBbad2Download(const QString &code, const QString &version, const QString &workFolder,
                                    const QString &key)
{
    return getText(servicePathRoot + QStringLiteral("get_filebbad2download.asp?password=")
                   + q(ServiceAnswers::accountCode(code)) + QStringLiteral("&bbadversion=")
                   + q(ServiceAnswers::versionValue(version)) + QStringLiteral("&wdir=")
                   + q(ServiceAnswers::productValue(workFolder)) + QStringLiteral("&customization=") + q(key));
}

QString THttp::getFile2Download(const QString &code, const QString &language, const QString &adVersion,
                                const QString &mitVersion, const QString &product, const QString &key)
{
    return getText(servicePathRoot + QStringLiteral("get_file2download.asp?password=")
                   + q(ServiceAnswers::accountCode(code)) + QStringLiteral("&language=") + q(language)
                   + QStringLiteral("&adversion=") + q(ServiceAnswers::versionValue(adVersion))
                   + QStringLiteral("&mitversion=") + q(ServiceAnswers::versionValue(mitVersion))
                   + QStringLiteral("&id_product_active=") + q(ServiceAnswers::productValue(product))
                   + QStringLiteral("&customization=") + q(key));
}

qint64 THttp::getFileSize(const QString &entry)
{
    const QString path = entry.section(QLatin1Char(':'), 0, 0);
    const QString request = servicePathRoot + QStringLiteral("get_filesize.asp?file=") + q(path);
    qCDebug(lcService) << request;
    const QString answer = getText(request);
    // A dropped answer or an error page says nothing about the file.
    return answeredOk() ? ServiceAnswers::fileSize(answer) : -1;
}

QList<qint64> THttp::fileSizes(const QStringList &entries)
{
    fileCount = int(entries.size());
    QList<qint64> sizes;
    for (const QString &entry : entries) {
        sizes << getFileSize(entry);
        expectedTotal += sizes.last();
    }
    return sizes;
}

void THttp::cancel()
{
    cancelFlag = true;
    if (activeReply)
        activeReply->abort();
    emit cancelRequested();
}

namespace {

// "bytes FIRST-LAST/LENGTH" of a 206 answer; false for any other form.
bool parseContentRange(const QByteArray &value, qint64 *first, qint64 *last, qint64 *length)
{
    const QByteArray text = value.trimmed();
    if (!text.startsWith("bytes "))
        return false;
    const QByteArray bounds = text.mid(6).trimmed();
    const int dash = bounds.indexOf('-');
    const int slash = bounds.indexOf('/');
    if (dash <= 0 || slash <= dash + 1)
        return false;
    bool ok1 = false;
    bool ok2 = false;
    bool ok3 = false;
    *first = bounds.left(dash).toLongLong(&ok1);
    *last = bounds.mid(dash + 1, slash - dash - 1).toLongLong(&ok2);
    *length = bounds.mid(slash + 1).toLongLong(&ok3);
    return ok1 && ok2 && ok3 && *first >= 0 && *last >= *first && *length > *last;
}

// Retry-After as seconds from now: a number of seconds or an HTTP date; -1
// when absent or unreadable.
int retryAfterSeconds(const QByteArray &value)
{
    const QByteArray text = value.trimmed();
    if (text.isEmpty())
        return -1;
    bool ok = false;
    const qint64 seconds = text.toLongLong(&ok);
    if (ok)
        return seconds < 0 ? -1 : int(qMin<qint64>(seconds, 24 * 3600));
    const QDateTime when = QDateTime::fromString(QString::fromLatin1(text), Qt::RFC2822Date);
    if (!when.isValid())
        return -1;
    return int(qBound<qint64>(qint64(0), QDateTime::currentDateTimeUtc().secsTo(when), qint64(24 * 3600)));
}

// The statuses of a service or a proxy that is busy or hiccuping: asked
// again, the same request may well succeed.
bool isPassingFailure(int status)
{
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

} // namespace

THttp::TransferResult THttp::transfer(const QString &path, QFile &file, const TransferConditions &conditions)
{
    TransferResult result;
    RunOptions options;
    if (conditions.offset > 0) {
        options.headers.append({ QByteArrayLiteral("Range"),
                                 "bytes=" + QByteArray::number(conditions.offset) + '-' });
        if (!conditions.ifRange.isEmpty())
            options.headers.append({ QByteArrayLiteral("If-Range"), conditions.ifRange });
    }
    if (!conditions.ifNoneMatch.isEmpty())
        options.headers.append({ QByteArrayLiteral("If-None-Match"), conditions.ifNoneMatch });
    else if (!conditions.ifModifiedSince.isEmpty())
        options.headers.append({ QByteArrayLiteral("If-Modified-Since"), conditions.ifModifiedSince });

    bool startOver = false;
    bool fileFailed = false;
    options.onHeader = [&](QNetworkReply *reply) {
        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.etag = reply->rawHeader(QByteArrayLiteral("ETag"));
        result.lastModified = reply->rawHeader(QByteArrayLiteral("Last-Modified"));
        if (result.status == 200) {
            // The whole file: whatever was held is replaced.
            const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
            result.length = length.isValid() ? length.toLongLong() : -1;
            if (!file.resize(0) || !file.seek(0)) {
                fileFailed = true;
                return BodyUse::Abort;
            }
            progressBase = 0;
            return BodyUse::Write;
        }
        if (result.status == 206) {
            qint64 first = 0;
            qint64 last = 0;
            qint64 length = 0;
            // Only the rest of what is held fits: any other piece starts the file over.
            if (conditions.offset <= 0
                || !parseContentRange(reply->rawHeader(QByteArrayLiteral("Content-Range")), &first, &last,
                                      &length)
                || first != conditions.offset || last != length - 1) {
                qCDebug(lcService) << "range answer does not fit" << conditions.offset
                                   << reply->rawHeader(QByteArrayLiteral("Content-Range"));
                startOver = true;
                return BodyUse::Abort;
            }
            // The rest of another version: a length or a validator other
            // than those of the bytes held.
            const QByteArray sent = conditions.ifRange.trimmed();
            const bool tagSent = sent.startsWith('"');
            const bool otherVersion = (conditions.length >= 0 && length != conditions.length)
                || (tagSent && !result.etag.isEmpty() && result.etag.trimmed() != sent)
                || (!sent.isEmpty() && !tagSent && !result.lastModified.isEmpty()
                    && result.lastModified.trimmed() != sent);
            if (otherVersion) {
                qCDebug(lcService) << "range answer of another version" << length << conditions.length
                                   << result.etag << result.lastModified << sent;
                startOver = true;
                return BodyUse::Abort;
            }
            result.length = length;
            if (!file.seek(conditions.offset)) {
                fileFailed = true;
                return BodyUse::Abort;
            }
            progressBase = conditions.offset;
            return BodyUse::Write;
        }
        if (result.status == 416)
            startOver = true;
        result.retryAfter = retryAfterSeconds(reply->rawHeader(QByteArrayLiteral("Retry-After")));
        return BodyUse::Discard;
    };

    int status = 0;
    const Outcome outcome = run("GET", path, &file, nullptr, nullptr, &status, &options);
    progressBase = 0;
    const bool flushed = file.flush();
    if (cancelFlag)
        result.kind = TransferResult::Cancelled;
    else if (proxyLoginRefused)
        result.kind = TransferResult::Refused;
    else if (startOver)
        result.kind = TransferResult::StartOver;
    else if (fileFailed || options.writeFailed || !flushed)
        result.kind = TransferResult::WriteFailed;
    else if (outcome == Outcome::Complete && (status == 200 || status == 206))
        result.kind = TransferResult::Complete;
    else if (outcome == Outcome::Complete && status == 304)
        result.kind = TransferResult::NotModified;
    else if (outcome == Outcome::Complete && isPassingFailure(status))
        result.kind = TransferResult::Busy;
    else if (outcome == Outcome::Complete)
        result.kind = TransferResult::Refused;
    else
        result.kind = TransferResult::Broken;
    return result;
}

qint64 THttp::sumFileSizes(const QStringList &entries)
{
    fileCount = int(entries.size());
    for (const QString &entry : entries)
        expectedTotal += qMax<qint64>(0, getFileSize(entry)); // -1: unknown, adds nothing
    return expectedTotal;
}

bool THttp::uploadFile(const QString &localFolder, const QString &remotePrefix, const QString &fileName)
{
    QFile file(localFolder + fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray answer;
    run("POST", servicePathRoot + QStringLiteral("upload_file.asp?file_name=") + q(remotePrefix + fileName),
        nullptr, &answer, &file);
    return answer == "UPLOAD OK";
}

QString THttp::getDateTimeMs()
{
    return ServiceAnswers::dateTimeMs(getText(servicePathRoot + QStringLiteral("datetime_ms.asp")));
}

QString THttp::getDateStamp()
{
    return ServiceAnswers::dateStamp(getText(servicePathRoot + QStringLiteral("datetime_ov.asp")));
}

bool THttp::isUpdaterNewer(double installedVersion)
{
    const QString latest = getText(servicePathRoot + customizationKey
                                   + QStringLiteral("/update_software_varno_update/pc/ver_update.txt"));
    return installedVersion < ServiceAnswers::versionNumber(latest);
}

void THttp::dataReadProgress(qint64 done, qint64 total)
{
    if (speedTimer && speedTimer->isActive()) {
        if (done < lastDone)
            lastDone = 0;
        currentTotal = total;
        bytesThisSecond += done - lastDone;
        lastDone = done;
    }
    // A resumed transfer shows the whole file: what was held counts as done.
    emit emitValue(done + progressBase, total >= 0 ? total + progressBase : total, timeDownload, speedDownload,
                   receivedTotal);
    qCDebug(lcService) << done;
}

void THttp::dataSendProgress(qint64 done, qint64 total)
{
    dataReadProgress(done, total);
}

void THttp::timeSpeed()
{
    speedTimer->stop();
    if (bytesThisSecond > 0) {
        receivedTotal += bytesThisSecond;
        ++activeSeconds;
        const qint64 rate = receivedTotal / activeSeconds;
        const qint64 secondsLeft = rate > 0 ? (expectedTotal - receivedTotal) / rate : -1;
        timeDownload = ServiceAnswers::timeLeftText(expectedTotal > 0 ? secondsLeft : -1);
        speedDownload = ServiceAnswers::speedText(rate, bytesThisSecond);
    }
    bytesThisSecond = 0;
    speedTimer->start(1000);
}
