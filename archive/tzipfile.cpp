// TZipFile: extraction, test and creation of zip archives on top of the reader and writer.
#include "archive/tzipfile.h"

#include "archive/zipcommon.h"
#include "archive/zipentryname.h"
#include "archive/zipreader.h"
#include "archive/zipwriter.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#include <climits>

Q_LOGGING_CATEGORY(lcArchive, "update_hub.archive")

using namespace ZipDetail;

namespace {

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
// goes to *why.
bool extractEntry(ArchiveReader &reader, const Entry &entry, const QString &target,
                  const QByteArray &password, Buffers &buffers, quint64 *done, quint64 total,
                  QZipFileNotificationInterface *notifier, QString *why)
{
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *why = QStringLiteral("decompressione terminata a causa di un errore nell'apertura del file: "
                              "file.open( QIODevice::WriteOnly )");
        return false;
    }
    QString writeFault;
    const auto write = [&](const char *data, qint64 size) {
        if (notifier && notifier->cancelRequested()) {
            writeFault = QStringLiteral("decompressione annullata: ") + target;
            return false;
        }
        const qint64 put = out.write(data, size);
        if (put != size) {
            // A full disk shows as a short write without an error of its own.
            writeFault = QStringLiteral("decompressione terminata causa: errore di scrittura in %1 (%2 di %3 "
                                        "byte scritti)")
                             .arg(target)
                             .arg(qMax<qint64>(put, 0))
                             .arg(size);
            return false;
        }
        *done += quint64(size);
        emitProgress(notifier, qMin(*done, total), total);
        return true;
    };
    bool opened = false;
    const DataFault fault = readEntry(reader, entry.info, password, buffers, write, &opened);
    if (!opened) {
        *why = QStringLiteral("decompressione terminata causa: errorZipFile != UNZ_OK");
        return false;
    }
    if (fault == DataFault::Sink) {
        *why = writeFault;
        return false;
    }
    if (fault != DataFault::None) {
        *why = QStringLiteral("decompressione terminata causa: ") + faultText(fault, entry.path);
        return false;
    }
    out.close();
    if (out.error() != QFileDevice::NoError) {
        *why = QStringLiteral("decompressione terminata causa: errore di scrittura in ") + target;
        return false;
    }
    return true;
}

} // namespace

bool TZipFile::UnzipArchive(const QString &archive, const QString &destination, bool keepPaths,
                            const QString &password, QZipFileNotificationInterface *notifier)
{
    qCDebug(lcArchive).noquote() << QStringLiteral("Unzip File ") + archive + QStringLiteral(" -> ")
            + destination;
    ArchiveReader reader(archive);
    unzFile zip = reader.zip();
    if (!zip && reader.empty()) {
        if (notifier)
            emit notifier->total(0);
        qCDebug(lcArchive).noquote() << "archivio senza voci: niente da decomprimere";
        return true;
    }
    if (!zip) {
        qCDebug(lcArchive).noquote() << QStringLiteral(
                                            "decompressione terminata causa: archivio non apribile ")
                + archive;
        return false;
    }
    const Scan scan = scanArchive(zip, reader.size());
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
    Buffers buffers;
    quint64 done = 0;
    QString why;
    QString readyFolder;
    int result = unzGoToFirstFile(zip);
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
            result = unzGoToNextFile(zip);
            continue;
        }
        const QString relative = keepPaths ? entry.path : entry.path.section(QLatin1Char('/'), -1);
        const QString target = folder + relative;
        const QString parent = target.left(target.lastIndexOf(QLatin1Char('/')) + 1);
        // Entries come folder by folder: a folder made or found once stays
        // (nothing in the extraction removes a folder).
        if (parent != readyFolder) {
            if (!ensureFolder(parent)) {
                qCDebug(lcArchive).noquote()
                    << QStringLiteral("decompressione terminata causa: impossibile creare la cartella ")
                        + parent;
                return false;
            }
            readyFolder = parent;
        }
        // A link left at the target is removed, never written through.
        const QFileInfo existing(target);
        if (existing.exists() || existing.isSymLink())
            QFile::remove(target);
        // An empty entry is just an empty file. Any other entry's file is
        // created by opening it once: truncating a file that was just created
        // empty would make the file system flush its data on closing.
        if (entry.info.uncompressed_size == 0)
            TouchFile(target);
        if (entry.info.uncompressed_size != 0
            && !extractEntry(reader, entry, target, secret, buffers, &done, scan.total, notifier, &why)) {
            qCDebug(lcArchive).noquote() << why;
            return false;
        }
        if (entry.info.uncompressed_size == 0 && !QFileInfo(target).isFile()) {
            qCDebug(lcArchive).noquote()
                << QStringLiteral("decompressione terminata a causa di un errore nell'apertura del file: "
                                  "file.open( QIODevice::WriteOnly )");
            return false;
        }
        result = unzGoToNextFile(zip);
    }
    qCDebug(lcArchive).noquote() << "DECOMPRESSIONE DEI FILE TERMINATA CORRETTAMENTE!!!";
    return true;
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
