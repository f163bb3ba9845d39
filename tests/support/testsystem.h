#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

/// What the tests need of the system beyond the platform layer: the
/// superuser check and small tmpfs mounts (a full disk, a read-only card).
/// testsystem_unix.cpp does them with POSIX calls; on Windows there is no
/// tmpfs and no superuser that writes through a read-only folder, so the
/// tests that need them skip.
namespace TestSystem {

/// True when the process runs as the superuser (root writes through permission bits).
bool isSuperUser();
/// Mounts a tmpfs at path with the given mount options ("size=1m"); false when it cannot.
bool mountTmpfs(const QString &path, const QString &options);
/// Makes the tmpfs at path read-only; false when it cannot.
bool remountReadOnly(const QString &path);
/// Unmounts what is mounted at path (lazily: a file still open does not stop it).
void unmount(const QString &path);

/// True when the tests run under Wine (a Windows build run on Linux).
bool underWine();

/// Runs a program of the machine the tests run on (Info-ZIP's zip and unzip,
/// lupdate) in workingDirectory and returns its exit code, or -1 when it did
/// not start or end within timeoutMs; output, when given, gets its standard
/// output and error. Under Wine such a program is a Linux program, whose end
/// and exit code a Windows program cannot see: it runs through the shell,
/// which writes them into files, and arguments naming Windows paths are
/// handed over as the Linux paths behind them.
int runHostProgram(const QString &program, const QStringList &arguments, const QString &workingDirectory,
                   int timeoutMs = 60000, QByteArray *output = nullptr);

/// Waits up to timeoutMs for process to end, running the event loop, and
/// returns whether it has ended. On Windows QProcess::waitForFinished()
/// notices the end itself and deletes the process's wait notifier, whose
/// thread-pool callback may be posting to it at that moment (under Wine a
/// test now and then crashed on an event for a deleted object). Here the end
/// arrives through that notifier, after its callback has posted.
bool waitForEnd(QProcess &process, int timeoutMs);

/// Runs program (a program of this build) to its end as QProcess::execute()
/// does, but without pipes and waiting through waitForEnd(), and returns its
/// exit code, or -1 when it did not start, crashed or took longer than
/// timeoutMs (it is killed then). output, when given, gets its standard
/// output followed by its standard error, passed through files.
int execute(const QString &program, const QStringList &arguments, int timeoutMs = 60000,
            QByteArray *output = nullptr);

/// Has process, a console program of this build, start without a console
/// of its own on Windows (its output goes where the caller sets it, as
/// before). A console program started by one that has no console window
/// (a test) gets a new hidden console, and under Wine that is one more
/// program start (conhost.exe) for each. Elsewhere nothing.
void withoutConsole(QProcess &process);

/// Under Wine, removes what earlier tests left in the prefix's per-user
/// state: the "C:/orvane" folder and the registry key HKEY_CURRENT_USER
/// Software\Orvane. Elsewhere nothing: on Linux each workspace is a home of
/// its own, and on a Windows PC they are the user's own.
void clearUserState();

/// A path as the machine's own programs name it: under Wine the Linux path
/// behind a Windows one, elsewhere the path itself.
QString hostPath(const QString &path);

/// A program of the machine kept running in the background (a proxy) until
/// stop() or destruction; under Wine it runs through the shell as in
/// runHostProgram(), which ends it when told through a file.
class HostProcess
{
public:
    HostProcess() = default;
    ~HostProcess();
    HostProcess(const HostProcess &) = delete;
    HostProcess &operator=(const HostProcess &) = delete;

    bool start(const QString &program, const QStringList &arguments);
    bool isRunning() const;
    void stop();

private:
    QProcess m_process;
    std::unique_ptr<QTemporaryDir> m_folder; // under Wine: the script, its stop and status files
};

} // namespace TestSystem
