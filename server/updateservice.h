#pragma once

#include "server/catalogue.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

namespace httplib {
class ContentReader;
struct Request;
struct Response;
class Server;
} // namespace httplib

struct ServiceOptions
{
    QString root;
    int port = 0;
    QString logPath;
    qint64 latencyMs = 0;
    QList<FaultRule> faults;
};

/// The reference update service: every page of the service under
/// "/files/varnohub/", the files of the root folder, faults and a request log.
class UpdateService
{
public:
    explicit UpdateService(const ServiceOptions &options);
    ~UpdateService();
    UpdateService(const UpdateService &) = delete;
    UpdateService &operator=(const UpdateService &) = delete;

    /// Binds 127.0.0.1 and the configured port (0: a free one); the port, or -1.
    int bind();
    /// Serves until stop(); true when it ended normally.
    bool run();
    /// Ends run(): no new connections, idle and stalled connections are closed.
    /// May be called from any thread.
    void stop();

    /// What a GET of target is answered with, worked out in this process
    /// without a connection, faults or a log line: the status, and either the
    /// body or the path of the file that would be sent.
    struct LocalAnswer
    {
        int status = 0;
        QByteArray body;
        QString file;
    };
    LocalAnswer answerLocally(const QByteArray &target);

    struct Answer;

private:
    /// The conditional and range headers of a request.
    struct Conditions
    {
        QByteArray range;
        QByteArray ifRange;
        QByteArray ifNoneMatch;
        QByteArray ifModifiedSince;
    };
    /// Validators, 304, 206 and 416 for an answer with a static file.
    void applyConditions(Answer &answer, const Conditions &conditions, const QList<FaultAction> &rangeFaults);
    /// Counts a rule limited to its first uses; false once they are used up.
    /// The uses of the catalogue's rules count from the catalogue's last
    /// change (from): a rewritten catalogue starts its rules afresh.
    bool ruleApplies(const FaultRule &rule, const std::shared_ptr<const Catalogue> &from = nullptr);
    void handle(const httplib::Request &request, httplib::Response &response,
                const httplib::ContentReader *body);
    Answer page(const QByteArray &target, const Catalogue &catalogue, const QByteArray *uploaded);
    Answer login(const Catalogue &catalogue, const QString &code);
    Answer updateUserData(const Catalogue &catalogue, const QString &code, const QString &field,
                          const QByteArray &value);
    bool storeUpload(const QString &fileName, const httplib::ContentReader &body, QString *failure);
    void send(const httplib::Request &request, httplib::Response &response, const Answer &answer,
              const FaultAction &fault, bool withoutLength = false);
    bool resolve(const QString &relative, QString *absolute) const;
    void noteConnection(const httplib::Request &request);
    void logLine(const QByteArray &line);
    bool pause(qint64 milliseconds) const;

    ServiceOptions m_options;
    QString m_canonicalRoot;
    CatalogueFile m_catalogue;
    std::unique_ptr<httplib::Server> m_server;
    int m_port = -1;
    std::atomic<bool> m_stopping { false };
    mutable std::mutex m_pauseMutex;
    mutable std::condition_variable m_pauseEnded;

    std::mutex m_logMutex;
    FILE *m_log = nullptr;
    QSet<QByteArray> m_connections;
    std::mutex m_userDataMutex;
    std::mutex m_ruleMutex;
    std::map<QByteArray, qint64> m_ruleUses;
    // The catalogue whose rules m_catalogueRuleUses counts: held, so that
    // no later catalogue can take its address.
    std::shared_ptr<const Catalogue> m_countedCatalogue;
    std::map<QByteArray, qint64> m_catalogueRuleUses;
};
