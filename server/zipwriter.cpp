#include "server/zipwriter.h"

#include <QDateTime>
#include <QFile>
#include <QSet>

#include <memory>
#include <zip.h>

namespace {

struct ZipCloser
{
    void operator()(void *zip) const { zipClose(static_cast<zipFile>(zip), nullptr); }
};

bool writeEntry(zipFile zip, const ZipEntry &entry, const QDateTime &now, QString *error)
{
    const bool folder = entry.name.endsWith('/');
    const bool fromFile = !entry.sourceFile.isEmpty();
    QFile source(entry.sourceFile);
    if (fromFile && !source.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1").arg(entry.sourceFile);
        return false;
    }
    zip_fileinfo info {};
    info.tmz_date.tm_year = uInt(now.date().year());
    info.tmz_date.tm_mon = uInt(now.date().month() - 1);
    info.tmz_date.tm_mday = uInt(now.date().day());
    info.tmz_date.tm_hour = uInt(now.time().hour());
    info.tmz_date.tm_min = uInt(now.time().minute());
    info.tmz_date.tm_sec = uInt(now.time().second());
    info.external_fa = folder ? ((040755u << 16) | 0x10u) : (0100644u << 16);
    // Files are packages already: stored, not compressed a second time.
    const int method = folder || fromFile ? 0 : Z_DEFLATED;
    const int zip64 = fromFile && source.size() >= qint64(0xffffffffLL) ? 1 : 0;
    if (zipOpenNewFileInZip4_64(zip, entry.name.constData(), &info, nullptr, 0, nullptr, 0, nullptr, method,
                                method ? Z_DEFAULT_COMPRESSION : 0, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                Z_DEFAULT_STRATEGY, nullptr, 0, /* made on Unix, zip 3.0 */ (3 << 8) | 30, 0,
                                zip64)
        != ZIP_OK) {
        *error = QStringLiteral("cannot add %1").arg(QString::fromUtf8(entry.name));
        return false;
    }
    bool written = true;
    if (fromFile) {
        QByteArray buffer(1024 * 1024, Qt::Uninitialized);
        qint64 count = 0;
        while (written && (count = source.read(buffer.data(), buffer.size())) > 0)
            written = zipWriteInFileInZip(zip, buffer.constData(), unsigned(count)) == ZIP_OK;
        written = written && count == 0;
    } else if (!entry.content.isEmpty()) {
        written
            = zipWriteInFileInZip(zip, entry.content.constData(), unsigned(entry.content.size())) == ZIP_OK;
    }
    if (zipCloseFileInZip(zip) != ZIP_OK || !written) {
        *error = QStringLiteral("cannot write %1").arg(QString::fromUtf8(entry.name));
        return false;
    }
    return true;
}

} // namespace

bool writeZip(const QString &path, const QList<ZipEntry> &files, QString *error)
{
    QList<ZipEntry> entries;
    QSet<QByteArray> folders;
    for (const ZipEntry &file : files) {
        const QList<QByteArray> parts = file.name.split('/');
        QByteArray folder;
        for (int i = 0; i + 1 < parts.size(); ++i) {
            folder += parts.at(i) + '/';
            if (!folders.contains(folder)) {
                folders.insert(folder);
                entries.append({ folder, QByteArray() });
            }
        }
        entries.append(file);
    }

    std::unique_ptr<void, ZipCloser> zip(
        zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE));
    if (!zip) {
        *error = QStringLiteral("cannot create %1").arg(path);
        return false;
    }
    const QDateTime now = QDateTime::currentDateTime();
    for (const ZipEntry &entry : entries) {
        if (!writeEntry(static_cast<zipFile>(zip.get()), entry, now, error)) {
            zip.reset();
            QFile::remove(path);
            return false;
        }
    }
    if (zipClose(zip.release(), nullptr) != ZIP_OK) {
        *error = QStringLiteral("cannot finish %1").arg(path);
        QFile::remove(path);
        return false;
    }
    return true;
}
