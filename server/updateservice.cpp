#include "server/updateservice.h"

#include "platform/connections.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTimeZone>
#include <QSaveFile>

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

// The library's pool starts all its threads at once. Most runs of the service
// serve a handful of connections, and under Wine every thread costs a
// noticeable start and end, so this pool starts a worker only when a
// connection finds none idle, up to its limit.
class GrowingThreadPool : public httplib::TaskQueue
{
public:
    explicit GrowingThreadPool(size_t limit) : m_limit(limit) { }

    void enqueue(std::function<void()> job) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_jobs.push_back(std::move(job));
            // After shutdown the workers still running drain the queue; none
            // starts, so shutdown() can join a list that no longer grows.
            if (!m_shutdown && m_idle < m_jobs.size() && m_threads.size() < m_limit)
                m_threads.emplace_back([this] { work(); });
        }
        m_wake.notify_one();
    }

    void shutdown() override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_shutdown = true;
        }
        m_wake.notify_all();
        for (std::thread &thread : m_threads)
            thread.join();
    }

private:
    void work()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            ++m_idle;
            m_wake.wait(lock, [this] { return !m_jobs.empty() || m_shutdown; });
            --m_idle;
            if (m_jobs.empty())
                return;
            std::function<void()> job = std::move(m_jobs.front());
            m_jobs.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    const size_t m_limit;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    size_t m_idle = 0;
    bool m_shutdown = false;
};

const QByteArray serviceRoot = QByteArrayLiteral("/files/varnohub/");
const char *const textType = "text/plain; charset=ISO-8859-1";
const char *const binaryType = "application/octet-stream";

// Update fields as the client names them, and the login lines they change.
const QList<QPair<QString, QString>> userFields = {
    { QStringLiteral("ragione_sociale"), QStringLiteral("RAGIONE SOCIALE") },
    { QStringLiteral("cellulare"), QStringLiteral("CELLULARE") },
    { QStringLiteral("email"), QStringLiteral("E-MAIL") },
    { QStringLiteral("rivenditore"), QStringLiteral("RIVENDITORE") },
};

// Query values and paths are Latin-1 bytes once decoded, as the real service
// reads them: UTF-8 sent by a client arrives as two characters per accent.
QString textFromBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes);
}

struct Query
{
    QList<QPair<QByteArray, QByteArray>> items;

    explicit Query(const QByteArray &query)
    {
        for (const QByteArray &item : query.split('&')) {
            if (item.isEmpty())
                continue;
            const int equals = item.indexOf('=');
            if (equals < 0)
                items.append({ item, QByteArray() });
            else
                items.append({ item.left(equals), percentDecode(item.mid(equals + 1)) });
        }
    }
    QByteArray bytes(const char *key) const
    {
        for (const auto &item : items) {
            if (item.first == key)
                return item.second;
        }
        return QByteArray();
    }
    QString text(const char *key) const { return textFromBytes(bytes(key)); }
};

bool flagSet(const QString &value)
{
    const QString v = value.trimmed().toLower();
    return v == QLatin1String("1") || v == QLatin1String("true") || v == QLatin1String("yes")
        || v == QLatin1String("on");
}

// The validators of a static file: an ETag from its size and modification
// time, and that time as an HTTP date.
QByteArray entityTag(const QFileInfo &info)
{
    return '"' + QByteArray::number(info.size(), 16) + '-'
        + QByteArray::number(info.lastModified().toMSecsSinceEpoch(), 16) + '"';
}

const QString httpDateFormat = QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'");

QByteArray httpDate(const QDateTime &time)
{
    return QLocale::c().toString(time.toUTC(), httpDateFormat).toLatin1();
}

QDateTime parseHttpDate(const QByteArray &text)
{
    QDateTime time = QLocale::c().toDateTime(QString::fromLatin1(text.trimmed()), httpDateFormat);
    if (time.isValid())
        time.setTimeZone(QTimeZone::utc());
    return time;
}

// "bytes=S-" or "bytes=S-E"; anything else (several ranges, suffix ranges)
// is not understood and the whole file is sent.
bool parseByteRange(const QByteArray &header, qint64 *first, qint64 *last)
{
    const QByteArray value = header.trimmed();
    if (!value.startsWith("bytes="))
        return false;
    const QByteArray bounds = value.mid(6).trimmed();
    const int dash = bounds.indexOf('-');
    if (dash <= 0 || bounds.contains(','))
        return false;
    bool ok = false;
    *first = bounds.left(dash).trimmed().toLongLong(&ok);
    if (!ok || *first < 0)
        return false;
    const QByteArray end = bounds.mid(dash + 1).trimmed();
    *last = -1;
    if (!end.isEmpty()) {
        *last = end.toLongLong(&ok);
        if (!ok || *last < *first)
            return false;
    }
    return true;
}

// Turns a service path or a root-relative path into the part below the root.
QString belowRoot(QString path)
{
    if (path.startsWith(QString::fromLatin1(serviceRoot)))
        path = path.mid(serviceRoot.size());
    return path;
}

} // namespace

struct UpdateService::Answer
{
    enum Source { Bytes, File, Random };
    int status = 200;
    Source source = Bytes;
    QByteArray body;
    QString file;
    qint64 size = 0;
    qint64 offset = 0; // first byte of the file that is sent (206 answers)
    QList<QPair<std::string, std::string>> headers;
    const char *type = textType;

    static Answer text(const QByteArray &body, int status = 200)
    {
        Answer answer;
        answer.status = status;
        answer.body = body;
        return answer;
    }
};

UpdateService::UpdateService(const ServiceOptions &options)
    : m_options(options)
    , m_canonicalRoot(QFileInfo(options.root).canonicalFilePath())
    , m_catalogue(QDir(options.root).filePath(QStringLiteral("service.ini")))
    , m_server(std::make_unique<httplib::Server>())
{
    if (!m_options.logPath.isEmpty()) {
        m_log = fopen(QFile::encodeName(m_options.logPath).constData(), "ab");
        if (!m_log)
            fprintf(stderr, "update_hub_service: cannot open the log %s\n", qPrintable(m_options.logPath));
    }

    // Every connection holds a worker for its whole life (keep-alive, stalled
    // answers), so the pool may grow far larger than the number of cores.
    m_server->new_task_queue = [] { return new GrowingThreadPool(96); };
    // Small answers go out at once: with Nagle's algorithm a request that
    // follows an answer on the same connection waits for the delayed ACK.
    m_server->set_tcp_nodelay(true);
    m_server->set_keep_alive_max_count(1000000);
    m_server->set_keep_alive_timeout(120);
    m_server->set_read_timeout(60);
    m_server->set_write_timeout(60);

    const std::string everything = "[\\s\\S]*";
    m_server->Get(everything, [this](const httplib::Request &request, httplib::Response &response) {
        handle(request, response, nullptr);
    });
    m_server->Post(everything,
                   [this](const httplib::Request &request, httplib::Response &response,
                          const httplib::ContentReader &body) { handle(request, response, &body); });
}

UpdateService::~UpdateService()
{
    stop();
    if (m_log)
        fclose(m_log);
}

int UpdateService::bind()
{
    if (m_options.port == 0)
        m_port = m_server->bind_to_any_port("127.0.0.1");
    else
        m_port = m_server->bind_to_port("127.0.0.1", m_options.port) ? m_options.port : -1;
    return m_port;
}

bool UpdateService::run()
{
    return m_server->listen_after_bind();
}

void UpdateService::stop()
{
    if (m_stopping.exchange(true))
        return;
    {
        // Taken so that a pause checking m_stopping cannot miss the wake-up.
        std::lock_guard<std::mutex> lock(m_pauseMutex);
    }
    m_pauseEnded.notify_all();
    m_server->stop();
    // Workers idle in a keep-alive wait would otherwise hold the shutdown for
    // the whole keep-alive time-out.
    if (m_port > 0)
        connections::shutdownAll(m_port);
}

bool UpdateService::pause(qint64 milliseconds) const
{
    // One wait to the deadline: a loaded machine adds its wake-up delay once,
    // not once per slice. stop() ends the wait early.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock<std::mutex> lock(m_pauseMutex);
    return !m_pauseEnded.wait_until(lock, end, [this] { return m_stopping.load(); });
}

void UpdateService::logLine(const QByteArray &line)
{
    if (!m_log)
        return;
    fwrite(line.constData(), 1, size_t(line.size()), m_log);
    fputc('\n', m_log);
    fflush(m_log);
}

void UpdateService::noteConnection(const httplib::Request &request)
{
    const QByteArray peer
        = QByteArray::fromStdString(request.remote_addr) + ':' + QByteArray::number(request.remote_port);
    if (m_connections.contains(peer))
        return;
    m_connections.insert(peer);
    logLine("# connection " + QByteArray::number(m_connections.size()));
}

void UpdateService::handle(const httplib::Request &request, httplib::Response &response,
                           const httplib::ContentReader *body)
{
    const QByteArray target = QByteArray::fromStdString(request.target);
    const QByteArray method = QByteArray::fromStdString(request.method);
    const std::shared_ptr<const Catalogue> catalogue = m_catalogue.current();

    // Latency rules add up; the first rule that shapes the answer wins.
    qint64 latency = m_options.latencyMs;
    FaultAction fault;
    QList<FaultAction> rangeFaults;
    const QList<FaultRule> ruleLists[] = { m_options.faults, catalogue->faults() };
    for (const QList<FaultRule> &rules : ruleLists) {
        const bool fromCatalogue = &rules != &ruleLists[0];
        for (const FaultRule &rule : rules) {
            if (!target.startsWith(rule.prefix))
                continue;
            const bool shapes = rule.action.kind != FaultAction::Latency && !rule.action.isRangeFault();
            if (shapes && fault.kind != FaultAction::None)
                continue;
            if (!ruleApplies(rule, fromCatalogue ? catalogue : nullptr))
                continue;
            if (rule.action.kind == FaultAction::Latency)
                latency += rule.action.value;
            else if (rule.action.isRangeFault())
                rangeFaults.append(rule.action);
            else
                fault = rule.action;
        }
    }

    // Ranges are answered here, not by the HTTP library: it would cut any
    // answer to the asked range, even one that must go out whole.
    Conditions conditions;
    conditions.range = QByteArray::fromStdString(request.get_header_value("Range"));
    conditions.ifRange = QByteArray::fromStdString(request.get_header_value("If-Range"));
    conditions.ifNoneMatch = QByteArray::fromStdString(request.get_header_value("If-None-Match"));
    conditions.ifModifiedSince = QByteArray::fromStdString(request.get_header_value("If-Modified-Since"));
    const_cast<httplib::Request &>(request).ranges.clear();

    // A POST body is always read, so the connection stays usable; it is kept
    // only when the upload page is asked and no fault replaces its answer.
    Answer answer;
    bool answered = false;
    QByteArray uploadFailure;
    bool uploadStored = false;
    if (body) {
        const bool refused = fault.kind == FaultAction::Status || fault.kind == FaultAction::Garbage;
        const int question = target.indexOf('?');
        const QByteArray path = target.left(question < 0 ? target.size() : question);
        if (path == serviceRoot + "upload_file.asp" && !refused) {
            QString failure;
            uploadStored
                = storeUpload(Query(question < 0 ? QByteArray() : target.mid(question + 1)).text("file_name"),
                              *body, &failure);
            uploadFailure = failure.toLatin1();
        } else {
            (*body)([](const char *, size_t) { return true; });
        }
    }

    if (latency > 0 && !pause(latency))
        return;

    if (fault.kind == FaultAction::Status) {
        answer = Answer::text("FAULT STATUS " + QByteArray::number(fault.value), int(fault.value));
        answered = true;
    } else if (fault.kind == FaultAction::Garbage) {
        answer.source = Answer::Random;
        answer.size = fault.value;
        answer.type = binaryType;
        answered = true;
    } else if (body && !uploadStored && !uploadFailure.isEmpty()) {
        answer = Answer::text(uploadFailure, uploadFailure == "UPLOAD REFUSED" ? 403 : 500);
        answered = true;
    }
    if (!answered) {
        answer = page(target, *catalogue, body ? &uploadFailure : nullptr);
        if (answer.source == Answer::File && answer.status == 200 && !body)
            applyConditions(answer, conditions, rangeFaults);
    }
    bool withoutLength = false;
    for (const FaultAction &addition : std::as_const(rangeFaults)) {
        if (addition.kind == FaultAction::RetryAfter)
            answer.headers.append({ "Retry-After", std::to_string(addition.value) });
        else if (addition.kind == FaultAction::NoLength)
            withoutLength = true;
    }

    {
        std::lock_guard<std::mutex> lock(m_logMutex);
        noteConnection(request);
        logLine(method + ' ' + target + ' ' + QByteArray::number(answer.status));
        // The conditions a request carried, each on a line of its own.
        const QPair<const char *, QByteArray> asked[] = {
            { "Range", conditions.range },
            { "If-Range", conditions.ifRange },
            { "If-None-Match", conditions.ifNoneMatch },
            { "If-Modified-Since", conditions.ifModifiedSince },
        };
        for (const auto &header : asked) {
            if (!header.second.isEmpty())
                logLine(QByteArray("#  ") + header.first + ": " + header.second);
        }
    }
    send(request, response, answer, fault, withoutLength);
}

bool UpdateService::ruleApplies(const FaultRule &rule, const std::shared_ptr<const Catalogue> &from)
{
    if (rule.action.times <= 0)
        return true;
    const QByteArray key = rule.prefix + "=>" + QByteArray::number(int(rule.action.kind)) + ' '
        + QByteArray::number(rule.action.value) + ' ' + QByteArray::number(rule.action.times);
    std::lock_guard<std::mutex> lock(m_ruleMutex);
    if (from && from != m_countedCatalogue) {
        m_countedCatalogue = from;
        m_catalogueRuleUses.clear();
    }
    qint64 &uses = (from ? m_catalogueRuleUses : m_ruleUses)[key];
    if (uses >= rule.action.times)
        return false;
    ++uses;
    return true;
}

void UpdateService::applyConditions(Answer &answer, const Conditions &conditions,
                                    const QList<FaultAction> &rangeFaults)
{
    bool ranges = true;
    bool validators = true;
    bool unsatisfiable = false;
    qint64 rangeShift = 0;
    qint64 totalCut = 0;
    bool weakTag = false;
    bool otherTag = false;
    bool lengthOn304 = false;
    for (const FaultAction &fault : rangeFaults) {
        if (fault.kind == FaultAction::WeakTag)
            weakTag = true;
        else if (fault.kind == FaultAction::LengthOn304)
            lengthOn304 = true;
        else if (fault.kind == FaultAction::RangeTotal)
            totalCut = fault.value;
        else if (fault.kind == FaultAction::RangeTag)
            otherTag = true;
        if (fault.kind == FaultAction::NoRange)
            ranges = false;
        else if (fault.kind == FaultAction::NoValidator)
            validators = false;
        else if (fault.kind == FaultAction::Unsatisfiable)
            unsatisfiable = true;
        else if (fault.kind == FaultAction::BadRange)
            rangeShift = fault.value;
    }

    const QFileInfo info(answer.file);
    const QByteArray tag = weakTag ? "W/" + entityTag(info) : entityTag(info);
    const QByteArray modified = httpDate(info.lastModified());
    if (validators) {
        answer.headers.append({ "ETag", tag.toStdString() });
        answer.headers.append({ "Last-Modified", modified.toStdString() });
        // A copy the client holds that is still current is not sent again.
        bool current = false;
        if (!conditions.ifNoneMatch.isEmpty()) {
            for (const QByteArray &candidate : conditions.ifNoneMatch.split(',')) {
                if (candidate.trimmed() == tag || candidate.trimmed() == "*")
                    current = true;
            }
        } else if (!conditions.ifModifiedSince.isEmpty()) {
            const QDateTime since = parseHttpDate(conditions.ifModifiedSince);
            current = since.isValid() && info.lastModified().toSecsSinceEpoch() <= since.toSecsSinceEpoch();
        }
        if (current) {
            answer.status = 304;
            answer.source = Answer::Bytes;
            answer.body.clear();
            answer.size = 0;
            // Allowed by HTTP: the length of the body a 200 would have had.
            if (lengthOn304)
                answer.headers.append({ "Content-Length", std::to_string(info.size()) });
            return;
        }
    }

    qint64 first = 0;
    qint64 last = -1;
    if (!ranges || conditions.range.isEmpty() || !parseByteRange(conditions.range, &first, &last))
        return;
    // A range of another version of the file is no use: the whole file goes out.
    // If-Range compares strongly: a weak ETag never matches.
    if (!conditions.ifRange.isEmpty()
        && (!validators || conditions.ifRange.trimmed().startsWith("W/")
            || (conditions.ifRange.trimmed() != tag && conditions.ifRange.trimmed() != modified)))
        return;
    // A range answer may give the file as shorter than it is.
    const qint64 size = std::max<qint64>(1, answer.size - totalCut);
    if (unsatisfiable || first >= size) {
        Answer refused = Answer::text("RANGE NOT SATISFIABLE", 416);
        refused.headers = answer.headers;
        refused.headers.append({ "Content-Range", "bytes */" + std::to_string(size) });
        answer = refused;
        return;
    }
    if (last < 0 || last >= size)
        last = size - 1;
    first = std::max<qint64>(0, first - rangeShift);
    if (otherTag) {
        for (auto &header : answer.headers) {
            if (header.first == "ETag")
                header.second = "\"other-version\"";
        }
    }
    answer.status = 206;
    answer.offset = first;
    answer.size = last - first + 1;
    answer.headers.append({ "Content-Range",
                            "bytes " + std::to_string(first) + '-' + std::to_string(last) + '/'
                                + std::to_string(size) });
}

UpdateService::LocalAnswer UpdateService::answerLocally(const QByteArray &target)
{
    const Answer answer = page(target, *m_catalogue.current(), nullptr);
    LocalAnswer local;
    local.status = answer.status;
    if (answer.source == Answer::File)
        local.file = answer.file;
    else
        local.body = answer.body;
    return local;
}

UpdateService::Answer UpdateService::page(const QByteArray &target, const Catalogue &catalogue,
                                          const QByteArray *uploaded)
{
    // An answer written for this exact target overrides whatever the page computes.
    QString override;
    if (catalogue.value(QStringLiteral("answers"), QString::fromLatin1(target), &override))
        return Answer::text(unescapeValue(override));

    const int question = target.indexOf('?');
    const QByteArray path = target.left(question < 0 ? target.size() : question);
    const Query query(question < 0 ? QByteArray() : target.mid(question + 1));
    if (!path.startsWith(serviceRoot))
        return Answer::text("NOT FOUND", 404);
    const QByteArray name = path.mid(serviceRoot.size());
    const bool post = uploaded != nullptr;

    if (name == "upload_file.asp") {
        if (!post)
            return Answer::text("METHOD NOT ALLOWED", 405);
        return Answer::text("UPLOAD OK");
    }
    if (post)
        return Answer::text("METHOD NOT ALLOWED", 405);

    auto listed = [&](const char *section, const QStringList &key, const QByteArray &fallback) {
        QString value;
        return Answer::text(catalogue.lookup(QString::fromLatin1(section), key, &value) ? unescapeValue(value)
                                                                                        : fallback);
    };

    if (name == "login.asp")
        return login(catalogue, query.text("password"));
    if (name == "newblocksite.asp") {
        QString maintenance;
        catalogue.value(QStringLiteral("service"), QStringLiteral("maintenance"), &maintenance);
        return Answer::text(flagSet(maintenance) ? "FILE NOT EXISTS" : "OK");
    }
    if (name == "update_user_data.asp")
        return updateUserData(catalogue, query.text("password"), query.text("data2update"),
                              query.bytes("value"));
    if (name == "get_custom_redirection.asp")
        return listed("redirections", { query.text("customization") }, "NOT FOUND");
    if (name == "get_product_names.asp")
        return listed("products", { query.text("customization") }, "NOT FOUND");
    if (name == "get_bbad_releases.asp" || name == "get_mit_releases.asp") {
        const char *section = name == "get_bbad_releases.asp" ? "bbad_releases" : "mit_releases";
        return listed(section,
                      { query.text("language"), query.text("workdir_product"), query.text("customization") },
                      QByteArray());
    }
    if (name == "get_max_bbad_release.asp")
        return listed("max_bbad_release", { query.text("workdir_product"), query.text("customization") },
                      "0");
    if (name == "get_max_bbad_release_lingue.asp") {
        QString value;
        if (catalogue.lookup(
                QStringLiteral("max_bbad_release_lingue"),
                { query.text("workdir_product"), query.text("customization"), query.text("language") },
                &value))
            return Answer::text(unescapeValue(value));
        return listed("max_bbad_release", { query.text("workdir_product"), query.text("customization") },
                      "0");
    }
    if (name == "get_filebbad2download.asp")
        return listed("bbad_downloads",
                      { query.text("password"), query.text("bbadversion"), query.text("wdir"),
                        query.text("customization") },
                      "NOT FOUND");
    if (name == "get_file2download.asp")
        return listed("downloads",
                      { query.text("password"), query.text("language"), query.text("adversion"),
                        query.text("mitversion"), query.text("id_product_active"),
                        query.text("customization") },
                      "NOT FOUND");
    if (name == "get_filesize.asp") {
        QString file;
        if (!resolve(belowRoot(query.text("file")), &file) || !QFileInfo(file).isFile())
            return Answer::text("-1");
        return Answer::text(QByteArray::number(QFileInfo(file).size()));
    }
    if (name == "datetime_ms.asp" || name == "datetime_ov.asp") {
        const bool ms = name == "datetime_ms.asp";
        QString stamp;
        if (!catalogue.value(QStringLiteral("service"),
                             QString::fromLatin1(ms ? "datetime_ms" : "datetime_ov"), &stamp)) {
            stamp = QDateTime::currentDateTime().toString(ms ? QStringLiteral("yyyy-MM-dd hh:mm:ss")
                                                             : QStringLiteral("yyyy-MM-dd_hh-mm-ss"));
        }
        // The client drops the last character of the datetime_ms answer.
        return Answer::text(unescapeValue(stamp) + (ms ? "\n" : ""));
    }

    // Static files: get_filecontents.asp names them relative to the root,
    // every other path is a file below the root itself.
    QString relative;
    if (name == "get_filecontents.asp") {
        relative = belowRoot(query.text("file"));
    } else {
        relative = textFromBytes(percentDecode(name));
    }
    QString file;
    if (!resolve(relative, &file) || !QFileInfo(file).isFile())
        return Answer::text("NOT FOUND", 404);
    Answer answer;
    answer.source = Answer::File;
    answer.file = file;
    answer.size = QFileInfo(file).size();
    answer.type = binaryType;
    return answer;
}

UpdateService::Answer UpdateService::login(const Catalogue &catalogue, const QString &code)
{
    const QString section = QStringLiteral("account ") + code;
    if (code.isEmpty() || !catalogue.hasSection(section))
        return Answer::text("NO USER FOUND");

    QList<QPair<QString, QString>> lines;
    for (const Catalogue::Entry &entry : catalogue.entries(section))
        lines.append({ entry.key, entry.value });

    // Values changed through update_user_data.asp, oldest first.
    std::lock_guard<std::mutex> lock(m_userDataMutex);
    QFile updates(QDir(m_options.root).filePath(QStringLiteral("user_data.log")));
    if (updates.open(QIODevice::ReadOnly)) {
        const Catalogue recorded = Catalogue::parse("[updates]\n" + updates.readAll());
        for (const Catalogue::Entry &entry : recorded.entries(QStringLiteral("updates"))) {
            const QStringList key = entry.key.split(QLatin1Char('|'));
            if (key.size() != 2 || key.at(0) != code)
                continue;
            bool replaced = false;
            for (auto &line : lines) {
                if (line.first == key.at(1)) {
                    line.second = entry.value;
                    replaced = true;
                }
            }
            if (!replaced)
                lines.append({ key.at(1), entry.value });
        }
    }

    QByteArray answer = "OK";
    for (const auto &line : lines)
        answer += "\r\n" + unescapeValue(line.first) + '=' + unescapeValue(line.second);
    return Answer::text(answer);
}

UpdateService::Answer UpdateService::updateUserData(const Catalogue &catalogue, const QString &code,
                                                    const QString &field, const QByteArray &value)
{
    if (code.isEmpty() || !catalogue.hasSection(QStringLiteral("account ") + code))
        return Answer::text("NO USER FOUND");
    QString line;
    for (const auto &known : userFields) {
        if (known.first == field)
            line = known.second;
    }
    if (line.isEmpty())
        return Answer::text("ERROR: UNKNOWN FIELD");

    std::lock_guard<std::mutex> lock(m_userDataMutex);
    QFile updates(QDir(m_options.root).filePath(QStringLiteral("user_data.log")));
    if (!updates.open(QIODevice::WriteOnly | QIODevice::Append))
        return Answer::text("ERROR: CANNOT STORE", 500);
    const QString text = textFromBytes(value);
    const QByteArray record
        = (code + QLatin1Char('|') + line + QLatin1String(" => ") + escapeValue(text.toUtf8())).toUtf8()
        + '\n';
    if (updates.write(record) != record.size() || !updates.flush())
        return Answer::text("ERROR: CANNOT STORE", 500);
    return Answer::text("UPDATED");
}

bool UpdateService::resolve(const QString &relative, QString *absolute) const
{
    if (relative.contains(QChar(0)))
        return false;
    QStringList parts;
    // Split by hand, not with a QRegularExpression: Qt keeps per-thread data
    // for those, and with one used in the workers the Windows build crashed
    // in that clean-up as each worker ended at shutdown (every time under Wine).
    const QString slashed = QString(relative).replace(QLatin1Char('\\'), QLatin1Char('/'));
    for (const QString &part : slashed.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String("."))
            continue;
        if (part == QLatin1String(".."))
            return false;
        parts.append(part);
    }
    if (parts.isEmpty())
        return false;
    const QString path = m_options.root + QLatin1Char('/') + parts.join(QLatin1Char('/'));
    // A link below the root may not lead out of it.
    const QFileInfo info(path);
    if (info.exists() && !info.canonicalFilePath().startsWith(m_canonicalRoot + QLatin1Char('/')))
        return false;
    *absolute = path;
    return true;
}

bool UpdateService::storeUpload(const QString &fileName, const httplib::ContentReader &body, QString *failure)
{
    QString path;
    bool safe = resolve(QStringLiteral("uploads/") + fileName, &path) && !fileName.endsWith(QLatin1Char('/'))
        && !fileName.endsWith(QLatin1Char('\\'));
    if (safe) {
        safe = QDir().mkpath(QFileInfo(path).absolutePath())
            && QFileInfo(QFileInfo(path).absolutePath())
                   .canonicalFilePath()
                   .startsWith(m_canonicalRoot + QLatin1Char('/'))
            && !QFileInfo(path).isDir();
    }
    if (!safe) {
        body([](const char *, size_t) { return true; });
        *failure = QStringLiteral("UPLOAD REFUSED");
        return false;
    }

    // Written beside the target and renamed when complete: a transfer that
    // breaks off leaves neither a truncated file nor a damaged older one.
    QSaveFile file(path);
    bool written = file.open(QIODevice::WriteOnly);
    const bool received = body([&](const char *data, size_t length) {
        if (written)
            written = file.write(data, qint64(length)) == qint64(length);
        return true;
    });
    if (!received || !written || !file.commit()) {
        file.cancelWriting();
        *failure = received ? QStringLiteral("UPLOAD FAILED") : QStringLiteral("UPLOAD INCOMPLETE");
        return false;
    }
    return true;
}

void UpdateService::send(const httplib::Request &request, httplib::Response &response, const Answer &answer,
                         const FaultAction &fault, bool withoutLength)
{
    response.status = answer.status;
    for (const auto &header : answer.headers)
        response.set_header(header.first.c_str(), header.second);
    const qint64 length = answer.source == Answer::Bytes ? answer.body.size() : answer.size;
    const bool shaped
        = fault.kind == FaultAction::Close || fault.kind == FaultAction::Stall || fault.kind == FaultAction::Drip;
    if (fault.kind == FaultAction::Close)
        response.set_header("Connection", "close");
    if (shaped) {
        const int socket = connections::find(m_port, request.remote_addr, request.remote_port);
        if (socket >= 0)
            connections::setNoDelay(socket);
    }
    if (length == 0) {
        response.set_content(std::string(), answer.type);
        // Logged at once: an empty body has no provider to end.
        std::lock_guard<std::mutex> lock(m_logMutex);
        logLine("# sent 0 " + QByteArray::fromStdString(request.target));
        return;
    }

    const qint64 limit = (fault.kind == FaultAction::Close || fault.kind == FaultAction::Stall)
        ? std::min(fault.value, length)
        : length;
    struct Source
    {
        Answer answer;
        QFile file;
        std::mt19937 random { std::random_device {}() };
        std::atomic<qint64> sent { 0 };
    };
    auto source = std::make_shared<Source>();
    source->answer = answer;
    const std::string remoteAddress = request.remote_addr;
    const int remotePort = request.remote_port;

    // Every answer goes through a provider with a known length: files are
    // streamed, and the library never compresses such bodies, so the bytes
    // on the wire are exactly the answer (faults count them).
    auto provide = [this, source, limit, fault, remoteAddress, remotePort](size_t offset, size_t wanted,
                                                                           httplib::DataSink &sink) -> bool {
        if (m_stopping)
            return false;
        if (qint64(offset) >= limit) {
            if (fault.kind == FaultAction::Stall) {
                // Nothing more until the client goes away or the service stops.
                const int socket = connections::find(m_port, remoteAddress, remotePort);
                while (!m_stopping && !(socket >= 0 && connections::peerClosed(socket)))
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            return false;
        }
        const qint64 chunk = fault.kind == FaultAction::Drip ? 1 : 256 * 1024;
        const qint64 count = std::min({ chunk, qint64(wanted), limit - qint64(offset) });
        QByteArray data;
        switch (source->answer.source) {
        case Answer::Bytes:
            data = source->answer.body.mid(qsizetype(offset), qsizetype(count));
            break;
        case Answer::File:
            if (!source->file.isOpen()) {
                source->file.setFileName(source->answer.file);
                if (!source->file.open(QIODevice::ReadOnly))
                    return false;
            }
            if (source->file.pos() != source->answer.offset + qint64(offset)
                && !source->file.seek(source->answer.offset + qint64(offset)))
                return false;
            data = source->file.read(count);
            if (data.size() != count) // the file shrank while being sent
                return false;
            break;
        case Answer::Random:
            data.resize(qsizetype(count));
            for (char &byte : data)
                byte = char(source->random() & 0xff);
            break;
        }
        if (!sink.write(data.constData(), size_t(data.size())))
            return false;
        source->sent += data.size();
        // Returning false makes the library drop the connection, also when
        // the limit lies at or beyond the end of the body.
        if (fault.kind == FaultAction::Close && qint64(offset) + count >= limit)
            return false;
        if (fault.kind == FaultAction::Drip && qint64(offset) + count < limit)
            return pause(fault.value);
        return true;
    };
    auto done = [this, source, target = QByteArray::fromStdString(request.target)](bool) {
        // What went out of the answer's body, whole or cut off.
        std::lock_guard<std::mutex> lock(m_logMutex);
        logLine("# sent " + QByteArray::number(source->sent.load()) + ' ' + target);
    };
    if (withoutLength) {
        // The end of the body is the end of the connection: the provider
        // giving up after the last byte closes it, as a cut one does earlier.
        response.set_header("Connection", "close");
        response.set_content_provider(
            answer.type,
            [provide, length](size_t offset, httplib::DataSink &sink) -> bool {
                return qint64(offset) < length && provide(offset, size_t(length) - offset, sink);
            },
            done);
        return;
    }
    response.set_content_provider(size_t(length), answer.type, provide, done);
}
