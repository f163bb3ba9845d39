// The reader half of the archive module: the scan of the central directory,
// the cached archive file minizip walks, and the inflate loop of entry data.
#include "archive/zipreader.h"

#include "archive/zipcommon.h"
#include "archive/zipentryname.h"

#include <zlib.h>

#include <climits>
#include <cstring>

namespace ZipDetail {

namespace {

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

// Encrypted entries go through minizip, which knows the decryption; the same
// rules hold: exactly the declared size, no failed read, a clean close.
DataFault readEncryptedEntry(unzFile zip, const unz_file_info64 &info, Buffers &buffers, const EntrySink &sink)
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

} // namespace

Scan scanArchive(unzFile zip, qint64 archiveSize)
{
    Scan scan;
    quint64 compressed = 0;
    // An archive without entries is sound: it extracts to nothing.
    int result = unzGoToFirstFile(zip);
    for (; result == UNZ_OK; result = unzGoToNextFile(zip)) {
        Entry entry;
        QString name;
        if (!readEntryInfo(zip, &entry.info, &name)) {
            scan.message = QStringLiteral("indice dell'archivio danneggiato");
            return scan;
        }
        if (unzGetFilePos64(zip, &entry.position) != UNZ_OK) {
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

ArchiveReader::ArchiveReader(const QString &path)
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
    if (!m_zip && m_size >= 22 && m_size <= 22 + 0xffff && m_file.seek(0)) {
        // End record: signature, disk numbers, entry counts, directory size
        // and offset all 0, then the comment, which ends the file.
        const QByteArray record = m_file.read(22);
        static const char emptyRecord[20] = { 'P', 'K', 5, 6 };
        const auto byte = [&](int at) { return uint(uchar(record.at(at))); };
        m_empty = record.size() == 22 && memcmp(record.constData(), emptyRecord, 20) == 0
            && qint64(22 + (byte(20) | byte(21) << 8)) == m_size;
    }
}

voidpf ZCALLBACK ArchiveReader::openStream(voidpf opaque, const void *, int mode)
{
    auto *self = static_cast<ArchiveReader *>(opaque);
    const bool reading = (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ;
    return reading && self->m_file.isOpen() ? self : nullptr;
}
uLong ZCALLBACK ArchiveReader::readStream(voidpf opaque, voidpf, void *buffer, uLong size)
{
    return static_cast<ArchiveReader *>(opaque)->read(static_cast<char *>(buffer), qint64(size));
}
uLong ZCALLBACK ArchiveReader::writeStream(voidpf, voidpf, const void *, uLong) { return 0; }
ZPOS64_T ZCALLBACK ArchiveReader::tellStream(voidpf opaque, voidpf)
{
    return ZPOS64_T(static_cast<ArchiveReader *>(opaque)->m_position);
}
long ZCALLBACK ArchiveReader::seekStream(voidpf opaque, voidpf, ZPOS64_T offset, int origin)
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
int ZCALLBACK ArchiveReader::closeStream(voidpf, voidpf) { return 0; }
int ZCALLBACK ArchiveReader::errorStream(voidpf opaque, voidpf)
{
    return static_cast<ArchiveReader *>(opaque)->m_failed ? -1 : 0;
}

uLong ArchiveReader::read(char *out, qint64 size)
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

int openEntry(unzFile zip, const unz_file_info64 &info, const QByteArray &password)
{
    // Only entries flagged exactly 3 (encrypted, deflate option) take the password.
    if (info.flag == 3)
        return unzOpenCurrentFilePassword(zip, password.constData());
    return unzOpenCurrentFile(zip);
}

// Decodes the data of the current entry, which minizip has opened (and so
// checked its local header), straight from the archive file: compressed data
// is read in large chunks, inflated into the output buffer and handed to sink
// (which returns false when it cannot take it), so every byte is copied once
// on its way in and once on its way out. The data must decode to exactly the
// declared size with the stored CRC-32; nothing beyond the declared size ever
// reaches sink.
DataFault decodeEntry(QFile &file, quint64 fileSize, quint64 offset, const unz_file_info64 &info,
                      Buffers &buffers, const EntrySink &sink)
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

DataFault readEntry(ArchiveReader &reader, const unz_file_info64 &info, const QByteArray &password,
                    Buffers &buffers, const EntrySink &sink, bool *opened)
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

} // namespace ZipDetail
