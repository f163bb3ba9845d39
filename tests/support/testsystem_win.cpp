#include "support/testsystem.h"

#include "platform/platform.h"

#include <QDir>
#include <QLibrary>
#include <QProcess>
#include <QSettings>

namespace TestSystem {

namespace {

// Wine's kernel32 names the Linux file behind a Windows path; on Windows
// itself there is no such function. Looked up at run time, so the tests
// need no Windows header. The name it returns lives on the process heap.
using UnixFileName = char *(*)(const wchar_t *);
using ProcessHeap = void *(*)();
using FreeOnHeap = int (*)(void *, unsigned long, void *);

struct Kernel
{
    UnixFileName unixFileName = nullptr;
    ProcessHeap processHeap = nullptr;
    FreeOnHeap heapFree = nullptr;
};

const Kernel &kernel()
{
    static const Kernel functions = [] {
        Kernel k;
        QLibrary library(QStringLiteral("kernel32"));
        k.unixFileName = reinterpret_cast<UnixFileName>(library.resolve("wine_get_unix_file_name"));
        k.processHeap = reinterpret_cast<ProcessHeap>(library.resolve("GetProcessHeap"));
        k.heapFree = reinterpret_cast<FreeOnHeap>(library.resolve("HeapFree"));
        return k;
    }();
    return functions;
}

QString unixPath(const QString &path)
{
    char *name = kernel().unixFileName(reinterpret_cast<const wchar_t *>(path.utf16()));
    if (!name)
        return path;
    const QString result = QString::fromUtf8(name);
    if (kernel().processHeap && kernel().heapFree)
        kernel().heapFree(kernel().processHeap(), 0, name);
    return result;
}

} // namespace

bool underWine()
{
    return kernel().unixFileName != nullptr;
}

void clearUserState()
{
    if (!underWine())
        return;
    QDir(Platform::orvaneFolder()).removeRecursively();
    QSettings(QStringLiteral("HKEY_CURRENT_USER\\Software\\Orvane"), QSettings::NativeFormat).clear();
}

void withoutConsole(QProcess &process)
{
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *arguments) {
        const unsigned long createNoWindow = 0x08000000;
        const unsigned long detachedProcess = 0x00000008;
        arguments->flags = (arguments->flags & ~createNoWindow) | detachedProcess;
    });
}

QString hostPath(const QString &path)
{
    return underWine() ? unixPath(path) : path;
}

bool isSuperUser()
{
    return false;
}

bool mountTmpfs(const QString &, const QString &)
{
    return false;
}

bool remountReadOnly(const QString &)
{
    return false;
}

void unmount(const QString &)
{
}

} // namespace TestSystem
