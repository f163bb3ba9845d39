#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

/// Runs the reference update service (update_hub_service) on a free loopback
/// port for one test, serving a root folder, with a request log the test can
/// read. The service is stopped on destruction, and it also stops by itself
/// when the test process dies (it watches the pipe on its standard input).
class ServiceFixture
{
public:
    /// An empty root: a fresh temporary folder owned by the fixture.
    explicit ServiceFixture(const QString &root = QString());
    ~ServiceFixture();
    ServiceFixture(const ServiceFixture &) = delete;
    ServiceFixture &operator=(const ServiceFixture &) = delete;

    /// Starts the service on port 0 with --root and --log and waits (<= 10 s)
    /// for the port it printed; false when it did not start.
    bool start(const QStringList &extraArguments = {});
    /// Stops the service; true when it ended by itself with exit code 0 (or
    /// was not running), false when it crashed or had to be ended by force.
    bool stop();

    /// One service for the whole test program, on a root of its own, kept
    /// running from its first use: under Wine each start of a Windows program
    /// costs a good part of a second of the machine. Each user calls
    /// startShared() for it: its root and log start empty, its faults come
    /// from the catalogue (whose "first K" rules count from its last change).
    static ServiceFixture &shared();
    /// Empties the root and the log, then starts the service unless it runs.
    bool startShared();

    quint16 port() const { return m_port; }
    QString root() const { return m_root; }
    QString logPath() const;
    /// The logged requests ("METHOD TARGET STATUS"), oldest first.
    QStringList requestLines() const;
    /// The logged requests with the range and conditional headers they carried:
    /// "METHOD TARGET STATUS" followed by " [Name: value]" for each.
    QStringList requestsWithHeaders() const;
    /// The body bytes the service sent since the last clearLog().
    qint64 bytesSent() const;
    /// The number of new TCP connections logged since the last clearLog().
    int connectionCount() const;
    void clearLog();

    /// Writes root/relativePath (folders created), served at /files/varnohub/relativePath.
    bool writeFile(const QString &relativePath, const QByteArray &content) const;
    /// Writes root/service.ini; the service reads it again before the next request.
    bool writeCatalogue(const QByteArray &serviceIni) const;
    /// The body last stored by upload_file.asp under that name (empty when none).
    QByteArray uploaded(const QString &fileName) const;

    /// Writes the demo catalogue (update_hub_service --make-demo) into folder,
    /// an empty folder: made once per test program and copied for each
    /// caller, who may then change it. False when it could not be made.
    static bool makeDemoCatalogue(const QString &folder);

    /// Writes folder/http_server.ini pointing the client at 127.0.0.1:port.
    static bool writeHttpServerIni(const QString &folder, quint16 port,
                                   const QString &subdir = QStringLiteral("praxo"),
                                   const QByteArray &extraLines = QByteArray());

private:
    /// One start; empty when it listens, else what went wrong (timedOut
    /// tells whether it only ran out of time).
    QString startOnce(const QStringList &extraArguments, bool *timedOut);
    QStringList logLines() const;

    std::unique_ptr<QTemporaryDir> m_ownedRoot;
    QTemporaryDir m_logDir;
    QString m_root;
    QProcess m_process;
    quint16 m_port = 0;
};
