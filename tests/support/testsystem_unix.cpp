#include "support/testsystem.h"

#include <QFile>
#include <QProcess>

#include <sys/mount.h>
#include <unistd.h>

namespace TestSystem {

bool isSuperUser()
{
    return geteuid() == 0;
}

bool mountTmpfs(const QString &path, const QString &options)
{
    return mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0, options.toLatin1().constData()) == 0;
}

bool remountReadOnly(const QString &path)
{
    return mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

void unmount(const QString &path)
{
    umount2(QFile::encodeName(path).constData(), MNT_DETACH);
}

int runHostProgram(const QString &program, const QStringList &arguments, const QString &workingDirectory,
                   int timeoutMs, QByteArray *output)
{
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (output)
        *output = process.readAll();
    return process.exitCode();
}

bool underWine()
{
    return false;
}

void clearUserState()
{
}

QString hostPath(const QString &path)
{
    return path;
}

HostProcess::~HostProcess()
{
    stop();
}

bool HostProcess::start(const QString &program, const QStringList &arguments)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(program, arguments);
    return m_process.waitForStarted(10000);
}

bool HostProcess::isRunning() const
{
    return m_process.state() == QProcess::Running;
}

void HostProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

} // namespace TestSystem
