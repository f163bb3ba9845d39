#include "support/proxyfixture.h"

#include "support/testsystem.h"

#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

} // namespace

ProxyFixture::ProxyFixture(const QString &user, const QString &password)
    : m_user(user)
    , m_password(password)
{
}

ProxyFixture::~ProxyFixture()
{
    stop();
}

QString ProxyFixture::program()
{
    // A Windows build run under Wine: the Linux program, through drive Z:.
    const QString host = QStringLiteral(UPDATE_HUB_HOST_ROOT "/usr/bin/tinyproxy");
    if (!QStringLiteral(UPDATE_HUB_HOST_ROOT).isEmpty() && QFile::exists(host))
        return host;
    const QString found = QStandardPaths::findExecutable(QStringLiteral("tinyproxy"));
    if (!found.isEmpty())
        return found;
    return QStandardPaths::findExecutable(QStringLiteral("tinyproxy"),
                                          { QStringLiteral("/usr/bin"), QStringLiteral("/usr/sbin") });
}

bool ProxyFixture::start()
{
    // The free port can be taken by someone else between probe and start: try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startOnce())
            return true;
    }
    return false;
}

bool ProxyFixture::startOnce()
{
    stop();
    m_port = freePort();
    if (m_port == 0 || !m_folder.isValid() || program().isEmpty())
        return false;
    QByteArray config = "Port " + QByteArray::number(m_port) + "\nListen 127.0.0.1\nTimeout 60\n"
        + "LogFile \"" + TestSystem::hostPath(m_folder.filePath(QStringLiteral("proxy.log"))).toUtf8()
        + "\"\n"
        + "LogLevel Info\nMaxClients 50\nAllow 127.0.0.1\nDisableViaHeader Yes\n";
    if (!m_user.isEmpty())
        config += "BasicAuth " + m_user.toUtf8() + ' ' + m_password.toUtf8() + '\n';
    QFile file(m_folder.filePath(QStringLiteral("tinyproxy.conf")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(config) != config.size())
        return false;
    file.close();
    QFile::remove(m_folder.filePath(QStringLiteral("proxy.log")));

    // Plain arguments, no shell; in the foreground so that it can be stopped.
    if (!m_process.start(program(), { QStringLiteral("-d"), QStringLiteral("-c"), file.fileName() }))
        return false;
    for (int wait = 0; wait < 100; ++wait) {
        if (!m_process.isRunning())
            return false;
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        if (socket.waitForConnected(200))
            return true;
        QThread::msleep(50);
    }
    return false;
}

void ProxyFixture::stop()
{
    m_process.stop();
}

QByteArray ProxyFixture::log() const
{
    QFile file(m_folder.filePath(QStringLiteral("proxy.log")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList ProxyFixture::forwarded() const
{
    // "... Request (file descriptor N): GET http://127.0.0.1:P/path HTTP/1.1"
    static const QRegularExpression request(
        QStringLiteral("Request \\(file descriptor \\d+\\): (\\S+ \\S+)"));
    QStringList lines;
    for (const QString &line : QString::fromUtf8(log()).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = request.match(line);
        if (match.hasMatch())
            lines << match.captured(1);
    }
    return lines;
}
