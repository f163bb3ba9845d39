// Writing archives: this program's deflater and the walk over a folder.
#pragma once

#include <QString>

#include <minizip/zip.h>

class QZipFileNotificationInterface;

namespace ZipDetail {

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

// Opens archive for adding entries: created when missing, otherwise added
// to (or, when it is no archive, written after its bytes).
zipFile openForWriting(const QString &archive);

// Adds one file as an entry. *done counts the bytes read by the calling
// operation over all its files; progress carries it with the file's size.
bool addFile(zipFile zip, const QString &filePath, const QString &name, const QString &archive, quint64 *done,
             QZipFileNotificationInterface *notifier);

// Adds every file below sourceDir, folder by folder.
bool zipFolder(zipFile zip, const QString &sourceDir, const QString &baseDir, const QString &archive,
               QZipFileNotificationInterface *notifier);

} // namespace ZipDetail
