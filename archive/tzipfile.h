#pragma once

#include <QFile>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>

/// Progress of an archive operation. Counts are byte counts; when an archive
/// holds more than 4 GiB both values are scaled down by the same factor, so
/// nProgress / nTotal stays the true fraction.
class QZipFileNotificationInterface : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    /// Asks a running extraction or test to stop; it then returns false soon after.
    void requestCancel() { cancelled.store(true); }
    void resetCancel() { cancelled.store(false); }
    bool cancelRequested() const { return cancelled.load(); }

signals:
    void progress(uint nProgress, uint nTotal);
    void total(uint nTotal);

private:
    std::atomic_bool cancelled{false};
};

/// Zip archives: extraction, test and creation. Every operation is static and
/// opens and closes its archive within the call; failures are returned as
/// false, with the reason on the "update_hub.archive" debug output.
class TZipFile : public QFile
{
public:
    /// Extracts every entry of archive below destination (a folder, normally
    /// ending with "/"; "\" is accepted as a separator too). With keepPaths
    /// the entries' folders are recreated, otherwise every file lands directly
    /// in destination by its file name. An archive with an entry that would
    /// leave destination, a link entry, an unsupported method or entries that
    /// share their data is refused before anything is written. The notifier
    /// (may be null) receives total() once, then progress() with the bytes
    /// written so far, rising to the total, on the calling thread; the data of
    /// several entries is inflated at once on worker threads meanwhile. On a
    /// failure every entry before the failing one is extracted whole, and
    /// progress goes no further than the failing one; it and later files may
    /// be missing, empty or cut short. A cancelled extraction fails.
    static bool UnzipArchive(const QString &archive, const QString &destination, bool keepPaths,
                             const QString &password, QZipFileNotificationInterface *notifier = nullptr);

    /// One item that an extraction creates below its destination.
    struct EntryInfo
    {
        QString path; // relative to the destination, "/"-separated
        bool folder = false;
        quint64 size = 0; // uncompressed size of a file
        quint32 crc = 0; // CRC-32 of a file's data
    };

    /// What UnzipArchive(archive, destination, keepPaths, ...) creates, in
    /// archive order, with the same name rules (a later file of the same
    /// path replaces an earlier one). Empty, with *ok false, when the archive
    /// cannot be read or UnzipArchive would refuse it.
    static QList<EntryInfo> Entries(const QString &archive, bool keepPaths, bool *ok = nullptr);

    /// True when every non-empty entry reads back whole with the CRC-32
    /// stored for it (and the archive passes the checks of UnzipArchive).
    /// A cancel requested on notifier (may be null) ends the test with false.
    static bool TestArchive(const QString &archive, const QString &password = QString(),
                            QZipFileNotificationInterface *notifier = nullptr);

    /// Sum of the uncompressed sizes the archive declares for its entries
    /// (what an extraction needs on disk), or -1 when the archive cannot be
    /// opened or its index read.
    static qint64 UncompressedSize(const QString &archive);

    /// Adds every file below sourceDir to archive (created when missing,
    /// otherwise added to), deflated at level 9 (stretches of data that do
    /// not shrink go into the stream as stored blocks); entry names are
    /// RelativePath(folder, baseDir) + "//" + file name. handle is an already
    /// open archive of an enclosing call: pass nullptr.
    static bool ZipDirectory(const QString &sourceDir, const QString &baseDir, const QString &archive,
                             const QString &password, void *handle = nullptr,
                             QZipFileNotificationInterface *notifier = nullptr);

    /// Adds one file to archive as RelativePath(file, basePath) + "//" + file
    /// name. True when the archive could be opened and the file, if it
    /// exists, was added whole.
    static bool ZipSingleFile(const QString &file, const QString &basePath, const QString &archive,
                              const QString &password, QZipFileNotificationInterface *notifier = nullptr);

    /// The text of fullPath after the first occurrence of basePath without
    /// leading "/" and "\"; fullPath itself when basePath is null; a null
    /// text when basePath does not occur.
    static QString RelativePath(const QString &fullPath, const QString &basePath);

    /// DOS attribute word of a file: 0x20 archive, plus 0x01 read-only,
    /// 0x10 folder, 0x02 hidden.
    static uint FileAttributes(const QString &path);

    /// Creates the file, or empties it, when it can be opened for writing.
    static void TouchFile(const QString &path);
};
