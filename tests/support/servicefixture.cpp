#include "support/servicefixture.h"

#include "support/testsystem.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTcpSocket>

namespace {

// The reference service of this build; empty in a build without it.
#ifdef UPDATE_HUB_SERVICE_BIN
const QString serviceProgram = QStringLiteral(UPDATE_HUB_SERVICE_BIN);
#else
const QString serviceProgram;
#endif

} // namespace

ServiceFixture::ServiceFixture(const QString &root)
{
    if (root.isEmpty()) {
        m_ownedRoot = std::make_unique<QTemporaryDir>();
        m_root = m_ownedRoot->path();
    } else {
        // Tests change the current folder; the service must keep its root.
        m_root = QDir(root).absolutePath();
        QDir().mkpath(m_root);
    }
}

ServiceFixture::~ServiceFixture()
{
    stop();
}

QString ServiceFixture::logPath() const
{
    return m_logDir.filePath(QStringLiteral("service.log"));
}

bool ServiceFixture::start(const QStringList &extraArguments)
{
    // Under Wine on a loaded machine the first start of a Windows program can
    // outlast a time limit (its libraries are read afresh): one more try.
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool timedOut = false;
        const QString failure = startOnce(extraArguments, &timedOut);
        if (failure.isEmpty())
            return true;
        qWarning("the reference service did not start (attempt %d): %s", attempt + 1, qPrintable(failure));
        if (!timedOut)
            break; // it refused its arguments, or cannot run here: a second start would too
    }
    return false;
}

QString ServiceFixture::startOnce(const QStringList &extraArguments, bool *timedOut)
{
    stop();
    if (serviceProgram.isEmpty() || !m_logDir.isValid() || (m_ownedRoot && !m_ownedRoot->isValid()))
        return QStringLiteral("not built, or no temporary folder");
    // The port comes through a file, and the service writes to this
    // process's own output and error: no pipes, whose readers Qt deletes on
    // Windows as the process ends while their thread-pool callbacks may
    // still post to them (see TestSystem::waitForEnd).
    const QString portFile = m_logDir.filePath(QStringLiteral("port"));
    QFile::remove(portFile);
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    TestSystem::withoutConsole(m_process);
    m_process.start(serviceProgram,
                    QStringList { QStringLiteral("--root"), m_root, QStringLiteral("--port"),
                                  QStringLiteral("0"), QStringLiteral("--log"), logPath(),
                                  QStringLiteral("--port-file"), portFile, QStringLiteral("--watch-stdin") }
                        + extraArguments);
    if (!m_process.waitForStarted(30000)) {
        const QString error = m_process.errorString();
        *timedOut = m_process.error() == QProcess::Timedout;
        stop();
        return QStringLiteral("no process: ") + error;
    }

    // The file appears whole once the service listens.
    const QDeadlineTimer deadline(30000);
    QByteArray line;
    bool ended = false;
    while (!line.contains('\n') && !deadline.hasExpired()) {
        QFile file(portFile);
        if (file.open(QIODevice::ReadOnly))
            line = file.readAll();
        // Returns at once when the service ended instead (a bad argument).
        if (!line.contains('\n') && TestSystem::waitForEnd(m_process, 10)) {
            ended = true;
            break;
        }
    }
    bool ok = false;
    const uint port = line.left(line.indexOf('\n')).trimmed().toUInt(&ok);
    if (!line.contains('\n') || !ok || port == 0 || port > 65535) {
        const QString failure = ended
            ? QStringLiteral("ended with exit code %1").arg(m_process.exitCode())
            : QStringLiteral("no port within 30 s (port file: \"%1\")").arg(QString::fromLatin1(line));
        *timedOut = !ended;
        stop();
        return failure;
    }
    m_port = quint16(port);
    return QString();
}

bool ServiceFixture::stop()
{
    bool clean = true;
    if (m_process.state() != QProcess::NotRunning) {
        // The service ends when its standard input closes (--watch-stdin):
        // that also reaches a console program on Windows, which gets no
        // close request from terminate().
        m_process.closeWriteChannel();
        clean = TestSystem::waitForEnd(m_process, 5000);
        if (!clean) {
            m_process.terminate();
            if (!TestSystem::waitForEnd(m_process, 5000)) {
                m_process.kill();
                TestSystem::waitForEnd(m_process, 5000);
            }
        }
        clean = clean && m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }
    m_port = 0;
    return clean;
}

ServiceFixture &ServiceFixture::shared()
{
    // Stopped and removed while the application still exists: after it,
    // waiting for a process is no longer safe on every system.
    static ServiceFixture *service = nullptr;
    if (!service) {
        service = new ServiceFixture;
        qAddPostRoutine([]() {
            delete service;
            service = nullptr;
        });
    }
    return *service;
}

bool ServiceFixture::startShared()
{
    QDir root(m_root);
    for (const QFileInfo &entry :
         root.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        const bool removed = entry.isDir() && !entry.isSymLink() ? QDir(entry.filePath()).removeRecursively()
                                                                 : QFile::remove(entry.filePath());
        if (!removed)
            return false;
    }
    // One request without a catalogue: the service reads the next one as a
    // new catalogue, whose "first K" rules count afresh even when the next
    // user writes the same text as the last.
    if (m_process.state() == QProcess::Running) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        if (socket.waitForConnected(5000)) {
            socket.write("GET /files/varnohub/ HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
            const QDeadlineTimer answered(5000);
            while (socket.state() == QAbstractSocket::ConnectedState && !answered.hasExpired())
                socket.waitForReadyRead(int(qMax<qint64>(1, answered.remainingTime())));
        }
    }
    // An answer still going out to the last user (a stalled one ends when
    // its client has gone) is logged when it ends: waited for, so that it
    // lands in the last user's log, not in the next one's.
    const QDeadlineTimer settle(3000);
    while (m_process.state() == QProcess::Running && !settle.hasExpired()) {
        const QStringList lines = logLines();
        const qsizetype answers = lines.filter(QRegularExpression(QStringLiteral("^[^#]"))).size();
        if (lines.filter(QRegularExpression(QStringLiteral("^# sent "))).size() >= answers)
            break;
        TestSystem::waitForEnd(m_process, 20);
    }
    clearLog();
    return m_process.state() == QProcess::Running || start();
}

QStringList ServiceFixture::logLines() const
{
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            lines.append(QString::fromLatin1(line));
    }
    return lines;
}

QStringList ServiceFixture::requestLines() const
{
    QStringList requests;
    for (const QString &line : logLines()) {
        if (!line.startsWith(QLatin1Char('#')))
            requests.append(line);
    }
    return requests;
}

QStringList ServiceFixture::requestsWithHeaders() const
{
    QStringList requests;
    for (const QString &line : logLines()) {
        if (!line.startsWith(QLatin1Char('#')))
            requests.append(line);
        else if (line.startsWith(QLatin1String("#  ")) && !requests.isEmpty())
            requests.last() += QLatin1String(" [") + line.mid(3) + QLatin1Char(']');
    }
    return requests;
}

qint64 ServiceFixture::bytesSent() const
{
    qint64 sent = 0;
    for (const QString &line : logLines()) {
        if (line.startsWith(QLatin1String("# sent ")))
            sent += line.section(QLatin1Char(' '), 2, 2).toLongLong();
    }
    return sent;
}

int ServiceFixture::connectionCount() const
{
    int count = 0;
    for (const QString &line : logLines()) {
        if (line.startsWith(QLatin1String("# connection ")))
            ++count;
    }
    return count;
}

void ServiceFixture::clearLog()
{
    // The service appends, so it goes on writing at the new end.
    QFile file(logPath());
    if (file.exists())
        file.resize(0);
}

bool ServiceFixture::writeFile(const QString &relativePath, const QByteArray &content) const
{
    const QString path = QDir(m_root).filePath(relativePath);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit();
}

bool ServiceFixture::writeCatalogue(const QByteArray &serviceIni) const
{
    return writeFile(QStringLiteral("service.ini"), serviceIni);
}

QByteArray ServiceFixture::uploaded(const QString &fileName) const
{
    QFile file(QDir(m_root).filePath(QStringLiteral("uploads/") + fileName));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool ServiceFixture::makeDemoCatalogue(const QString &folder)
{
    // One start of the service for the whole program: under Wine each start
    // of a Windows program costs a good part of a second of the machine.
    static QTemporaryDir made;
    static const bool ok = !serviceProgram.isEmpty() && made.isValid()
        && TestSystem::execute(serviceProgram, { QStringLiteral("--make-demo"), made.path() }) == 0;
    if (!ok)
        return false;
    const QDir source(made.path());
    const QDir target(folder);
    QDirIterator entries(made.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString path = entries.next();
        const QString relative = source.relativeFilePath(path);
        if (entries.fileInfo().isDir() ? !target.mkpath(relative) : !QFile::copy(path, target.filePath(relative)))
            return false;
    }
    return true;
}

bool ServiceFixture::writeHttpServerIni(const QString &folder, quint16 port, const QString &subdir,
                                        const QByteArray &extraLines)
{
    QFile file(QDir(folder).filePath(QStringLiteral("http_server.ini")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray text = "[server]\naddress=127.0.0.1\nport=" + QByteArray::number(port)
        + "\nsubdir=" + subdir.toUtf8() + '\n' + extraLines;
    return file.write(text) == text.size();
}
