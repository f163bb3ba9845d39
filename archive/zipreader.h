// Reading archives: the central directory's scan with the checks that refuse
// a hostile archive, and the entries' data, inflated here and not by minizip.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <minizip/unzip.h>

#include <functional>
#include <memory>
#include <vector>

namespace ZipDetail {

struct Entry
{
    QString path; // normalised relative path, "/"-separated, no "." or ".."
    bool folder = false;
    unz_file_info64 info {};
    unz64_file_pos position {}; // in the central directory, for unzGoToFilePos64
};

struct Scan
{
    bool ok = false;
    QString message;
    std::vector<Entry> entries;
    quint64 total = 0;
};

struct UnzCloser
{
    void operator()(void *handle) const { unzClose(handle); }
};
using UnzHandle = std::unique_ptr<void, UnzCloser>;

// The archive as minizip reads it: one unbuffered file behind one cached
// block, so that walking the central directory and the local headers costs a
// system call per block rather than one per field and seek. Entry data is
// read past the cache, straight through file().
class ArchiveReader
{
public:
    explicit ArchiveReader(const QString &path);
    ArchiveReader(const ArchiveReader &) = delete;
    ArchiveReader &operator=(const ArchiveReader &) = delete;

    unzFile zip() const { return m_zip.get(); }
    // True for a sound archive without entries: its end record alone, which
    // minizip refuses to open (it takes a directory at offset 0 for none).
    bool empty() const { return m_empty; }
    QFile &file() { return m_file; }
    qint64 size() const { return m_size; }

private:
    static constexpr qint64 Block = 64 * 1024;

    static voidpf ZCALLBACK openStream(voidpf opaque, const void *, int mode);
    static uLong ZCALLBACK readStream(voidpf opaque, voidpf, void *buffer, uLong size);
    static uLong ZCALLBACK writeStream(voidpf, voidpf, const void *, uLong);
    static ZPOS64_T ZCALLBACK tellStream(voidpf opaque, voidpf);
    static long ZCALLBACK seekStream(voidpf opaque, voidpf, ZPOS64_T offset, int origin);
    static int ZCALLBACK closeStream(voidpf, voidpf);
    static int ZCALLBACK errorStream(voidpf opaque, voidpf);
    uLong read(char *out, qint64 size);

    QFile m_file;
    std::unique_ptr<char[]> m_cache { new char[Block] };
    qint64 m_size = 0;
    qint64 m_position = 0;
    qint64 m_cacheStart = 0;
    qint64 m_cacheLength = 0;
    bool m_failed = false;
    bool m_empty = false;
    UnzHandle m_zip; // last: closed before the file and the cache go
};

// First pass over the central directory: every entry's path and sizes, and
// the checks that refuse an archive before anything is written.
Scan scanArchive(unzFile zip, qint64 archiveSize);

// Opens the current entry, with the password where the entry takes one.
int openEntry(unzFile zip, const unz_file_info64 &info, const QByteArray &password);

// Buffers of one operation: compressed data read from the archive, and the
// decoded chunk that is checked, counted and written in one call. The output
// chunk is small enough to stay in the processor's cache between inflate, the
// CRC and the copy into the written file (measured: a 1 MiB chunk doubles the
// kernel's share of writing), and large enough that system calls do not count.
constexpr qint64 InputChunk = 128 * 1024;
constexpr qint64 OutputChunk = 256 * 1024;

struct Buffers
{
    std::unique_ptr<char[]> input { new char[InputChunk] };
    std::unique_ptr<char[]> output { new char[OutputChunk] };
};

enum class DataFault { None, Unreadable, Corrupt, Size, Crc, Sink };

// Receives decoded data chunk by chunk; false when it cannot take a chunk.
using EntrySink = std::function<bool(const char *, qint64)>;

// Decodes an entry's data, which starts at offset in file (past its local
// header), without minizip: see zipreader.cpp.
DataFault decodeEntry(QFile &file, quint64 fileSize, quint64 offset, const unz_file_info64 &info,
                      Buffers &buffers, const EntrySink &sink);

// Opens the current entry and passes its data to sink; the entry is closed
// again on every path.
DataFault readEntry(ArchiveReader &reader, const unz_file_info64 &info, const QByteArray &password,
                    Buffers &buffers, const EntrySink &sink, bool *opened);

// The debug text of a fault in the entry at path.
QString faultText(DataFault fault, const QString &path);

} // namespace ZipDetail
