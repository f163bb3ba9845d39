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
// python3 first on PATH may not.
const QString interpreter = QStringLiteral("/usr/bin/python3");

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
{
}

FtpFixture::~FtpFixture()
{
    stop();
}

bool FtpFixture::available()
{
    if (!QFileInfo::exists(interpreter))
        return false;
    QProcess check;
    check.start(interpreter, { QStringLiteral("-c"), QStringLiteral("import pyftpdlib") });
    return check.waitForFinished(20000) && check.exitStatus() == QProcess::NormalExit
        && check.exitCode() == 0;
}

bool FtpFixture::start()
{
    if (!m_root.isValid())
        return false;
    // The free port can be taken by someone else between probe and start: try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startOnce())
            return true;
        stop();
    }
    return false;
}

bool FtpFixture::startOnce()
{
    m_port = freeLoopbackPort();
    if (m_port == 0)
        return false;
    // The server logs every command; readiness is checked below instead.
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start(interpreter,
                    { QStringLiteral("-m"), QStringLiteral("pyftpdlib"), QStringLiteral("-i"),
                      QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(m_port),
                      QStringLiteral("-u"), m_user, QStringLiteral("-P"), m_password, QStringLiteral("-w"),
                      QStringLiteral("-d"), m_root.path() });
    if (!m_process.waitForStarted(10000))
        return false;

    // Ready once a client receives the "220" greeting.
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        if (m_process.state() != QProcess::Running)
            return false;
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(m_port));
        if (socket.waitForConnected(500) && socket.waitForReadyRead(2000)
            && socket.readAll().startsWith("220")) {
            socket.disconnectFromHost();
            return true;
        }
        QThread::msleep(100);
    }
    return false;
}

void FtpFixture::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
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
