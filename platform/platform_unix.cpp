// Platform layer for systems other than Windows: removable block devices stand
// in for removable drives, user settings for the registry, a folder in the
// home folder for "C:\orvane".
#include "platform/platform.h"
#include "platform/platform_faults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QSettings>
#include <QStorageInfo>

#include <csignal>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <minizip/ioapi.h>

#include <memory>

Q_LOGGING_CATEGORY(lcPlatform, "update_hub.platform")

namespace {

QString withSlash(QString path)
{
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

// Folders named by UPDATE_HUB_DRIVES ("a:b:c"); each counts as a removable drive.
bool drivesFromEnvironment(QStringList *roots)
{
    if (!qEnvironmentVariableIsSet("UPDATE_HUB_DRIVES"))
        return false;
    const QStringList parts
        = qEnvironmentVariable("UPDATE_HUB_DRIVES").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &part : parts)
        roots->append(withSlash(QDir::cleanPath(part)));
    return true;
}

// The whole-disk name of a partition device, for /sys/block/<disk>/removable.
QString diskOfDevice(const QString &device)
{
    const QString name = QFileInfo(device).fileName();
    QDir block(QStringLiteral("/sys/block"));
    const QStringList disks = block.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &disk : disks) {
        if (name == disk || (name.startsWith(disk) && QFileInfo::exists(block.filePath(disk + QLatin1Char('/') + name))))
            return disk;
    }
    return QString();
}

bool deviceIsRemovable(const QString &device)
{
    const QString disk = diskOfDevice(device);
    if (disk.isEmpty())
        return false;
    QFile flag(QStringLiteral("/sys/block/") + disk + QStringLiteral("/removable"));
    if (!flag.open(QIODevice::ReadOnly))
        return false;
    return flag.readAll().trimmed() == "1";
}

// Mount points of removable block devices, in mount-point order.
QStringList removableMountPoints()
{
    QStringList roots;
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (!mounts.open(QIODevice::ReadOnly))
        return roots;
    const QList<QByteArray> lines = mounts.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 2 || !fields.at(0).startsWith("/dev/"))
            continue;
        if (!deviceIsRemovable(QString::fromLocal8Bit(fields.at(0))))
            continue;
        // /proc/mounts escapes blanks and other characters as octal "\040".
        QByteArray mountPoint = fields.at(1);
        mountPoint.replace("\\040", " ").replace("\\011", "\t").replace("\\134", "\\");
        roots.append(withSlash(QString::fromLocal8Bit(mountPoint)));
    }
    roots.sort();
    roots.removeDuplicates();
    return roots;
}

// A file descriptor closed on every path.
class Descriptor
{
public:
    explicit Descriptor(int fd)
        : m_fd(fd)
    {
    }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// An iconv conversion descriptor that is always closed.
class IconvHandle
{
public:
    IconvHandle(const char *to, const char *from)
        : handle(iconv_open(to, from))
    {
    }
    ~IconvHandle()
    {
        if (isValid())
            iconv_close(handle);
    }
    IconvHandle(const IconvHandle &) = delete;
    IconvHandle &operator=(const IconvHandle &) = delete;

    bool isValid() const { return handle != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return handle; }

private:
    iconv_t handle;
};

int openPath(const QString &path, int flags)
{
    const QByteArray name = QFile::encodeName(path);
    int fd = -1;
    do {
        fd = ::open(name.constData(), flags | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

namespace Platform {

void endProcessNow(int exitCode)
{
    std::_Exit(exitCode);
}

QStringList driveRoots()
{
    QStringList roots;
    if (!drivesFromEnvironment(&roots))
        roots = removableMountPoints();
    return roots;
}

bool isRemovableDrive(const QString &root)
{
    QStringList roots;
    if (drivesFromEnvironment(&roots))
        return roots.contains(withSlash(QDir::cleanPath(root)));
    return removableMountPoints().contains(withSlash(QDir::cleanPath(root)));
}

bool queryVolume(const QString &root)
{
    const QFileInfo info(root);
    return info.isDir() && info.isReadable() && QDir(root).exists();
}

QString orvaneFolder()
{
    return withSlash(QDir::homePath()) + QStringLiteral("orvane/");
}

QSettings *openRegistryKey(const QString &key)
{
    return new QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Orvane"), key);
}

QString registryKeyPath(const QString &key)
{
    return QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Orvane\\") + key;
}

void killProcess(const QString &programName)
{
    QString name = programName;
    QStringList names{name};
    if (name.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive)) {
        name.chop(4);
        names << name;
    }
    // Walk /proc and end every process whose program name or first argument matches.
    const pid_t self = getpid();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const pid_t pid = entry.toInt(&ok);
        if (!ok || pid == self)
            continue;
        QFile cmdline(QStringLiteral("/proc/") + entry + QStringLiteral("/cmdline"));
        QString program;
        if (cmdline.open(QIODevice::ReadOnly))
            program = QFileInfo(QString::fromLocal8Bit(cmdline.readAll().split('\0').value(0))).fileName();
        QFile comm(QStringLiteral("/proc/") + entry + QStringLiteral("/comm"));
        QString command;
        if (comm.open(QIODevice::ReadOnly))
            command = QString::fromLocal8Bit(comm.readAll().trimmed());
        if (names.contains(program) || names.contains(command)) {
            qCDebug(lcPlatform) << "kill" << pid << program;
            ::kill(pid, SIGKILL);
        }
    }
}

bool startProgram(const QString &program, const QStringList &arguments)
{
    const QFileInfo info(program);
    if (!info.exists())
        return false;
    // A program that arrived by download carries no execute permission yet.
    if (!info.isExecutable()) {
        QFile::setPermissions(info.absoluteFilePath(),
                              info.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    }
    const bool started = QProcess::startDetached(info.absoluteFilePath(), arguments, QDir::currentPath());
    qCDebug(lcPlatform) << "start" << info.absoluteFilePath() << arguments << started;
    return started;
}

bool windowsVistaOrLater()
{
    return true;
}

qint64 freeSpace(const QString &path)
{
    QStorageInfo storage(path);
    if (!storage.isValid())
        return -1;
    return storage.bytesAvailable();
}

qint64 clusterSize(const QString &path)
{
    if (const qint64 forced = PlatformFaults::clusterSize(); forced > 0)
        return forced;
    struct statvfs volume {};
    if (::statvfs(QFile::encodeName(path).constData(), &volume) != 0 || volume.f_bsize == 0)
        return -1;
    return qint64(volume.f_bsize);
}

bool volumeReadOnly(const QString &path)
{
    struct statvfs volume {};
    return ::statvfs(QFile::encodeName(path).constData(), &volume) == 0 && (volume.f_flag & ST_RDONLY) != 0;
}

std::optional<quint32> fileAttributes(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return quint32(info.st_mode & 07777);
}

bool setFileAttributes(const QString &path, quint32 attributes)
{
    const std::optional<quint32> current = fileAttributes(path);
    if (current && *current == (attributes & 07777))
        return true; // nothing to change (a FAT file system may refuse chmod)
    return ::chmod(QFile::encodeName(path).constData(), mode_t(attributes & 07777)) == 0;
}

bool makeWritable(const QString &path)
{
    const std::optional<quint32> current = fileAttributes(path);
    return current && setFileAttributes(path, *current | S_IWUSR);
}

void keepFreedMemoryForReuse()
{
#ifdef __GLIBC__
    // glibc trims a heap as soon as 128 KiB at its top are free and maps
    // blocks of that size on their own; 16 MiB of each bounds what is kept.
    mallopt(M_TRIM_THRESHOLD, 16 * 1024 * 1024);
    mallopt(M_MMAP_THRESHOLD, 16 * 1024 * 1024);
#endif
}

bool flushFile(const QString &path)
{
    const Descriptor fd(openPath(path, O_RDONLY));
    if (fd.get() < 0)
        return false;
    return ::fdatasync(fd.get()) == 0;
}

bool readFromDevice(const QString &path, const std::function<bool(const char *, qint64)> &consumer)
{
    const Descriptor fd(openPath(path, O_RDONLY));
    if (fd.get() < 0)
        return false;
    // Written pages are clean once flushed; dropping them makes the read
    // below fetch the data from the device itself.
    ::fdatasync(fd.get());
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
    constexpr qint64 Chunk = 1024 * 1024;
    std::unique_ptr<char[]> buffer(new char[Chunk]);
    bool first = true;
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer.get(), size_t(Chunk));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (first && PlatformFaults::flipsReadBack(path))
            buffer[0] = char(buffer[0] ^ 0x01);
        first = false;
        if (!consumer(buffer.get(), qint64(got)))
            return false;
    }
}

bool renameOver(const QString &source, const QString &target)
{
    // rename() replaces an existing target in one step.
    return ::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) == 0;
}

bool renameNew(const QString &source, const QString &target)
{
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(target);
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
#endif
    // A file system without the flag: only a target known to be absent may
    // be taken; any other answer of the query (an I/O error) refuses.
    struct stat info;
    if (::lstat(to.constData(), &info) == 0 || errno != ENOENT)
        return false;
    return ::rename(from.constData(), to.constData()) == 0;
}

bool flushFolder(const QString &path)
{
    const Descriptor fd(openPath(path, O_RDONLY | O_DIRECTORY));
    if (fd.get() < 0)
        return false;
    return ::fsync(fd.get()) == 0 || errno == EINVAL;
}

std::optional<QString> decodeCodePage(const QByteArray &bytes, const QString &codecName)
{
    if (codecName.isEmpty())
        return std::nullopt;
    const QByteArray name = codecName.toLatin1();
    IconvHandle converter("UTF-8", name.constData());
    if (!converter.isValid())
        return std::nullopt;
    QByteArray out;
    QByteArray buffer(4 * bytes.size() + 16, Qt::Uninitialized);
    char *in = const_cast<char *>(bytes.constData());
    size_t inLeft = size_t(bytes.size());
    while (inLeft > 0) {
        char *outPtr = buffer.data();
        size_t outLeft = size_t(buffer.size());
        const size_t result = iconv(converter.get(), &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer.constData(), buffer.size() - qsizetype(outLeft));
        if (result != size_t(-1))
            break;
        if (errno == E2BIG)
            continue;
        // A byte the code page does not define (or a cut sequence): mark it and go on.
        out.append("\xEF\xBF\xBD");
        ++in;
        --inLeft;
    }
    return QString::fromUtf8(out);
}

QString decodeWindowsText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes);
}

QByteArray zipFileFunctions(const QString &path, zlib_filefunc64_def_s *functions)
{
    fill_fopen64_filefunc(functions);
    return QFile::encodeName(path);
}

QString volumeIdentity(const QString &root)
{
    struct stat info {};
    struct statvfs volume {};
    const QByteArray name = QFile::encodeName(root);
    if (::stat(name.constData(), &info) != 0 || ::statvfs(name.constData(), &volume) != 0)
        return QString();
    QString identity = QStringLiteral("%1-%2-%3")
                           .arg(quint64(info.st_dev), 0, 16)
                           .arg(quint64(volume.f_fsid), 0, 16)
                           .arg(quint64(volume.f_blocks) * quint64(volume.f_frsize));
    // Folders that stand in for drives share the volume of the folder they
    // lie in: the root folder itself then tells one "card" from another.
    if (qEnvironmentVariableIsSet("UPDATE_HUB_DRIVES"))
        identity += QStringLiteral("-") + QString::number(quint64(info.st_ino), 16);
    return identity;
}

} // namespace Platform
