#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

class THttp;

/// The download cache, "work/.update_hub/downloads/": for each package a file
/// that grows while it is received ("NAME.part", renamed "NAME" once whole)
/// and a small record ("NAME.record") of where it comes from, how long it is
/// and which validator the service gave. Emptying "work/" leaves it alone;
/// the plan prunes it to the packages of the new download list.
class DownloadCache
{
public:
    struct Record
    {
        QString path; // service path
        qint64 length = -1; // announced length, -1 unknown
        QByteArray etag;
        QByteArray lastModified;
        qint64 received = 0;

        QByteArray validator() const { return etag.isEmpty() ? lastModified : etag; }
        /// What may go into If-Range: a strong ETag, else Last-Modified (a
        /// weak ETag does not promise the same bytes).
        QByteArray rangeValidator() const { return weakTag() ? lastModified : validator(); }
        bool weakTag() const { return etag.trimmed().startsWith("W/"); }
    };

    explicit DownloadCache(const QString &folder = QStringLiteral("work/.update_hub/downloads"));

    /// The cache's name for a package: its local name and a mark of its
    /// service path, so that two packages of the same file name from two
    /// folders keep apart.
    static QString slotName(const QString &name, const QString &path);

    QString folder() const { return root; }
    QString partFile(const QString &name) const;
    QString wholeFile(const QString &name) const;
    QString recordFile(const QString &name) const;

    /// The record as text ("key=value" lines) and back; parse() is false for
    /// a garbled text (no path, numbers that are none, a count beyond the length).
    static QByteArray format(const Record &record);
    static bool parse(const QByteArray &text, Record *record);

    /// The record of a package; false when there is none or it is garbled.
    bool read(const QString &name, Record *record) const;
    /// Written beside and renamed over the old one.
    bool write(const QString &name, const Record &record) const;
    /// Removes the package's file, part file and record.
    void discard(const QString &name) const;
    /// Removes every package but those of the slots named.
    void prune(const QStringList &keepSlots) const;
    /// Bytes of the package (local name, service path) already held for
    /// that size (0 when what is there belongs to something else).
    qint64 heldBytes(const QString &name, const QString &path, qint64 size) const;

private:
    QString root;
};

/// Fetches one package through the cache: a whole copy still current is
/// reused (a 304 to a conditional request, or the same size when the service
/// gives no validator), a part file is continued with Range and If-Range, and
/// a transfer that breaks off, or a busy answer (408, 429, 5xx), is tried
/// again after 2, 4, 8 ... seconds (or the service's Retry-After up to 60 s).
/// download_retries counts the tries in a row that brought no new byte: a
/// transfer that made progress starts a fresh budget. Only a file of the
/// announced length and of the planned size is put in place.
class PackageDownload
{
public:
    enum class Outcome { Done, Failed, Cancelled };
    /// Why the last fetch failed.
    enum class Cause { None, Connection, Disk };
    /// The longest Retry-After waited for; a longer one fails the package.
    static constexpr int longestRetryAfter = 60;

    PackageDownload(THttp &http, const DownloadCache &cache);

    /// Called before each retry's wait with the try number (1, 2, ...) and the wait in ms.
    std::function<void(int attempt, int waitMs)> onRetry;
    /// Called when a transfer starts (also after a retry's wait).
    std::function<void()> onTransfer;
    /// First retry wait in ms (doubles each time); tests shorten it.
    int firstWaitMs = 2000;

    /// Fetches path into target (a file of "work/"), name being the package's
    /// local name; size is the planned size (<= 0 unknown).
    Outcome fetch(const QString &path, const QString &name, qint64 size, const QString &target);
    Cause failureCause() const { return cause; }

private:
    bool wait(int milliseconds);
    bool place(const QString &name, const QString &target);
    Outcome fail(Cause why)
    {
        cause = why;
        return Outcome::Failed;
    }

    Cause cause = Cause::None;

    THttp &http;
    const DownloadCache &cache;
};
