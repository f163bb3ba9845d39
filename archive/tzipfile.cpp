#include "archive/tzipfile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <zlib.h>

#include <climits>
#include <memory>
#include <vector>

Q_LOGGING_CATEGORY(lcArchive, "update_hub.archive")

namespace {

// One buffer for a whole extraction: large enough that a chunk costs one
// write call, small enough to stay in the cache while inflate fills it.
constexpr qint64 ExtractChunk = 512 * 1024;
constexpr qint64 ZipChunk = 256 * 1024;

constexpr uLong AttrReadOnly = 0x01;
constexpr uLong AttrHidden = 0x02;
constexpr uLong AttrFolder = 0x10;
constexpr uLong AttrArchive = 0x20;
constexpr uLong FlagEncrypted = 0x1;
constexpr uLong FlagUtf8Name = 0x800;
constexpr uLong MethodStored = 0;
constexpr uLong MethodDeflate = Z_DEFLATED;
constexpr uLong HostUnix = 3;
constexpr uLong UnixTypeMask = 0170000;
constexpr uLong UnixSymlink = 0120000;

struct UnzCloser
{
    void operator()(void *handle) const { unzClose(handle); }
};
using UnzHandle = std::unique_ptr<void, UnzCloser>;

// A zip being written: closed on every path, and the close result (which
// writes the central directory) can be checked where it matters.
class ZipWriter
{
public:
    explicit ZipWriter(zipFile handle = nullptr)
        : m_handle(handle)
    {
    }
    ~ZipWriter() { close(); }
    ZipWriter(const ZipWriter &) = delete;
    ZipWriter &operator=(const ZipWriter &) = delete;

    zipFile get() const { return m_handle; }
    bool close()
    {
        if (!m_handle)
            return true;
        const int result = zipClose(m_handle, nullptr);
        m_handle = nullptr;
        return result == ZIP_OK;
    }

private:
    zipFile m_handle;
};

// Qt signals carry 32-bit counts; beyond 4 GiB both values are shifted by
// the same amount so the fraction they describe stays right.
int countShift(quint64 largest)
{
    int shift = 0;
    while ((largest >> shift) > UINT_MAX)
        ++shift;
    return shift;
}

void emitProgress(QZipFileNotificationInterface *notifier, quint64 done, quint64 whole)
{
    if (!notifier)
        return;
    const int shift = countShift(qMax(done, whole));
    emit notifier->progress(uint(done >> shift), uint(whole >> shift));
}

struct Entry
{
    QString path; // normalised relative path, "/"-separated, no "." or ".."
    bool folder = false;
    unz_file_info64 info {};
};

struct Scan
{
    bool ok = false;
    QString message;
    std::vector<Entry> entries;
    quint64 total = 0;
};

bool isSeparator(QChar c)
{
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
}

// Turns an entry name into a path below the destination, "\" counting as a
// separator on every system. Empty components are dropped: this program's own
// archives name top-level files "//name". A name that starts with a single
// separator or another form of root ("\\", a drive letter) is absolute, and
// ".." may never climb above the destination; both give ok = false.
bool normaliseEntryName(const QString &name, QString *path)
{
    if (name.contains(QChar(0)))
        return false;
    if (name.size() >= 2 && name.at(1) == QLatin1Char(':'))
        return false;
    QString rest = name;
    if (rest.startsWith(QLatin1String("//")) && (rest.size() == 2 || !isSeparator(rest.at(2))))
        rest = rest.mid(2);
    else if (!rest.isEmpty() && isSeparator(rest.at(0)))
        return false;

    QStringList parts;
    QString part;
    const auto flush = [&]() {
        if (part == QLatin1String("..")) {
            if (parts.isEmpty())
                return false;
            parts.removeLast();
        } else if (!part.isEmpty() && part != QLatin1String(".")) {
            parts.append(part);
        }
        part.clear();
        return true;
    };
    for (const QChar c : rest) {
        if (isSeparator(c)) {
            if (!flush())
                return false;
        } else {
            part.append(c);
        }
    }
    if (!flush())
        return false;
    *path = parts.join(QLatin1Char('/'));
    return true;
}

bool readEntryInfo(unzFile zip, unz_file_info64 *info, QString *name)
{
    if (unzGetCurrentFileInfo64(zip, info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    // The name is read with its stored length: names may exceed any fixed buffer.
    QByteArray raw(int(info->size_filename) + 1, '\0');
    if (unzGetCurrentFileInfo64(zip, info, raw.data(), uLong(raw.size()), nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    raw.truncate(int(info->size_filename));
    *name = (info->flag & FlagUtf8Name) ? QString::fromUtf8(raw) : QString::fromLatin1(raw);
    return true;
}

// First pass over the central directory: every entry's path and sizes, and
// the checks that refuse an archive before anything is written.
Scan scanArchive(unzFile zip, qint64 archiveSize)
{
    Scan scan;
    quint64 compressed = 0;
    int result = unzGoToFirstFile(zip);
    if (result == UNZ_END_OF_LIST_OF_FILE) {
        scan.message = QStringLiteral("archivio vuoto");
        return scan;
    }
    for (; result == UNZ_OK; result = unzGoToNextFile(zip)) {
        Entry entry;
        QString name;
        if (!readEntryInfo(zip, &entry.info, &name)) {
            scan.message = QStringLiteral("indice dell'archivio danneggiato");
            return scan;
        }
        const unz_file_info64 &info = entry.info;
        if (!normaliseEntryName(name, &entry.path)) {
            scan.message = QStringLiteral("percorso fuori dalla destinazione: ") + name;
            return scan;
        }
        if ((info.version >> 8) == HostUnix && ((info.external_fa >> 16) & UnixTypeMask) == UnixSymlink) {
            scan.message = QStringLiteral("collegamento simbolico rifiutato: ") + name;
            return scan;
        }
        if (info.compression_method != MethodStored && info.compression_method != MethodDeflate) {
            scan.message = QStringLiteral("metodo di compressione non supportato: ") + name;
            return scan;
        }
        // The CRC-32 of no data is 0: any other value means the size lies.
        if (info.uncompressed_size == 0 && info.crc != 0) {
            scan.message = QStringLiteral("dimensione dichiarata errata: ") + name;
            return scan;
        }
        entry.folder = (info.internal_fa & AttrFolder) || (info.external_fa & AttrFolder)
            || (!name.isEmpty() && isSeparator(name.back()) && info.uncompressed_size == 0);
        if (entry.path.isEmpty()) {
            // A nameless entry (or one such as "./") has no file of its own:
            // harmless when empty, otherwise its data would have nowhere to go.
            if (info.uncompressed_size != 0) {
                scan.message = QStringLiteral("voce senza nome di file: ") + name;
                return scan;
            }
            entry.folder = true;
        }
        compressed += info.compressed_size;
        if (compressed > quint64(archiveSize)) {
            // Entries that share their compressed data (a "zip bomb").
            scan.message = QStringLiteral("voci sovrapposte nell'archivio");
            return scan;
        }
        if (!entry.folder)
            scan.total += info.uncompressed_size;
        scan.entries.push_back(std::move(entry));
    }
    if (result != UNZ_END_OF_LIST_OF_FILE) {
        scan.message = QStringLiteral("indice dell'archivio danneggiato");
        return scan;
    }
    scan.ok = true;
    return scan;
}

UnzHandle openForReading(const QString &archive)
{
    return UnzHandle(unzOpen64(QFile::encodeName(archive).constData()));
}

int openEntry(unzFile zip, const unz_file_info64 &info, const QByteArray &password)
{
    // Only entries flagged exactly 3 (encrypted, deflate option) take the password.
    if (info.flag == 3)
        return unzOpenCurrentFilePassword(zip, password.constData());
    return unzOpenCurrentFile(zip);
}

QString destinationFolder(const QString &destination)
{
    QString folder = destination;
    folder.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder.append(QLatin1Char('/'));
    return folder;
}

bool ensureFolder(const QString &folder)
{
    if (folder.isEmpty())
        return true;
    const QFileInfo info(folder);
    if (info.isDir())
        return true;
    return QDir().mkpath(folder);
}

// Writes the data of the current entry to target; on a failure the reason
// goes to *why. The entry must deliver exactly its declared size and close
// with a matching CRC.
bool extractEntry(unzFile zip, const Entry &entry, const QString &target, const QByteArray &password,
                  char *buffer, quint64 *done, quint64 total, QZipFileNotificationInterface *notifier,
                  QString *why)
{
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *why = QStringLiteral("decompressione terminata a causa di un errore nell'apertura del file: "
                              "file.open( QIODevice::WriteOnly )");
        return false;
    }
    if (openEntry(zip, entry.info, password) != UNZ_OK) {
        *why = QStringLiteral("decompressione terminata causa: errorZipFile != UNZ_OK");
        return false;
    }
    quint64 written = 0;
    int bytesRead = 0;
    while ((bytesRead = unzReadCurrentFile(zip, buffer, unsigned(ExtractChunk))) > 0) {
        const qint64 put = out.write(buffer, bytesRead);
        if (put != bytesRead) {
            // A full disk shows as a short write without an error of its own.
            unzCloseCurrentFile(zip);
            *why = QStringLiteral(
                       "decompressione terminata causa: errore di scrittura in %1 (%2 di %3 byte scritti)")
                       .arg(target)
                       .arg(qMax<qint64>(put, 0))
                       .arg(bytesRead);
            return false;
        }
        written += quint64(bytesRead);
        *done += quint64(bytesRead);
        emitProgress(notifier, qMin(*done, total), total);
    }
    const int closed = unzCloseCurrentFile(zip);
    if (bytesRead < 0) {
        *why = QStringLiteral("decompressione terminata causa: bytesRead < 0");
        return false;
    }
    if (written != entry.info.uncompressed_size) {
        *why = QStringLiteral("decompressione terminata causa: dimensione diversa da quella dichiarata in ")
            + entry.path;
        return false;
    }
    if (closed != UNZ_OK) {
        *why = QStringLiteral("decompressione terminata causa: CRC errato in ") + entry.path;
        return false;
    }
    if (!out.flush()) {
        *why = QStringLiteral("decompressione terminata causa: errore di scrittura in ") + target;
        return false;
    }
    out.close();
    if (out.error() != QFileDevice::NoError) {
        *why = QStringLiteral("decompressione terminata causa: errore di scrittura in ") + target;
        return false;
    }
    return true;
}

zipFile openForWriting(const QString &archive)
{
    const QByteArray path = QFile::encodeName(archive);
    if (!QFileInfo::exists(archive))
        return zipOpen64(path.constData(), APPEND_STATUS_CREATE);
    zipFile handle = zipOpen64(path.constData(), APPEND_STATUS_ADDINZIP);
    if (!handle)
        handle = zipOpen64(path.constData(), APPEND_STATUS_CREATEAFTER);
    return handle;
}

bool sameFile(const QString &a, const QString &b)
{
    const QString first = QFileInfo(a).canonicalFilePath();
    return !first.isEmpty() && first == QFileInfo(b).canonicalFilePath();
}

tm_zip dosTime(const QDateTime &modified)
{
    tm_zip time {};
    const QDateTime local = modified.toLocalTime();
    // The DOS date field starts in 1980; older files get its first day.
    if (!local.isValid() || local.date().year() < 1980) {
        time.tm_year = 1980;
        time.tm_mday = 1;
        return time;
    }
    time.tm_sec = uInt(local.time().second());
    time.tm_min = uInt(local.time().minute());
    time.tm_hour = uInt(local.time().hour());
    time.tm_mday = uInt(local.date().day());
    time.tm_mon = uInt(local.date().month() - 1);
    time.tm_year = uInt(local.date().year());
    return time;
}

// Adds one file as an entry. *done counts the bytes read by the calling
// operation over all its files; progress carries it with the file's size.
bool addFile(zipFile zip, const QString &filePath, const QString &name, const QString &archive, quint64 *done,
             QZipFileNotificationInterface *notifier)
{
    // Reading the archive being written into itself would never end.
    if (sameFile(filePath, archive))
        return true;
    QFile in(filePath);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        qCDebug(lcArchive).noquote() << "TZipFile: impossibile leggere" << filePath << in.errorString();
        return false;
    }
    const QFileInfo info(filePath);
    zip_fileinfo zi {};
    zi.tmz_date = dosTime(info.lastModified());
    zi.internal_fa = TZipFile::FileAttributes(filePath);
    zi.external_fa = zi.internal_fa;

    // Names beyond ASCII are stored as UTF-8 with the flag that says so, so
    // that no reader turns them into question marks.
    QByteArray rawName;
    uLong flags = 0;
    bool ascii = true;
    for (const QChar c : name)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii) {
        rawName = name.toLatin1();
    } else {
        rawName = name.toUtf8();
        flags |= FlagUtf8Name;
    }
    const quint64 size = quint64(info.size());
    const int zip64 = size >= 0xffffffffULL ? 1 : 0;
    if (zipOpenNewFileInZip4_64(zip, rawName.constData(), &zi, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9,
                                0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, 0, flags, zip64)
        != ZIP_OK) {
        qCDebug(lcArchive).noquote() << "TZipFile: impossibile aggiungere" << name;
        return false;
    }
    std::unique_ptr<char[]> buffer(new char[ZipChunk]);
    bool ok = true;
    for (;;) {
        const qint64 got = in.read(buffer.get(), ZipChunk);
        if (got < 0) {
            qCDebug(lcArchive).noquote() << "TZipFile: errore di lettura" << filePath << in.errorString();
            ok = false;
            break;
        }
        if (got == 0)
            break;
        if (zipWriteInFileInZip(zip, buffer.get(), unsigned(got)) != ZIP_OK) {
            qCDebug(lcArchive).noquote() << "TZipFile: errore di scrittura nell'archivio" << archive;
            ok = false;
            break;
        }
        *done += quint64(got);
        emitProgress(notifier, *done, size);
    }
    if (zipCloseFileInZip(zip) != ZIP_OK) {
        qCDebug(lcArchive).noquote() << "TZipFile: errore di scrittura nell'archivio" << archive;
        ok = false;
    }
    return ok;
}

bool zipFolder(zipFile zip, const QString &sourceDir, const QString &baseDir, const QString &archive,
               QZipFileNotificationInterface *notifier)
{
    const QDir source(sourceDir);
    if (!source.exists()) {
        qCDebug(lcArchive).noquote()
            << QStringLiteral("TZipFile::ZipDirectory > source dir [%1] does not exists").arg(sourceDir);
        return false;
    }
    quint64 done = 0;
    const QFileInfoList list = source.entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &item : list) {
        const QString path = sourceDir + QStringLiteral("//") + item.fileName();
        if (item.isDir()) {
            // A linked folder may point back up the tree: it is not followed.
            if (item.isSymLink())
                continue;
            if (!zipFolder(zip, path, baseDir, archive, notifier))
                return false;
        } else if (item.isFile()) {
            const QString name
                = TZipFile::RelativePath(sourceDir, baseDir) + QStringLiteral("//") + item.fileName();
            if (!addFile(zip, path, name, archive, &done, notifier))
                return false;
        }
    }
    return true;
}

} // namespace

bool TZipFile::UnzipArchive(const QString &archive, const QString &destination, bool keepPaths,
                            const QString &password, QZipFileNotificationInterface *notifier)
{
    qCDebug(lcArchive).noquote() << QStringLiteral("Unzip File ") + archive + QStringLiteral(" -> ")
            + destination;
    UnzHandle zip = openForReading(archive);
    if (!zip) {
        qCDebug(lcArchive).noquote() << QStringLiteral(
                                            "decompressione terminata causa: archivio non apribile ")
                + archive;
        return false;
    }
    const Scan scan = scanArchive(zip.get(), QFileInfo(archive).size());
    if (!scan.ok) {
        qCDebug(lcArchive).noquote() << QStringLiteral("decompressione terminata causa: ") + scan.message;
        return false;
    }
    if (notifier) {
        const int shift = countShift(scan.total);
        emit notifier->total(uint(scan.total >> shift));
    }

    const QString folder = destinationFolder(destination);
    const QByteArray secret = password.toLatin1();
    std::unique_ptr<char[]> buffer(new char[ExtractChunk]);
    quint64 done = 0;
    QString why;
    int result = unzGoToFirstFile(zip.get());
    for (const Entry &entry : scan.entries) {
        if (result != UNZ_OK) {
            qCDebug(lcArchive).noquote()
                << "decompressione terminata causa: indice dell'archivio danneggiato";
            return false;
        }
        if (entry.folder) {
            if (keepPaths && !entry.path.isEmpty()) {
                const QString target = folder + entry.path;
                const QFileInfo existing(target);
                if (existing.isSymLink() || (existing.exists() && !existing.isDir()))
                    QFile::remove(target);
                if (!ensureFolder(target)) {
                    qCDebug(lcArchive).noquote()
                        << QStringLiteral("decompressione terminata causa: impossibile creare la cartella ")
                            + target;
                    return false;
                }
            }
            result = unzGoToNextFile(zip.get());
            continue;
        }
        const QString relative = keepPaths ? entry.path : entry.path.section(QLatin1Char('/'), -1);
        const QString target = folder + relative;
        const QString parent = target.left(target.lastIndexOf(QLatin1Char('/')) + 1);
        if (!ensureFolder(parent)) {
            qCDebug(lcArchive).noquote()
                << QStringLiteral("decompressione terminata causa: impossibile creare la cartella ") + parent;
            return false;
        }
        // A link left at the target is removed, never written through.
        const QFileInfo existing(target);
        if (existing.exists() || existing.isSymLink())
            QFile::remove(target);
        TouchFile(target);
        if (entry.info.uncompressed_size != 0
            && !extractEntry(zip.get(), entry, target, secret, buffer.get(), &done, scan.total, notifier,
                             &why)) {
            qCDebug(lcArchive).noquote() << why;
            return false;
        }
        if (entry.info.uncompressed_size == 0 && !QFileInfo(target).isFile()) {
            qCDebug(lcArchive).noquote()
                << QStringLiteral("decompressione terminata a causa di un errore nell'apertura del file: "
                                  "file.open( QIODevice::WriteOnly )");
            return false;
        }
        result = unzGoToNextFile(zip.get());
    }
    qCDebug(lcArchive).noquote() << "DECOMPRESSIONE DEI FILE TERMINATA CORRETTAMENTE!!!";
    return true;
}

bool TZipFile::TestArchive(const QString &archive, const QString &password)
{
    UnzHandle zip = openForReading(archive);
    if (!zip) {
        qCDebug(lcArchive).noquote() << QStringLiteral("test dell'archivio fallito: archivio non apribile ")
                + archive;
        return false;
    }
    const Scan scan = scanArchive(zip.get(), QFileInfo(archive).size());
    if (!scan.ok) {
        qCDebug(lcArchive).noquote() << QStringLiteral("test dell'archivio fallito: ") + scan.message;
        return false;
    }
    const QByteArray secret = password.toLatin1();
    std::unique_ptr<char[]> buffer(new char[ExtractChunk]);
    int result = unzGoToFirstFile(zip.get());
    for (const Entry &entry : scan.entries) {
        if (result != UNZ_OK)
            return false;
        const unz_file_info64 &info = entry.info;
        if (info.size_filename != 0 && info.uncompressed_size != 0) {
            if (openEntry(zip.get(), info, secret) != UNZ_OK) {
                qCDebug(lcArchive).noquote() << "test dell'archivio fallito: voce non apribile" << entry.path;
                return false;
            }
            uLong crc = crc32(0L, Z_NULL, 0);
            quint64 read = 0;
            int got = 0;
            while ((got = unzReadCurrentFile(zip.get(), buffer.get(), unsigned(ExtractChunk))) > 0) {
                crc = crc32(crc, reinterpret_cast<const Bytef *>(buffer.get()), uInt(got));
                read += quint64(got);
            }
            const int closed = unzCloseCurrentFile(zip.get());
            if (got < 0 || read != info.uncompressed_size || closed != UNZ_OK || crc != info.crc) {
                qCDebug(lcArchive).noquote()
                    << "test dell'archivio fallito: CRC o dimensione errati" << entry.path;
                return false;
            }
        }
        result = unzGoToNextFile(zip.get());
    }
    return true;
}

bool TZipFile::ZipDirectory(const QString &sourceDir, const QString &baseDir, const QString &archive,
                            const QString &password, void *handle, QZipFileNotificationInterface *notifier)
{
    Q_UNUSED(password) // creation stores entries unencrypted
    if (handle)
        return zipFolder(static_cast<zipFile>(handle), sourceDir, baseDir, archive, notifier);
    // The source is checked first so that a missing folder leaves no archive behind.
    if (!QFileInfo(sourceDir).isDir()) {
        qCDebug(lcArchive).noquote()
            << QStringLiteral("TZipFile::ZipDirectory > source dir [%1] does not exists").arg(sourceDir);
        return false;
    }
    ZipWriter zip(openForWriting(archive));
    if (!zip.get())
        return false;
    const bool ok = zipFolder(zip.get(), sourceDir, baseDir, archive, notifier);
    return zip.close() && ok;
}

bool TZipFile::ZipSingleFile(const QString &file, const QString &basePath, const QString &archive,
                             const QString &password, QZipFileNotificationInterface *notifier)
{
    Q_UNUSED(password) // creation stores entries unencrypted
    ZipWriter zip(openForWriting(archive));
    if (!zip.get())
        return false;
    bool ok = true;
    const QFileInfo info(file);
    if (info.isFile()) {
        const QString name = RelativePath(file, basePath) + QStringLiteral("//") + info.fileName();
        quint64 done = 0;
        ok = addFile(zip.get(), file, name, archive, &done, notifier);
    }
    return zip.close() && ok;
}

QString TZipFile::RelativePath(const QString &fullPath, const QString &basePath)
{
    if (basePath.isNull())
        return fullPath;
    const int at = fullPath.indexOf(basePath);
    if (at < 0)
        return QString();
    int start = at + basePath.size();
    while (start < fullPath.size() && isSeparator(fullPath.at(start)))
        ++start;
    // Never null once the base was found, even when nothing follows it.
    return QString(fullPath.constData() + start, fullPath.size() - start);
}

uint TZipFile::FileAttributes(const QString &path)
{
    const QFileInfo info(path);
    uint attributes = AttrArchive;
    if (info.isReadable() && !info.isWritable() && !info.isExecutable())
        attributes |= AttrReadOnly;
    if (info.isDir())
        attributes |= AttrFolder;
    if (info.isHidden())
        attributes |= AttrHidden;
    return attributes;
}

void TZipFile::TouchFile(const QString &path)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.close();
}
