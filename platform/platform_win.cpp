// Platform layer for Windows: drive enumeration and volume queries, the
// registry below HKEY_CURRENT_USER\SOFTWARE\Orvane, taskkill and the shell.
#include "platform/platform.h"
#include "platform/platform_faults.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutex>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QStorageInfo>

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <climits>
#include <cstdlib>
#include <minizip/ioapi.h>
// The wide-character file functions come with minizip's Windows file layer;
// its header is not installed everywhere, the declaration is the same.
#if __has_include(<minizip/iowin32.h>)
#include <minizip/iowin32.h>
#else
extern "C" void fill_win32_filefunc64W(zlib_filefunc64_def *pzlib_filefunc_def);
#endif

#include <memory>
#include <vector>

Q_LOGGING_CATEGORY(lcPlatform, "update_hub.platform")

namespace {

QString nativeRoot(const QString &root)
{
    QString path = QDir::toNativeSeparators(root);
    if (!path.endsWith(QLatin1Char('\\')))
        path += QLatin1Char('\\');
    return path;
}

LPCWSTR wide(const QString &text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

// A path for the Win32 file functions: absolute with backslashes, and in the
// "\\?\" form once it is too long for MAX_PATH (a program folder deep below
// the user's folders), which those functions take at any length.
QString win32Path(const QString &path)
{
    QString native = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (native.size() < MAX_PATH - 12 || native.startsWith(QLatin1String("\\\\?\\")))
        return native;
    if (native.startsWith(QLatin1String("\\\\")))
        return QStringLiteral("\\\\?\\UNC\\") + native.mid(2);
    return QStringLiteral("\\\\?\\") + native;
}

// One argument of a command line as the C runtime's parser splits it again:
// quoted when it holds blanks or quotes, backslashes doubled before a quote.
QString quotedArgument(const QString &argument)
{
    if (!argument.isEmpty() && !argument.contains(QLatin1Char(' ')) && !argument.contains(QLatin1Char('\t'))
        && !argument.contains(QLatin1Char('"')))
        return argument;
    QString quoted = QStringLiteral("\"");
    int backslashes = 0;
    for (const QChar c : argument) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
            continue;
        }
        quoted += QString(c == QLatin1Char('"') ? 2 * backslashes + 1 : backslashes, QLatin1Char('\\'));
        quoted += c;
        backslashes = 0;
    }
    quoted += QString(2 * backslashes, QLatin1Char('\\')) + QLatin1Char('"');
    return quoted;
}

// A Win32 handle closed on every path.
class Handle
{
public:
    explicit Handle(HANDLE handle)
        : m_handle(handle)
    {
    }
    ~Handle()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle;
};

// Memory from VirtualAlloc: page-aligned, as unbuffered reads require.
struct PageMemory
{
    void operator()(void *memory) const { VirtualFree(memory, 0, MEM_RELEASE); }
};

} // namespace

namespace Platform {

void endProcessNow(int exitCode)
{
    TerminateProcess(GetCurrentProcess(), UINT(exitCode));
    std::_Exit(exitCode);
}

QStringList driveRoots()
{
    QStringList roots;
    if (qEnvironmentVariableIsSet("UPDATE_HUB_DRIVES")) {
        const QStringList parts
            = qEnvironmentVariable("UPDATE_HUB_DRIVES").split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (const QString &part : parts)
            roots << QDir::fromNativeSeparators(nativeRoot(part));
        return roots;
    }
    const DWORD length = GetLogicalDriveStringsW(0, nullptr);
    if (length == 0)
        return roots;
    std::vector<wchar_t> buffer(length + 1, L'\0');
    if (GetLogicalDriveStringsW(length, buffer.data()) == 0)
        return roots;
    for (const wchar_t *p = buffer.data(); *p; p += wcslen(p) + 1)
        roots << QString::fromWCharArray(p, 1) + QStringLiteral(":/");
    return roots;
}

bool isRemovableDrive(const QString &root)
{
    if (qEnvironmentVariableIsSet("UPDATE_HUB_DRIVES"))
        return driveRoots().contains(root);
    const QString path = nativeRoot(root);
    return GetDriveTypeW(reinterpret_cast<LPCWSTR>(path.utf16())) == DRIVE_REMOVABLE;
}

bool queryVolume(const QString &root)
{
    if (qEnvironmentVariableIsSet("UPDATE_HUB_DRIVES"))
        return QFileInfo(root).isReadable();
    const QString path = nativeRoot(root);
    wchar_t volumeName[256];
    return GetVolumeInformationW(reinterpret_cast<LPCWSTR>(path.utf16()), volumeName, 256, nullptr, nullptr,
                                 nullptr, nullptr, 0)
        != 0;
}

QString orvaneFolder()
{
    return QStringLiteral("C:/orvane/");
}

QSettings *openRegistryKey(const QString &key)
{
    return new QSettings(registryKeyPath(key), QSettings::NativeFormat);
}

QString registryKeyPath(const QString &key)
{
    return QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Orvane\\") + key;
}

void killProcess(const QString &programName)
{
    // Here rather than through taskkill: a helper program that did not end
    // would hold the updater, and each start of one costs time.
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        qCDebug(lcPlatform) << "no process list:" << GetLastError();
        return;
    }
    const DWORD self = GetCurrentProcessId();
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self
            || QString::fromWCharArray(entry.szExeFile).compare(programName, Qt::CaseInsensitive) != 0)
            continue;
        const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (!process) {
            qCDebug(lcPlatform) << "cannot end" << programName << entry.th32ProcessID << GetLastError();
            continue;
        }
        qCDebug(lcPlatform) << "kill" << entry.th32ProcessID << programName;
        // Its program file can be replaced once it has ended.
        if (TerminateProcess(process, 1))
            WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
    CloseHandle(snapshot);
}

bool startProgram(const QString &program, const QStringList &arguments)
{
    const QFileInfo info(program);
    if (!info.exists())
        return false;
    const QString file = QDir::toNativeSeparators(info.absoluteFilePath());
    QStringList quoted;
    for (const QString &argument : arguments)
        quoted << quotedArgument(argument);
    const QString parameters = quoted.join(QLatin1Char(' '));
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", reinterpret_cast<LPCWSTR>(file.utf16()),
                      parameters.isEmpty() ? nullptr : reinterpret_cast<LPCWSTR>(parameters.utf16()), nullptr,
                      SW_SHOWNORMAL));
    return result > 32;
}

bool windowsVistaOrLater()
{
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExW(&info))
        return false;
    return info.dwMajorVersion > 5;
}

qint64 freeSpace(const QString &path)
{
    QStorageInfo storage(path);
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

qint64 clusterSize(const QString &path)
{
    if (const qint64 forced = PlatformFaults::clusterSize(); forced > 0)
        return forced;
    const QString native = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    wchar_t volume[MAX_PATH + 1] = {};
    if (!GetVolumePathNameW(wide(native), volume, MAX_PATH + 1))
        return -1;
    DWORD sectorsPerCluster = 0;
    DWORD bytesPerSector = 0;
    DWORD freeClusters = 0;
    DWORD totalClusters = 0;
    if (!GetDiskFreeSpaceW(volume, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters))
        return -1;
    return qint64(sectorsPerCluster) * qint64(bytesPerSector);
}

bool volumeReadOnly(const QString &path)
{
    const QString native = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    wchar_t volume[MAX_PATH + 1] = {};
    DWORD flags = 0;
    return GetVolumePathNameW(wide(native), volume, MAX_PATH + 1)
        && GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)
        && (flags & FILE_READ_ONLY_VOLUME) != 0;
}

namespace {
constexpr DWORD keptAttributeMask = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
} // namespace

std::optional<quint32> fileAttributes(const QString &path)
{
    const DWORD attributes = GetFileAttributesW(wide(QDir::toNativeSeparators(path)));
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return std::nullopt;
    return quint32(attributes & keptAttributeMask);
}

namespace {
bool changeAttributes(const QString &path, DWORD set, DWORD clear)
{
    const QString native = QDir::toNativeSeparators(path);
    const DWORD current = GetFileAttributesW(wide(native));
    if (current == INVALID_FILE_ATTRIBUTES)
        return false;
    DWORD wanted = (current & ~clear) | set;
    if (wanted == current)
        return true;
    if (wanted == 0)
        wanted = FILE_ATTRIBUTE_NORMAL;
    return SetFileAttributesW(wide(native), wanted) != 0;
}
} // namespace

bool setFileAttributes(const QString &path, quint32 attributes)
{
    const DWORD kept = DWORD(attributes) & keptAttributeMask;
    return changeAttributes(path, kept, keptAttributeMask & ~kept);
}

bool makeWritable(const QString &path)
{
    return changeAttributes(path, 0, keptAttributeMask);
}

void keepFreedMemoryForReuse()
{
    // The Windows heap keeps freed blocks for reuse by itself.
}

bool flushFile(const QString &path)
{
    const QString native = win32Path(path);
    // FlushFileBuffers needs a handle with write access.
    const Handle file(CreateFileW(wide(native), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return false;
    return FlushFileBuffers(file.get()) != 0;
}

bool readFromDevice(const QString &path, const std::function<bool(const char *, qint64)> &consumer)
{
    const QString native = win32Path(path);
    // Unbuffered: the data comes from the device, not from the cache. Reads
    // must then be whole sectors into sector-aligned memory; 1 MiB of pages
    // is a multiple of every sector size, and the last read returns the
    // bytes up to the end of the file.
    const Handle file(CreateFileW(wide(native), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid())
        return false;
    constexpr DWORD Chunk = 1024 * 1024;
    // Buffers are kept for the next read back: fresh pages would be mapped
    // and zeroed for every file, which costs more than reading a small file.
    // No more are kept than reads ran at once; they last as long as the
    // process (the list is never destroyed, so no exit order can matter).
    static QMutex keptMutex;
    static auto *kept = new std::vector<void *>;
    std::unique_ptr<void, PageMemory> memory;
    {
        QMutexLocker lock(&keptMutex);
        if (!kept->empty()) {
            memory.reset(kept->back());
            kept->pop_back();
        }
    }
    if (!memory)
        memory.reset(VirtualAlloc(nullptr, Chunk, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!memory)
        return false;
    const auto giveBack = qScopeGuard([&memory] {
        QMutexLocker lock(&keptMutex);
        kept->push_back(memory.release());
    });
    char *const buffer = static_cast<char *>(memory.get());
    bool first = true;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, Chunk, &got, nullptr))
            return false;
        if (got == 0)
            return true;
        if (first && PlatformFaults::flipsReadBack(path))
            buffer[0] = char(buffer[0] ^ 0x01);
        first = false;
        if (!consumer(buffer, qint64(got)))
            return false;
        if (got < Chunk)
            return true;
    }
}

bool renameOver(const QString &source, const QString &target)
{
    const QString from = win32Path(source);
    const QString to = win32Path(target);
    return MoveFileExW(wide(from), wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool renameNew(const QString &source, const QString &target)
{
    // Without MOVEFILE_REPLACE_EXISTING the move fails when target exists.
    const QString from = QDir::toNativeSeparators(source);
    const QString to = QDir::toNativeSeparators(target);
    return MoveFileExW(wide(from), wide(to), MOVEFILE_WRITE_THROUGH) != 0;
}

bool flushFolder(const QString &path)
{
    // MOVEFILE_WRITE_THROUGH and FlushFileBuffers on the files already make
    // the entries durable; folders cannot be flushed on their own.
    Q_UNUSED(path)
    return true;
}

std::optional<QString> decodeCodePage(const QByteArray &bytes, const QString &codecName)
{
    const unsigned codePage = windowsCodePage(codecName);
    if (codePage == 0 || !IsValidCodePage(codePage) || bytes.size() > INT_MAX)
        return std::nullopt;
    if (bytes.isEmpty())
        return QString();
    // Without MB_ERR_INVALID_CHARS a byte the code page lacks becomes its
    // replacement character instead of failing the whole text.
    const int size = int(bytes.size());
    const int length = MultiByteToWideChar(codePage, 0, bytes.constData(), size, nullptr, 0);
    if (length <= 0)
        return std::nullopt;
    QString text(length, Qt::Uninitialized);
    if (MultiByteToWideChar(codePage, 0, bytes.constData(), size, reinterpret_cast<wchar_t *>(text.data()), length)
        != length)
        return std::nullopt;
    return text;
}

QString decodeWindowsText(const QByteArray &bytes)
{
    return decodeCodePage(bytes, QStringLiteral("windows-1252")).value_or(QString::fromLatin1(bytes));
}

QByteArray zipFileFunctions(const QString &path, zlib_filefunc64_def_s *functions)
{
    fill_win32_filefunc64W(functions);
    // The functions take a wchar_t text: UTF-16 with its terminating 0.
    const QString native = win32Path(path);
    return QByteArray(reinterpret_cast<const char *>(native.utf16()), int((native.size() + 1) * sizeof(wchar_t)));
}

QString volumeIdentity(const QString &root)
{
    // The volume the root lies on: the root itself for a drive, the drive
    // below it for a folder that stands in for one.
    wchar_t path[MAX_PATH + 1] = {};
    if (!GetVolumePathNameW(wide(nativeRoot(root)), path, MAX_PATH + 1))
        return QString();
    wchar_t label[MAX_PATH + 1] = {};
    DWORD serial = 0;
    if (!GetVolumeInformationW(path, label, MAX_PATH + 1, &serial, nullptr, nullptr, nullptr, 0))
        return QString();
    QString identity;
    if (serial != 0) {
        identity = QStringLiteral("serial-%1").arg(quint32(serial), 8, 16, QLatin1Char('0'));
    } else {
        // Media formatted without a serial number: size and label instead.
        ULARGE_INTEGER total = {};
        if (!GetDiskFreeSpaceExW(path, nullptr, &total, nullptr))
            return QString();
        identity = QStringLiteral("size-%1-%2").arg(quint64(total.QuadPart)).arg(QString::fromWCharArray(label));
    }
    // Folders that stand in for drives share the volume of the folder they
    // lie in: the root folder's own file index then tells one "card" from
    // another.
    if (qEnvironmentVariableIsSet("UPDATE_HUB_DRIVES")) {
        const HANDLE folder = CreateFileW(wide(win32Path(root)), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (folder == INVALID_HANDLE_VALUE)
            return QString();
        BY_HANDLE_FILE_INFORMATION info = {};
        const bool known = GetFileInformationByHandle(folder, &info);
        CloseHandle(folder);
        if (!known)
            return QString();
        identity += QStringLiteral("-%1").arg((quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow, 0, 16);
    }
    return identity;
}

} // namespace Platform
