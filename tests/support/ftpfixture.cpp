#include "support/ftpfixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {

// Debian's own interpreter carries the packaged FTP server module; another
// python3 first on PATH may not. Under Wine both are Linux programs seen
// through drive Z:.
const QString interpreter = QStringLiteral(UPDATE_HUB_HOST_ROOT "/usr/bin/python3");
const QString serverScript = QStringLiteral(UPDATE_HUB_SOURCE_DIR "/tests/helpers/ftpserver.py");

bool portAnswers(int port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    return socket.waitForConnected(500);
}

int freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

} // namespace

FtpFixture::FtpFixture(const QString &user, const QString &password)
    : m_user(user)
    , m_password(password)
    // Under Wine the served folder must be one the Linux server can name.
    , m_root(QStringLiteral(UPDATE_HUB_BINARY_DIR "/ftp-XXXXXX"))
{
}

FtpFixture::~FtpFixture()
{
    stop();
}

bool FtpFixture::available()
{
    // A server that starts and greets: under Wine a Linux program's end and
    // exit code cannot be waited for, so running a check would tell nothing.
    static const bool ok = [] {
        if (!QFileInfo::exists(interpreter) || !QFileInfo::exists(serverScript))
            return false;
        FtpFixture probe(QStringLiteral("probe"), QStringLiteral("probe"));
        return probe.start();
    }();
    return ok;
}

bool FtpFixture::start()
{
    if (!m_root.isValid())
        return false;
    // The free port can be taken by someone else between probe and start: try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const QString failure = startOnce();
        if (failure.isEmpty())
            return true;
        qWarning("the FTP server did not start (attempt %d): %s", attempt + 1, qPrintable(failure));
        stop();
    }
    return false;
}

QString FtpFixture::startOnce()
{
    m_port = freeLoopbackPort();
    if (m_port == 0)
        return QStringLiteral("no free loopback port");
    QFile::remove(stopFile());
    // Under Wine the server runs through the machine's shell, not as a
    // child of this process: Wine can neither end a Linux program nor see
    // it end, and a QProcess left waiting on one outlives the test.
    if (!m_process.start(interpreter,
                         { serverScript, QString::number(m_port), m_user, m_password, m_root.path(), stopFile() }))
        return QStringLiteral("%1 could not be started").arg(interpreter);

    // Ready once a client receives the "220" greeting.
    const QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        if (!m_process.isRunning())
            return QStringLiteral("the server ended (port %1 taken, or the module missing)").arg(m_port);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(m_port));
        if (socket.waitForConnected(500) && socket.waitForReadyRead(2000)
            && socket.readAll().startsWith("220")) {
            socket.disconnectFromHost();
            return QString();
        }
        QThread::msleep(100);
    }
    return QStringLiteral("no greeting on port %1 within 30 s").arg(m_port);
}

QString FtpFixture::stopFile() const
{
    return m_root.path() + QStringLiteral(".stop");
}

void FtpFixture::stop()
{
    // The stop file ends a server that cannot be killed (under Wine); then
    // the port refuses connections within a moment.
    QFile stop(stopFile());
    const bool asked = m_port != 0 && stop.open(QIODevice::WriteOnly);
    stop.close();
    m_process.stop();
    const QDeadlineTimer deadline(5000);
    while (asked && portAnswers(m_port) && !deadline.hasExpired())
        QThread::msleep(50);
    QFile::remove(stopFile());
}

bool FtpFixture::makeDir(const QString &relative) const
{
    return QDir(m_root.path()).mkpath(relative);
}

QByteArray FtpFixture::readFile(const QString &relative) const
{
    QFile file(m_root.filePath(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList FtpFixture::fileNames(const QString &relative) const
{
    return QDir(m_root.filePath(relative)).entryList(QDir::Files, QDir::Name);
}
