#include "service/ftpupload.h"

#include <QEventLoop>
#include <QLoggingCategory>
#include <QThread>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

Q_LOGGING_CATEGORY(lcFtp, "update_hub.ftp")

namespace FtpUpload {

namespace {

struct CurlDeleter
{
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
    void operator()(CURLU *url) const { curl_url_cleanup(url); }
    void operator()(char *text) const { curl_free(text); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;
using CurlList = std::unique_ptr<curl_slist, CurlDeleter>;
using CurlUrl = std::unique_ptr<CURLU, CurlDeleter>;
using CurlText = std::unique_ptr<char, CurlDeleter>;

void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct ReadState
{
    const QByteArray *data = nullptr;
    qsizetype offset = 0;
};

size_t readChunk(char *buffer, size_t size, size_t count, void *user)
{
    auto *state = static_cast<ReadState *>(user);
    const qsizetype left = state->data->size() - state->offset;
    const size_t n = std::min<size_t>(size * count, static_cast<size_t>(left));
    if (n > 0) {
        std::memcpy(buffer, state->data->constData() + state->offset, n);
        state->offset += static_cast<qsizetype>(n);
    }
    return n;
}

// Appends one command to a list; false when libcurl could not allocate it.
bool append(CurlList &list, const QByteArray &command)
{
    curl_slist *grown = curl_slist_append(list.get(), command.constData());
    if (!grown)
        return false;
    list.release();
    list.reset(grown);
    return true;
}

Result failure(const QString &message, int code = 0)
{
    Result result;
    result.code = code;
    result.message = message;
    return result;
}

// "ftp://host:port/<folder segments>/<name>" with every segment percent-encoded,
// so that no character of the settings or the names can change the URL's meaning.
QByteArray buildUrl(const Request &request, QString *error)
{
    CurlUrl url(curl_url());
    if (!url) {
        *error = QStringLiteral("out of memory");
        return {};
    }
    QByteArray path;
    const QStringList segments = request.folder.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &segment : segments)
        path += '/' + QUrl::toPercentEncoding(segment);
    path += '/' + QUrl::toPercentEncoding(request.temporaryName);

    const QByteArray host = request.host.trimmed().toUtf8();
    const QByteArray port = QByteArray::number(request.port);
    if (curl_url_set(url.get(), CURLUPART_SCHEME, "ftp", 0) != CURLUE_OK
        || curl_url_set(url.get(), CURLUPART_HOST, host.constData(), 0) != CURLUE_OK
        || curl_url_set(url.get(), CURLUPART_PORT, port.constData(), 0) != CURLUE_OK
        || curl_url_set(url.get(), CURLUPART_PATH, path.constData(), 0) != CURLUE_OK) {
        *error
            = QStringLiteral("invalid server address \"%1\" or port %2").arg(request.host).arg(request.port);
        return {};
    }
    char *raw = nullptr;
    if (curl_url_get(url.get(), CURLUPART_URL, &raw, 0) != CURLUE_OK) {
        *error = QStringLiteral("invalid server address \"%1\"").arg(request.host);
        return {};
    }
    CurlText text(raw);
    return QByteArray(text.get());
}

} // namespace

bool isSafeRemoteName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char('\r')
            || c == QLatin1Char('\n') || c.unicode() == 0)
            return false;
    }
    return true;
}

Result uploadBlocking(const Request &request)
{
    if (request.host.trimmed().isEmpty())
        return failure(QStringLiteral("no server address"));
    if (request.port <= 0 || request.port > 65535)
        return failure(QStringLiteral("invalid port %1").arg(request.port));
    if (!isSafeRemoteName(request.temporaryName) || !isSafeRemoteName(request.finalName))
        return failure(QStringLiteral("invalid remote name"));

    QString urlError;
    const QByteArray url = buildUrl(request, &urlError);
    if (url.isEmpty())
        return failure(urlError);

    initialiseCurlOnce();
    CurlHandle curl(curl_easy_init());
    if (!curl)
        return failure(QStringLiteral("libcurl could not be initialised"));

    // The rename runs after the transfer, in the folder of the upload.
    CurlList rename;
    if (!append(rename, "RNFR " + request.temporaryName.toUtf8())
        || !append(rename, "RNTO " + request.finalName.toUtf8()))
        return failure(QStringLiteral("out of memory"));

    const QByteArray user = request.user.toUtf8();
    const QByteArray password = request.password.toUtf8();
    ReadState state { &request.content, 0 };
    char errorText[CURL_ERROR_SIZE] = {};

    CURL *h = curl.get();
    CURLcode rc = CURLE_OK;
    auto set = [&rc](CURLcode code) {
        if (rc == CURLE_OK)
            rc = code;
    };
    set(curl_easy_setopt(h, CURLOPT_URL, url.constData()));
    set(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp"));
    set(curl_easy_setopt(h, CURLOPT_USERNAME, user.constData()));
    set(curl_easy_setopt(h, CURLOPT_PASSWORD, password.constData()));
    // The proxy asked for, or a direct connection: proxies from the
    // environment must not redirect the upload.
    const QByteArray proxy = request.proxy.toUtf8();
    const QByteArray proxyUser = request.proxyUser.toUtf8();
    const QByteArray proxyPassword = request.proxyPassword.toUtf8();
    set(curl_easy_setopt(h, CURLOPT_PROXY, proxy.constData()));
    if (!proxy.isEmpty()) {
        // FTP through an HTTP proxy: the control and data connections are
        // tunnelled with CONNECT.
        set(curl_easy_setopt(h, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP)));
        set(curl_easy_setopt(h, CURLOPT_HTTPPROXYTUNNEL, 1L));
        if (!proxyUser.isEmpty()) {
            set(curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, proxyUser.constData()));
            set(curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, proxyPassword.constData()));
        }
    }
    // One "CWD varnohub/log/versione" rather than one CWD per folder.
    set(curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD)));
    set(curl_easy_setopt(h, CURLOPT_FTP_CREATE_MISSING_DIRS, static_cast<long>(CURLFTP_CREATE_DIR_NONE)));
    set(curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L)); // binary (TYPE I)
    set(curl_easy_setopt(h, CURLOPT_UPLOAD, 1L));
    set(curl_easy_setopt(h, CURLOPT_READFUNCTION, &readChunk));
    set(curl_easy_setopt(h, CURLOPT_READDATA, &state));
    set(curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(request.content.size())));
    set(curl_easy_setopt(h, CURLOPT_POSTQUOTE, rename.get()));
    set(curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, static_cast<long>(request.connectTimeout)));
    set(curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(request.lowSpeedTime)));
    set(curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(request.lowSpeedLimit)));
    // The low-speed check does not cover the wait for the reply after the data.
    set(curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(request.responseTimeout)));
    set(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L)); // runs on a worker thread
    set(curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText));
    if (rc != CURLE_OK)
        return failure(
            QStringLiteral("libcurl option refused: %1").arg(QString::fromUtf8(curl_easy_strerror(rc))), rc);

    rc = curl_easy_perform(h);

    Result result;
    result.code = rc;
    long reply = 0;
    if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &reply) == CURLE_OK)
        result.ftpReply = static_cast<int>(reply);
    result.ok = rc == CURLE_OK;
    result.message = QString::fromUtf8(errorText[0] ? errorText : curl_easy_strerror(rc));
    if (result.ok)
        qCDebug(lcFtp) << "uploaded" << request.finalName << "to" << request.host;
    else
        qCDebug(lcFtp) << "upload of" << request.finalName << "to" << request.host << "failed:" << result.code
                       << result.ftpReply << result.message;
    return result;
}

Result upload(const Request &request)
{
    Result result;
    // A thread of its own: the global pool may be busy with the file inventory.
    std::unique_ptr<QThread> worker(
        QThread::create([&result, &request] { result = uploadBlocking(request); }));
    QEventLoop loop;
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    // A finish before exec() is still delivered to the loop as a queued event.
    if (!worker->isFinished())
        loop.exec();
    worker->wait();
    return result;
}

} // namespace FtpUpload
