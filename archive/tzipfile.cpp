// TZipFile: extraction, test and creation of zip archives on top of the reader and writer.
#include "archive/tzipfile.h"

#include "archive/zipcommon.h"
#include "archive/zipentryname.h"
#include "archive/zipextract.h"
#include "archive/zipreader.h"
#include "archive/zipwriter.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#include <climits>

Q_LOGGING_CATEGORY(lcArchive, "update_hub.archive")

using namespace ZipDetail;

bool TZipFile::UnzipArchive(const QString &archive, const QString &destination, bool keepPaths,
                            const QString &password, QZipFileNotificationInterface *notifier)
{
    return extractArchive(archive, destination, keepPaths, password, notifier);
}

bool TZipFile::TestArchive(const QString &archive, const QString &password,
                           QZipFileNotificationInterface *notifier)
{
    ArchiveReader reader(archive);
    unzFile zip = reader.zip();
    if (!zip && reader.empty())
        return true;
    if (!zip) {
        qCDebug(lcArchive).noquote() << QStringLiteral("test dell'archivio fallito: archivio non apribile ")
                + archive;
        return false;
    }
    const Scan scan = scanArchive(zip, reader.size());
    if (!scan.ok) {
        qCDebug(lcArchive).noquote() << QStringLiteral("test dell'archivio fallito: ") + scan.message;
        return false;
    }
    const QByteArray secret = password.toLatin1();
    Buffers buffers;
    const auto discard = [notifier](const char *, qint64) { return !notifier || !notifier->cancelRequested(); };
    int result = unzGoToFirstFile(zip);
    for (const Entry &entry : scan.entries) {
        if (result != UNZ_OK)
            return false;
        const unz_file_info64 &info = entry.info;
        if (info.size_filename != 0 && info.uncompressed_size != 0) {
            bool opened = false;
            const DataFault fault = readEntry(reader, info, secret, buffers, discard, &opened);
            if (!opened) {
                qCDebug(lcArchive).noquote() << "test dell'archivio fallito: voce non apribile" << entry.path;
                return false;
            }
            if (fault == DataFault::Sink) {
                qCDebug(lcArchive).noquote() << "test dell'archivio annullato";
                return false;
            }
            if (fault != DataFault::None) {
                qCDebug(lcArchive).noquote()
                    << QStringLiteral("test dell'archivio fallito: ") + faultText(fault, entry.path);
                return false;
            }
        }
        result = unzGoToNextFile(zip);
    }
    return true;
}

QList<TZipFile::EntryInfo> TZipFile::Entries(const QString &archive, bool keepPaths, bool *ok)
{
    QList<EntryInfo> list;
    if (ok)
        *ok = false;
    ArchiveReader reader(archive);
    if (!reader.zip()) {
        if (ok)
            *ok = reader.empty();
        return list;
    }
    const Scan scan = scanArchive(reader.zip(), reader.size());
    if (!scan.ok)
        return list;
    for (const Entry &entry : scan.entries) {
        if (entry.folder && (!keepPaths || entry.path.isEmpty()))
            continue;
        EntryInfo info;
        info.path = keepPaths ? entry.path : entry.path.section(QLatin1Char('/'), -1);
        info.folder = entry.folder;
        info.size = entry.folder ? 0 : entry.info.uncompressed_size;
        info.crc = entry.folder ? 0 : quint32(entry.info.crc);
        list << info;
    }
    if (ok)
        *ok = true;
    return list;
}

qint64 TZipFile::UncompressedSize(const QString &archive)
{
    ArchiveReader reader(archive);
    unzFile zip = reader.zip();
    if (!zip)
        return reader.empty() ? 0 : -1;
    quint64 sum = 0;
    int result = unzGoToFirstFile(zip);
    for (; result == UNZ_OK; result = unzGoToNextFile(zip)) {
        unz_file_info64 info {};
        if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
            return -1;
        // Sizes a damaged or hostile index declares may add up beyond any
        // disk: the sum stops at the largest count, never wraps to a small one.
        sum = info.uncompressed_size > quint64(LLONG_MAX) - sum ? quint64(LLONG_MAX)
                                                                : sum + info.uncompressed_size;
    }
    if (result != UNZ_END_OF_LIST_OF_FILE)
        return -1;
    return qint64(sum);
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
