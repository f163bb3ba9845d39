#include "support/testsystem.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

// What runs the machine's own programs: directly, or under Wine through the
// machine's shell (the system files say which and name the paths).
namespace TestSystem {

namespace {

// One word for the shell, whatever it holds.
QString quoted(const QString &word)
{
    QString copy = word;
    copy.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + copy + QLatin1Char('\'');
}

int runDirectly(const QString &program, const QStringList &arguments, const QString &workingDirectory,
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

// Writes the script of pattern (%1 the working folder, %2 the command, %3
// the output file, %4 and %5 the status file while written and when whole,
// %6 the stop file, %7 a name for a pipe) into folder and starts it with the
// machine's bash.
bool startThroughShell(const QTemporaryDir &folder, const QString &pattern, const QString &program,
                       const QStringList &arguments, const QString &workingDirectory)
{
    static const QRegularExpression windowsPath(QStringLiteral("^[A-Za-z]:[/\\\\]"));
    auto hostWord = [](const QString &word) {
        return quoted(windowsPath.match(word).hasMatch() ? hostPath(word) : word);
    };
    const QString base = hostPath(folder.path()) + QLatin1Char('/');
    QString command = hostWord(program);
    for (const QString &argument : arguments)
        command += QLatin1Char(' ') + hostWord(argument);
    QString script = pattern;
    script.replace(QStringLiteral("%1"), hostWord(workingDirectory))
        .replace(QStringLiteral("%2"), command)
        .replace(QStringLiteral("%3"), quoted(base + QStringLiteral("output")))
        .replace(QStringLiteral("%4"), quoted(base + QStringLiteral("status.part")))
        .replace(QStringLiteral("%5"), quoted(base + QStringLiteral("status")))
        .replace(QStringLiteral("%6"), quoted(base + QStringLiteral("stop")))
        .replace(QStringLiteral("%7"), quoted(base + QStringLiteral("pause")));
    QFile file(folder.filePath(QStringLiteral("run.sh")));
    if (!file.open(QIODevice::WriteOnly) || file.write(script.toUtf8()) < 0)
        return false;
    file.close();
    // The build folder's starter (tests/helpers/hostlauncher.sh, running
    // beside the suite) runs the script: Wine's start of a Linux program
    // from here now and then never returned under load.
    const QString spool = QStringLiteral(UPDATE_HUB_BINARY_DIR "/host-spool/");
    if (QFile::exists(spool + QStringLiteral("launcher.pid")) && !QFile::exists(spool + QStringLiteral("stop"))) {
        const QString request = spool + QFileInfo(folder.path()).fileName();
        QFile part(request + QStringLiteral(".part"));
        if (!part.open(QIODevice::WriteOnly)
            || part.write("exec bash " + quoted(base + QStringLiteral("run.sh")).toUtf8() + '\n') < 0)
            return false;
        part.close();
        return QFile::rename(part.fileName(), request + QStringLiteral(".sh"));
    }
    // A plain argument: Wine hands quoted ones to a Linux program altered.
    return QProcess::startDetached(QStringLiteral(UPDATE_HUB_HOST_ROOT "/bin/bash"),
                                   { base + QStringLiteral("run.sh") });
}

} // namespace

int runHostProgram(const QString &program, const QStringList &arguments, const QString &workingDirectory,
                   int timeoutMs, QByteArray *output)
{
    if (!underWine())
        return runDirectly(program, arguments, workingDirectory, timeoutMs, output);

    // The shell writes the exit code into a file of its own and renames it
    // when complete: its appearance is the program's end.
    QTemporaryDir folder(QStringLiteral(UPDATE_HUB_BINARY_DIR "/host-XXXXXX"));
    if (!folder.isValid()
        || !startThroughShell(folder, QStringLiteral("cd %1 || exit 1\n%2 >%3 2>&1 </dev/null\n"
                                                     "echo $? >%4 && mv %4 %5\n"),
                              program, arguments, workingDirectory))
        return -1;
    QFile status(folder.filePath(QStringLiteral("status")));
    const QDeadlineTimer deadline(timeoutMs);
    while (!status.exists()) {
        if (deadline.hasExpired())
            return -1;
        QThread::msleep(20);
    }
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const int code = status.readAll().trimmed().toInt(&ok);
    if (output) {
        QFile out(folder.filePath(QStringLiteral("output")));
        *output = out.open(QIODevice::ReadOnly) ? out.readAll() : QByteArray();
    }
    return ok ? code : -1;
}


bool waitForEnd(QProcess &process, int timeoutMs)
{
    if (process.state() == QProcess::NotRunning)
        return true;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    if (process.state() != QProcess::NotRunning)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return process.state() == QProcess::NotRunning;
}

int execute(const QString &program, const QStringList &arguments, int timeoutMs, QByteArray *output)
{
    QTemporaryDir folder;
    if (output && !folder.isValid())
        return -1;
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    if (output) {
        process.setStandardOutputFile(folder.filePath(QStringLiteral("out")));
        process.setStandardErrorFile(folder.filePath(QStringLiteral("err")));
    } else {
        process.setProcessChannelMode(QProcess::ForwardedChannels);
    }
    withoutConsole(process);
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return -1;
    if (!waitForEnd(process, timeoutMs)) {
        process.kill();
        waitForEnd(process, 5000);
        return -1;
    }
    if (output) {
        output->clear();
        for (const char *name : { "out", "err" }) {
            QFile file(folder.filePath(QString::fromLatin1(name)));
            if (file.open(QIODevice::ReadOnly))
                *output += file.readAll();
        }
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

HostProcess::~HostProcess()
{
    stop();
}

bool HostProcess::start(const QString &program, const QStringList &arguments)
{
    if (!underWine()) {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(program, arguments);
        return m_process.waitForStarted(10000);
    }
    m_folder = std::make_unique<QTemporaryDir>(QStringLiteral(UPDATE_HUB_BINARY_DIR "/host-XXXXXX"));
    const bool started = m_folder->isValid()
        && startThroughShell(*m_folder,
                             // The pause between looks is a read with a time-out on a
                             // pipe nobody writes to: sleep would start a process
                             // 20 times a second for as long as the program runs.
                             QStringLiteral("%2 >%3 2>&1 </dev/null &\nchild=$!\n"
                                            "if mkfifo %7; then exec 3<>%7; rm -f %7; fi\n"
                                            "while [ ! -e %6 ] && kill -0 $child 2>/dev/null; do\n"
                                            "    read -r -t 0.05 -u 3 _ 2>/dev/null || [ $? -gt 128 ] || sleep 0.05\n"
                                            "done\n"
                                            "kill $child 2>/dev/null\nwait $child\necho $? >%4 && mv %4 %5\n"),
                             program, arguments, QString());
    if (!started)
        m_folder.reset();
    return started;
}

bool HostProcess::isRunning() const
{
    if (m_folder)
        return !QFile::exists(m_folder->filePath(QStringLiteral("status")));
    return m_process.state() == QProcess::Running;
}

void HostProcess::stop()
{
    if (m_folder) {
        QFile stopFile(m_folder->filePath(QStringLiteral("stop")));
        if (stopFile.open(QIODevice::WriteOnly))
            stopFile.close();
        const QDeadlineTimer deadline(5000);
        while (isRunning() && !deadline.hasExpired())
            QThread::msleep(20);
        m_folder.reset();
        return;
    }
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

} // namespace TestSystem
