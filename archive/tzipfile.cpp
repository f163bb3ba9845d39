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

// Source files are read in chunks large enough that deflate, not the reads,
// sets the pace.
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

// The archive as minizip reads it: one unbuffered file behind one cached
// block, so that walking the central directory and the local headers costs a
// system call per block rather than one per field and seek. Entry data is
// read past the cache, straight through file().
class ArchiveReader
{
public:
    explicit ArchiveReader(const QString &path)
        : m_file(path)
    {
        if (!m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return;
        m_size = m_file.size();
        zlib_filefunc64_def functions {};
        functions.zopen64_file = &ArchiveReader::openStream;
        functions.zread_file = &ArchiveReader::readStream;
        functions.zwrite_file = &ArchiveReader::writeStream;
        functions.ztell64_file = &ArchiveReader::tellStream;
        functions.zseek64_file = &ArchiveReader::seekStream;
        functions.zclose_file = &ArchiveReader::closeStream;
        functions.zerror_file = &ArchiveReader::errorStream;
        functions.opaque = this;
        m_zip.reset(unzOpen2_64(QFile::encodeName(path).constData(), &functions));
    }
    ArchiveReader(const ArchiveReader &) = delete;
    ArchiveReader &operator=(const ArchiveReader &) = delete;

    unzFile zip() const { return m_zip.get(); }
    QFile &file() { return m_file; }
    qint64 size() const { return m_size; }

private:
    static constexpr qint64 Block = 64 * 1024;

    static voidpf ZCALLBACK openStream(voidpf opaque, const void *, int mode)
    {
        auto *self = static_cast<ArchiveReader *>(opaque);
        const bool reading = (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ;
        return reading && self->m_file.isOpen() ? self : nullptr;
    }
    static uLong ZCALLBACK readStream(voidpf opaque, voidpf, void *buffer, uLong size)
    {
        return static_cast<ArchiveReader *>(opaque)->read(static_cast<char *>(buffer), qint64(size));
    }
    static uLong ZCALLBACK writeStream(voidpf, voidpf, const void *, uLong) { return 0; }
    static ZPOS64_T ZCALLBACK tellStream(voidpf opaque, voidpf)
    {
        return ZPOS64_T(static_cast<ArchiveReader *>(opaque)->m_position);
    }
    static long ZCALLBACK seekStream(voidpf opaque, voidpf, ZPOS64_T offset, int origin)
    {
        auto *self = static_cast<ArchiveReader *>(opaque);
        qint64 base = 0;
        if (origin == ZLIB_FILEFUNC_SEEK_CUR)
            base = self->m_position;
        else if (origin == ZLIB_FILEFUNC_SEEK_END)
            base = self->m_size;
        else if (origin != ZLIB_FILEFUNC_SEEK_SET)
            return -1;
        // Offsets come from the archive itself: one that cannot be a position
        // in the file is refused rather than wrapped.
        if (offset > ZPOS64_T(LLONG_MAX) || qint64(offset) > LLONG_MAX - base)
            return -1;
        self->m_position = base + qint64(offset);
        return 0;
    }
    static int ZCALLBACK closeStream(voidpf, voidpf) { return 0; }
    static int ZCALLBACK errorStream(voidpf opaque, voidpf)
    {
        return static_cast<ArchiveReader *>(opaque)->m_failed ? -1 : 0;
    }

    uLong read(char *out, qint64 size)
    {
        qint64 done = 0;
        while (done < size) {
            if (m_position >= m_cacheStart && m_position < m_cacheStart + m_cacheLength) {
                const qint64 take = qMin(size - done, m_cacheStart + m_cacheLength - m_position);
                memcpy(out + done, m_cache.get() + (m_position - m_cacheStart), size_t(take));
                m_position += take;
                done += take;
                continue;
            }
            if (m_position >= m_size || !m_file.seek(m_position))
                break;
            if (size - done >= Block) {
                const qint64 got = m_file.read(out + done, size - done);
                if (got < 0)
                    m_failed = true;
                if (got > 0) {
                    m_position += got;
                    done += got;
                }
                break;
            }
            const qint64 got = m_file.read(m_cache.get(), Block);
            if (got <= 0) {
                m_failed = got < 0;
                break;
            }
            m_cacheStart = m_position;
            m_cacheLength = got;
        }
        return uLong(done);
    }

    QFile m_file;
    std::unique_ptr<char[]> m_cache { new char[Block] };
    qint64 m_size = 0;
    qint64 m_position = 0;
    qint64 m_cacheStart = 0;
    qint64 m_cacheLength = 0;
    bool m_failed = false;
    UnzHandle m_zip; // last: closed before the file and the cache go
};

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

struct InflateStream
{
    z_stream stream {};
    bool ready = false;
    InflateStream() { ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
    ~InflateStream()
    {
        if (ready)
            inflateEnd(&stream);
    }
    InflateStream(const InflateStream &) = delete;
    InflateStream &operator=(const InflateStream &) = delete;
};

// Decodes the data of the current entry, which minizip has opened (and so
// checked its local header), straight from the archive file: compressed data
// is read in large chunks, inflated into the output buffer and handed to sink
// (which returns false when it cannot take it), so every byte is copied once
// on its way in and once on its way out. The data must decode to exactly the
// declared size with the stored CRC-32; nothing beyond the declared size ever
// reaches sink.
template<typename Sink>
DataFault decodeEntry(QFile &file, quint64 fileSize, quint64 offset, const unz_file_info64 &info,
                      Buffers &buffers, Sink &&sink)
{
    if (offset > fileSize || info.compressed_size > fileSize - offset)
        return DataFault::Corrupt;
    if (!file.seek(qint64(offset)))
        return DataFault::Unreadable;
    quint64 inLeft = info.compressed_size;
    quint64 outLeft = info.uncompressed_size;
    uLong crc = crc32(0L, Z_NULL, 0);
    char *const out = buffers.output.get();

    if (info.compression_method == MethodStored) {
        if (info.compressed_size != info.uncompressed_size)
            return DataFault::Size;
        while (inLeft > 0) {
            const qint64 want = qint64(qMin<quint64>(inLeft, quint64(OutputChunk)));
            if (file.read(out, want) != want)
                return DataFault::Unreadable;
            crc = crc32(crc, reinterpret_cast<const Bytef *>(out), uInt(want));
            if (!sink(out, want))
                return DataFault::Sink;
            inLeft -= quint64(want);
        }
        return crc == info.crc ? DataFault::None : DataFault::Crc;
    }

    InflateStream inflater;
    if (!inflater.ready)
        return DataFault::Corrupt;
    z_stream &zs = inflater.stream;
    for (;;) {
        if (zs.avail_in == 0 && inLeft > 0) {
            const qint64 want = qint64(qMin<quint64>(inLeft, quint64(InputChunk)));
            if (file.read(buffers.input.get(), want) != want)
                return DataFault::Unreadable;
            zs.next_in = reinterpret_cast<Bytef *>(buffers.input.get());
            zs.avail_in = uInt(want);
            inLeft -= quint64(want);
        }
        zs.next_out = reinterpret_cast<Bytef *>(out);
        zs.avail_out = uInt(OutputChunk);
        const int status = inflate(&zs, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
            return DataFault::Corrupt;
        const quint64 produced = quint64(OutputChunk) - zs.avail_out;
        if (produced > outLeft)
            return DataFault::Size;
        if (produced > 0) {
            crc = crc32(crc, reinterpret_cast<const Bytef *>(out), uInt(produced));
            if (!sink(out, qint64(produced)))
                return DataFault::Sink;
            outLeft -= produced;
        }
        if (status == Z_STREAM_END)
            break;
        // No output room was missing, so a stall means the data ran out.
        if (produced == 0 && zs.avail_in == 0 && inLeft == 0)
            return DataFault::Corrupt;
    }
    if (outLeft != 0)
        return DataFault::Size;
    return crc == info.crc ? DataFault::None : DataFault::Crc;
}

// Encrypted entries go through minizip, which knows the decryption; the same
// rules hold: exactly the declared size, no failed read, a clean close.
template<typename Sink>
DataFault readEncryptedEntry(unzFile zip, const unz_file_info64 &info, Buffers &buffers, Sink &&sink)
{
    char *const out = buffers.output.get();
    quint64 read = 0;
    int got = 0;
    while ((got = unzReadCurrentFile(zip, out, unsigned(OutputChunk))) > 0) {
        read += quint64(got);
        if (read > info.uncompressed_size)
            return DataFault::Size;
        if (!sink(out, qint64(got)))
            return DataFault::Sink;
    }
    if (got < 0)
        return DataFault::Corrupt;
    return read == info.uncompressed_size ? DataFault::None : DataFault::Size;
}

// Opens the current entry and passes its data to sink; the entry is closed
// again on every path.
template<typename Sink>
DataFault readEntry(ArchiveReader &reader, const unz_file_info64 &info, const QByteArray &password,
                    Buffers &buffers, Sink &&sink, bool *opened)
{
    unzFile zip = reader.zip();
    *opened = openEntry(zip, info, password) == UNZ_OK;
    if (!*opened)
        return DataFault::Unreadable;
    if (info.flag & FlagEncrypted) {
        // minizip checks the CRC on closing, once the whole declared size was read.
        const DataFault fault = readEncryptedEntry(zip, info, buffers, sink);
        const int closed = unzCloseCurrentFile(zip);
        return fault == DataFault::None && closed != UNZ_OK ? DataFault::Crc : fault;
    }
    // Where the entry's data starts, past its local header.
    const quint64 offset = unzGetCurrentFileZStreamPos64(zip);
    const DataFault fault = decodeEntry(reader.file(), quint64(reader.size()), offset, info, buffers, sink);
    unzCloseCurrentFile(zip);
    return fault;
}

QString faultText(DataFault fault, const QString &path)
{
    switch (fault) {
    case DataFault::None:
    case DataFault::Sink:
        break;
    case DataFault::Unreadable:
        return QStringLiteral("errore di lettura dell'archivio in ") + path;
    case DataFault::Corrupt:
        return QStringLiteral("bytesRead < 0");
    case DataFault::Size:
        return QStringLiteral("dimensione diversa da quella dichiarata in ") + path;
    case DataFault::Crc:
        return QStringLiteral("CRC errato in ") + path;
    }
    return QString();
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

// Deflates one entry's data into an entry opened raw. Level 9 throughout,
// except where the data does not shrink (packed or already compressed files,
// such as the packages of the work folder): each chunk at level 9 ends its
// deflate block, so its output is measured exactly, and a chunk that did not
// shrink switches the stream to level 0 (deflate's stored blocks, a copy
// instead of a long match search) for the next few MiB, after which level 9
// is tried again. The result is one ordinary deflate stream.
class EntryDeflater
{
public:
    explicit EntryDeflater(zipFile zip)
        : m_zip(zip)
    {
        m_ready = deflateInit2(&m_stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~EntryDeflater()
    {
        if (m_ready)
            deflateEnd(&m_stream);
    }
    EntryDeflater(const EntryDeflater &) = delete;
    EntryDeflater &operator=(const EntryDeflater &) = delete;

    bool ready() const { return m_ready; }

    bool add(const char *data, uInt size)
    {
        const uLong inBefore = m_stream.total_in;
        const uLong outBefore = m_stream.total_out;
        if (!run(data, size, m_level == 9 ? Z_BLOCK : Z_NO_FLUSH))
            return false;
        if (m_level == 9) {
            // uLong counters may wrap on 32-bit systems; the differences do not.
            const uLong in = m_stream.total_in - inBefore;
            const uLong out = m_stream.total_out - outBefore;
            // Shrunk by less than 1/64: not worth the search.
            if (in >= MinProbe && out >= in - in / 64)
                return setLevel(0);
        } else if (++m_storedChunks >= StoredStretch) {
            return setLevel(9);
        }
        return true;
    }
    bool finish() { return run(nullptr, 0, Z_FINISH); }

private:
    static constexpr uInt OutputSize = 64 * 1024;
    static constexpr uLong MinProbe = 16 * 1024; // smaller chunks say too little
    static constexpr int StoredStretch = 16; // chunks stored before level 9 is tried again

    bool run(const char *data, uInt size, int flush)
    {
        m_stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
        m_stream.avail_in = size;
        int status = Z_OK;
        do {
            m_stream.next_out = m_output;
            m_stream.avail_out = OutputSize;
            status = deflate(&m_stream, flush);
            if (status == Z_STREAM_ERROR)
                return false;
            if (!drain())
                return false;
        } while (m_stream.avail_out == 0);
        return flush != Z_FINISH || status == Z_STREAM_END;
    }
    bool drain()
    {
        const uInt produced = OutputSize - m_stream.avail_out;
        return produced == 0 || zipWriteInFileInZip(m_zip, m_output, produced) == ZIP_OK;
    }
    bool setLevel(int level)
    {
        // deflateParams ends the current block first; when that needs more
        // room than the buffer has, it changes nothing and asks again.
        for (int attempt = 0; attempt < 64; ++attempt) {
            m_stream.next_out = m_output;
            m_stream.avail_out = OutputSize;
            const int status = deflateParams(&m_stream, level, Z_DEFAULT_STRATEGY);
            if (!drain())
                return false;
            if (status == Z_OK) {
                m_level = level;
                m_storedChunks = 0;
                return true;
            }
            if (status != Z_BUF_ERROR)
                return false;
        }
        return true; // the level stays as it was: slower, never wrong
    }

    zipFile m_zip;
    z_stream m_stream {};
    bool m_ready = false;
    int m_level = 9;
    int m_storedChunks = 0;
    Bytef m_output[OutputSize];
};

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
    // Raw: the entry is deflated here (see EntryDeflater), minizip writes
    // the headers and the bytes.
    if (zipOpenNewFileInZip4_64(zip, rawName.constData(), &zi, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9,
                                1, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, 0, flags, zip64)
        != ZIP_OK) {
        qCDebug(lcArchive).noquote() << "TZipFile: impossibile aggiungere" << name;
        return false;
    }
    EntryDeflater deflater(zip);
    std::unique_ptr<char[]> buffer(new char[ZipChunk]);
    bool ok = deflater.ready();
    uLong crc = crc32(0L, Z_NULL, 0);
    quint64 read = 0;
    while (ok) {
        const qint64 got = in.read(buffer.get(), ZipChunk);
        if (got < 0) {
            qCDebug(lcArchive).noquote() << "TZipFile: errore di lettura" << filePath << in.errorString();
            ok = false;
            break;
        }
        if (got == 0)
            break;
        crc = crc32(crc, reinterpret_cast<const Bytef *>(buffer.get()), uInt(got));
        read += quint64(got);
        if (!deflater.add(buffer.get(), uInt(got))) {
            qCDebug(lcArchive).noquote() << "TZipFile: errore di scrittura nell'archivio" << archive;
            ok = false;
            break;
        }
        *done += quint64(got);
        emitProgress(notifier, *done, size);
    }
    if (ok && !deflater.finish()) {
        qCDebug(lcArchive).noquote() << "TZipFile: errore di scrittura nell'archivio" << archive;
        ok = false;
    }
    if (zipCloseFileInZipRaw64(zip, read, crc) != ZIP_OK) {
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
            // ".update_hub" holds work in flight (the download cache), never
            // part of a copy.
            if (item.isSymLink() || item.fileName() == QLatin1String(".update_hub"))
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
    ArchiveReader reader(archive);
    unzFile zip = reader.zip();
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
    if (!reader.zip())
        return list;
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
        return -1;
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
