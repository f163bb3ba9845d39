#include "service/packagedownload.h"

#include "platform/platform.h"
#include "service/thttp.h"

#include <QCryptographicHash>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QTimer>

#include <filesystem>
#include <system_error>

Q_DECLARE_LOGGING_CATEGORY(lcService)

namespace {

const QString partSuffix = QStringLiteral(".part");
const QString recordSuffix = QStringLiteral(".record");

std::filesystem::path nativePath(const QString &path)
{
    return std::filesystem::path(path.toStdU16String());
}

} // namespace

DownloadCache::DownloadCache(const QString &folder)
    : root(folder)
{
}

QString DownloadCache::slotName(const QString &name, const QString &path)
{
    const QByteArray mark
        = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1).toHex().left(10);
    return name + QLatin1Char('~') + QString::fromLatin1(mark);
}

QString DownloadCache::partFile(const QString &name) const
{
    return root + QLatin1Char('/') + name + partSuffix;
}

QString DownloadCache::wholeFile(const QString &name) const
{
    return root + QLatin1Char('/') + name;
}

QString DownloadCache::recordFile(const QString &name) const
{
    return root + QLatin1Char('/') + name + recordSuffix;
}

QByteArray DownloadCache::format(const Record &record)
{
    return "path=" + record.path.toUtf8() + "\nlength=" + QByteArray::number(record.length)
        + "\netag=" + record.etag + "\nlast_modified=" + record.lastModified
        + "\nreceived=" + QByteArray::number(record.received) + '\n';
}

bool DownloadCache::parse(const QByteArray &text, Record *record)
{
    Record parsed;
    bool hasLength = false;
    bool hasReceived = false;
    for (const QByteArray &line : text.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const int equals = line.indexOf('=');
        if (equals <= 0)
            return false;
        const QByteArray key = line.left(equals);
        const QByteArray value = line.mid(equals + 1);
        bool ok = true;
        if (key == "path")
            parsed.path = QString::fromUtf8(value);
        else if (key == "length")
            parsed.length = value.toLongLong(&ok), hasLength = true;
        else if (key == "etag")
            parsed.etag = value;
        else if (key == "last_modified")
            parsed.lastModified = value;
        else if (key == "received")
            parsed.received = value.toLongLong(&ok), hasReceived = true;
        else
            return false;
        if (!ok)
            return false;
    }
    if (parsed.path.isEmpty() || !hasLength || !hasReceived || parsed.length < -1 || parsed.received < 0
        || (parsed.length >= 0 && parsed.received > parsed.length))
        return false;
    *record = parsed;
    return true;
}

bool DownloadCache::read(const QString &name, Record *record) const
{
    QFile file(recordFile(name));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // A record is a few hundred bytes; anything far larger is not one.
    const QByteArray text = file.read(64 * 1024);
    return parse(text, record);
}

bool DownloadCache::write(const QString &name, const Record &record) const
{
    QSaveFile file(recordFile(name));
    const QByteArray text = format(record);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

void DownloadCache::discard(const QString &name) const
{
    QFile::remove(partFile(name));
    QFile::remove(wholeFile(name));
    QFile::remove(recordFile(name));
}

void DownloadCache::prune(const QStringList &keep) const
{
    const QDir dir(root);
    for (const QString &file : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        QString name = file;
        if (name.endsWith(partSuffix))
            name.chop(partSuffix.size());
        else if (name.endsWith(recordSuffix))
            name.chop(recordSuffix.size());
        if (!keep.contains(name)) {
            qCDebug(lcService).noquote() << "cache: removing" << file;
            QFile::remove(dir.filePath(file));
        }
    }
}

qint64 DownloadCache::heldBytes(const QString &localName, const QString &path, qint64 size) const
{
    const QString name = slotName(localName, path);
    Record record;
    if (!read(name, &record) || record.path != path || (size > 0 && record.length >= 0 && record.length != size))
        return 0;
    const QFileInfo whole(wholeFile(name));
    const qint64 held = whole.exists() ? whole.size() : QFileInfo(partFile(name)).size();
    return size > 0 && held > size ? 0 : held;
}

PackageDownload::PackageDownload(THttp &http, const DownloadCache &cache)
    : http(http)
    , cache(cache)
{
}

bool PackageDownload::wait(int milliseconds)
{
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&http, &THttp::cancelRequested, &loop, &QEventLoop::quit);
    timer.start(milliseconds);
    if (!http.cancelled())
        loop.exec();
    return !http.cancelled();
}

bool PackageDownload::place(const QString &name, const QString &target)
{
    // A second name for the cached file: work/ gets the package and the cache
    // keeps it, at the cost of no extra room, until the next plan prunes it.
    std::error_code failure;
    std::filesystem::remove(nativePath(target), failure);
    failure.clear();
    std::filesystem::create_hard_link(nativePath(cache.wholeFile(name)), nativePath(target), failure);
    if (!failure)
        return true;
    // Without links the file moves: the cache no longer holds it.
    qCDebug(lcService).noquote() << "cache: no link for" << target << QString::fromStdString(failure.message());
    failure.clear();
    std::filesystem::rename(nativePath(cache.wholeFile(name)), nativePath(target), failure);
    QFile::remove(cache.recordFile(name));
    return !failure;
}

PackageDownload::Outcome PackageDownload::fetch(const QString &path, const QString &localName, qint64 size,
                                                const QString &target)
{
    cause = Cause::None;
    if (!QDir().mkpath(cache.folder()))
        return fail(Cause::Disk);
    const QString name = DownloadCache::slotName(localName, path);
    const QString whole = cache.wholeFile(name);
    const QString part = cache.partFile(name);

    DownloadCache::Record record;
    const bool known = cache.read(name, &record);
    // What is held must be of this path and this size; anything else goes.
    if (!known || record.path != path || (size > 0 && record.length >= 0 && record.length != size)
        || (QFileInfo::exists(whole) && QFileInfo(whole).size() != record.length)) {
        if (known || QFileInfo::exists(part) || QFileInfo::exists(whole))
            qCDebug(lcService).noquote() << "cache: starting" << name << "over";
        cache.discard(name);
        record = DownloadCache::Record();
        record.path = path;
    }
    // A part file that is already whole (the program ended before renaming
    // it) becomes the whole copy: checked below like one, and no byte beyond
    // its end is asked for.
    if (!QFileInfo::exists(whole) && record.length > 0 && QFileInfo(part).size() == record.length) {
        std::error_code failure;
        if (Platform::flushFile(part))
            std::filesystem::rename(nativePath(part), nativePath(whole), failure);
        qCDebug(lcService).noquote() << "cache: part file of" << name << "already whole";
    }
    // A whole copy without a validator is taken on its size alone.
    if (QFileInfo::exists(whole) && record.validator().isEmpty())
        return place(name, target) ? Outcome::Done : fail(Cause::Disk);

    int failures = 0; // tries in a row that brought no new byte
    int tries = 0;
    qint64 mostHeld = 0; // the most bytes held after any try of this fetch
    bool startedOver = false;
    for (;;) {
        if (http.cancelled())
            return Outcome::Cancelled;
        const bool wholeHeld = QFileInfo::exists(whole);
        QFile file(part);
        if (!file.open(QIODevice::ReadWrite)) {
            qCDebug(lcService).noquote() << "cache: cannot open" << part << file.errorString();
            return fail(Cause::Disk);
        }
        THttp::TransferConditions conditions;
        if (wholeHeld) {
            file.resize(0);
            if (!record.etag.isEmpty())
                conditions.ifNoneMatch = record.etag;
            else
                conditions.ifModifiedSince = record.lastModified;
        } else {
            qint64 offset = file.size();
            if (offset > 0 && ((record.length >= 0 && offset > record.length) || (size > 0 && offset > size))) {
                file.resize(0);
                offset = 0;
            }
            // Bytes under a weak ETag alone cannot be continued: nothing
            // proves the rest belongs to them.
            if (offset > 0 && record.weakTag() && record.lastModified.isEmpty()) {
                file.resize(0);
                offset = 0;
            }
            // Validators belong to the bytes held; without any they are void.
            if (offset == 0) {
                record.etag.clear();
                record.lastModified.clear();
            }
            conditions.offset = offset;
            conditions.ifRange = record.rangeValidator();
            conditions.length = offset > 0 ? record.length : -1;
        }
        mostHeld = qMax(mostHeld, file.size());
        if (onTransfer)
            onTransfer();
        const THttp::TransferResult result = http.transfer(path, file, conditions);
        if (result.status == 200 || result.status == 206) {
            // A new version arrived: an older whole copy is outdated.
            if (wholeHeld && result.status == 200)
                QFile::remove(whole);
            record.length = result.length;
            record.etag = result.etag;
            record.lastModified = result.lastModified;
        }
        record.received = file.size();
        file.close();
        if (record.length >= 0 && record.received > record.length)
            record.received = record.length;
        const bool progressed = record.received > mostHeld;
        mostHeld = qMax(mostHeld, record.received);
        cache.write(name, record);

        if (result.kind != THttp::TransferResult::StartOver)
            startedOver = false;
        int waitMs = -1;
        switch (result.kind) {
        case THttp::TransferResult::Cancelled:
            return Outcome::Cancelled;
        case THttp::TransferResult::WriteFailed:
            // A full disk: what is held would only take room.
            qCDebug(lcService).noquote() << "cache:" << name << "cannot be written";
            cache.discard(name);
            return fail(Cause::Disk);
        case THttp::TransferResult::Refused:
            // A refusal (404, 403, ...): the next run asks again from the
            // start. A proxy login the user cancelled keeps what is held.
            qCDebug(lcService).noquote() << "cache:" << name << "refused with status" << result.status;
            if (result.status != 0 && result.status != 401 && result.status != 407)
                cache.discard(name);
            return fail(Cause::Connection);
        case THttp::TransferResult::NotModified:
            if (!wholeHeld)
                return fail(Cause::Connection);
            QFile::remove(part);
            return place(name, target) ? Outcome::Done : fail(Cause::Disk);
        case THttp::TransferResult::Complete: {
            const qint64 got = QFileInfo(part).size();
            // Without a Content-Length the body ended with the connection:
            // short of the planned size it was cut off, and is continued.
            if (result.length < 0 && size > 0 && got < size) {
                qCDebug(lcService).noquote() << "cache:" << name << "ended at" << got << "of" << size;
                break;
            }
            const bool fits = result.length >= 0 ? got == result.length : true;
            if (!fits || (size > 0 && got != size)) {
                qCDebug(lcService).noquote() << "cache:" << name << "has" << got << "bytes, announced"
                                             << result.length << "planned" << size;
                cache.discard(name);
                return fail(Cause::Connection);
            }
            if (result.length < 0) {
                record.length = got;
                record.received = got;
                cache.write(name, record);
            }
            // On the device before it takes its place.
            if (!Platform::flushFile(part))
                return fail(Cause::Disk);
            std::error_code failure;
            std::filesystem::rename(nativePath(part), nativePath(whole), failure);
            if (failure)
                return fail(Cause::Disk);
            return place(name, target) ? Outcome::Done : fail(Cause::Disk);
        }
        case THttp::TransferResult::StartOver:
            // Once at once; a service that keeps answering so counts as broken.
            if (!startedOver) {
                startedOver = true;
                QFile::resize(part, 0);
                continue;
            }
            QFile::resize(part, 0);
            break;
        case THttp::TransferResult::Busy:
            // The bytes held stay; a service that asks for a long pause is
            // not waited for.
            if (result.retryAfter > longestRetryAfter) {
                qCDebug(lcService).noquote() << "cache:" << name << "busy for" << result.retryAfter << "s";
                return fail(Cause::Connection);
            }
            if (result.retryAfter >= 0)
                waitMs = result.retryAfter * 1000;
            break;
        case THttp::TransferResult::Broken:
            break;
        }
        if (http.downloadRetries() == 0)
            return fail(Cause::Connection);
        if (progressed) {
            failures = 0;
        } else {
            if (failures >= http.downloadRetries())
                return fail(Cause::Connection);
            ++failures;
        }
        // A line that drops now and then is taken up again at once; one
        // that brings nothing is given more and more time.
        if (waitMs < 0)
            waitMs = failures == 0 ? 0 : firstWaitMs << qMin(failures - 1, 10);
        if (onRetry)
            onRetry(++tries, waitMs);
        if (!wait(waitMs))
            return Outcome::Cancelled;
    }
}
