// The writer half of the archive module: entries deflated here, at level 9
// except where the data does not shrink, and written through minizip.
#include "archive/zipwriter.h"

#include "archive/zipcommon.h"
#include "platform/platform.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <memory>

namespace ZipDetail {

namespace {

// Source files are read in chunks large enough that deflate, not the reads,
// sets the pace.
constexpr qint64 ZipChunk = 256 * 1024;

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

} // namespace

zipFile openForWriting(const QString &archive)
{
    zlib_filefunc64_def functions {};
    const QByteArray path = Platform::zipFileFunctions(archive, &functions);
    const auto open = [&](int mode) { return zipOpen2_64(path.constData(), mode, nullptr, &functions); };
    if (!QFileInfo::exists(archive))
        return open(APPEND_STATUS_CREATE);
    zipFile handle = open(APPEND_STATUS_ADDINZIP);
    if (!handle)
        handle = open(APPEND_STATUS_CREATEAFTER);
    return handle;
}

bool addFile(zipFile zip, const QString &filePath, const QString &name, const QString &archive, quint64 *done,
             QZipFileNotificationInterface *notifier)
{
    // Reading the archive being written into itself would never end.
    if (sameFile(filePath, archive))
        return true;
    // A file that cannot be read becomes an empty entry and the work goes
    // on: one unreadable file must not cost the copy of all the others.
    QFile in(filePath);
    const bool readable = in.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    if (!readable)
        qCDebug(lcArchive).noquote() << "TZipFile: impossibile leggere" << filePath << in.errorString()
                                     << "- voce vuota";
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
    const quint64 size = readable ? quint64(info.size()) : 0;
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
    while (ok && readable) {
        const qint64 got = in.read(buffer.get(), ZipChunk);
        if (got < 0) {
            // Likewise a read that fails: the entry keeps what was read, with
            // its size and CRC, so the archive stays sound.
            qCDebug(lcArchive).noquote() << "TZipFile: errore di lettura" << filePath << in.errorString()
                                         << "- voce fermata a" << read << "byte";
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

} // namespace ZipDetail
