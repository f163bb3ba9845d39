// Extraction of a whole archive: folders, empty files and the removal of what
// is in the way are done on the calling thread in archive order; the data of
// the other entries is then inflated by as many worker threads as the machine
// has cores, each entry into its own file, while the calling thread reports
// the progress.
#include "archive/zipextract.h"

#include "archive/zipcommon.h"
#include "archive/zipreader.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QThread>
#include <QThreadPool>
#include <QWaitCondition>

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>
#include <vector>

namespace ZipDetail {

namespace {

// The calling thread reports the chunks the workers wrote as a walk in
// archive order would: the count of every entry before the first unfinished
// one plus what that one has written so far; the chunks of later entries are
// held back until their turn. When its receivers fall this many counts
// behind, it jumps to the latest instead, so a slow window never holds up
// the end.
constexpr size_t MaxBacklog = 64;

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

// One entry with data to write, at its place in the archive.
struct Job
{
    int index = 0;
    const Entry *entry = nullptr;
    QString target;
};

// The state the workers share. Entries at or after stopAt are not written:
// it falls to the index of the first entry that failed, so that every entry
// before a failure is extracted whole, as by a walk in archive order.
struct Shared
{
    QString archive;
    QByteArray password;
    QZipFileNotificationInterface *notifier = nullptr;
    quint64 total = 0;
    // Jobs writing the same file (or files a case-blind system takes for the
    // same) run one after the other in one group, in archive order.
    std::vector<std::vector<Job>> groups;
    std::atomic_int nextGroup { 0 };
    std::atomic_int stopAt { INT_MAX };

    // Progress events for the calling thread: a chunk of size bytes written
    // for the entry at index, or (size -1) that entry done, whatever the outcome.
    struct Event
    {
        int index;
        qint64 size;
    };
    QMutex progressMutex;
    QWaitCondition progressChanged;
    std::vector<Event> pending; // under progressMutex, as running
    int running = 0; // workers not yet finished

    void post(int index, qint64 size)
    {
        QMutexLocker lock(&progressMutex);
        pending.push_back(Event { index, size });
        progressChanged.wakeOne();
    }
    void workerFinished()
    {
        QMutexLocker lock(&progressMutex);
        --running;
        progressChanged.wakeOne();
    }

    // Per archive index: 1 once a worker has written (or tried) that entry.
    std::vector<char> started;

    QMutex mutex;
    int failedAt = INT_MAX; // under mutex, with why
    QString why;

    bool stopped(int index) const
    {
        return index >= stopAt.load(std::memory_order_relaxed) || (notifier && notifier->cancelRequested());
    }
    void fail(int index, const QString &text)
    {
        QMutexLocker lock(&mutex);
        if (index < failedAt) {
            failedAt = index;
            why = text;
        }
        int current = stopAt.load();
        while (index < current && !stopAt.compare_exchange_weak(current, index)) {
        }
    }
};

enum class Outcome { Done, Failed, Stopped };

// Writes the data of one entry to its target; on a failure the reason goes
// to *why. Stops early, leaving the file cut short, when shared says so.
Outcome extractEntry(ArchiveReader &reader, const Job &job, Shared &shared, Buffers &buffers, QString *why)
{
    if (unzGoToFilePos64(reader.zip(), &job.entry->position) != UNZ_OK) {
        *why = QStringLiteral("decompressione terminata causa: indice dell'archivio danneggiato");
        return Outcome::Failed;
    }
    QFile out(job.target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *why = QStringLiteral("decompressione terminata a causa di un errore nell'apertura del file: "
                              "file.open( QIODevice::WriteOnly )");
        return Outcome::Failed;
    }
    QString writeFault;
    bool stopped = false;
    const auto write = [&](const char *data, qint64 size) {
        if (shared.stopped(job.index)) {
            stopped = true;
            return false;
        }
        qint64 put = out.write(data, size);
        // A later entry that failed has given its room back (see below): a
        // write that fell short meanwhile is tried once more for the rest.
        const int failedLater = shared.stopAt.load();
        if (put >= 0 && put < size && failedLater != INT_MAX && failedLater > job.index) {
            const qint64 rest = out.write(data + put, size - put);
            put = rest < 0 ? put : put + rest;
        }
        if (put != size) {
            // A full disk shows as a short write without an error of its own.
            writeFault = QStringLiteral("decompressione terminata causa: errore di scrittura in %1 (%2 di %3 "
                                        "byte scritti)")
                             .arg(job.target)
                             .arg(qMax<qint64>(put, 0))
                             .arg(size);
            return false;
        }
        shared.post(job.index, size);
        return true;
    };
    bool opened = false;
    const DataFault fault = readEntry(reader, job.entry->info, shared.password, buffers, write, &opened);
    if (!opened) {
        *why = QStringLiteral("decompressione terminata causa: errorZipFile != UNZ_OK");
        return Outcome::Failed;
    }
    if (fault == DataFault::Sink) {
        // A write that fell short means a full disk: the cut-short file gives
        // its room back at once, so that the entries before it, still being
        // written on other threads, finish as a walk in archive order would.
        if (!stopped)
            out.resize(0);
        *why = writeFault;
        return stopped ? Outcome::Stopped : Outcome::Failed;
    }
    if (fault != DataFault::None) {
        *why = QStringLiteral("decompressione terminata causa: ") + faultText(fault, job.entry->path);
        return Outcome::Failed;
    }
    out.close();
    if (out.error() != QFileDevice::NoError) {
        *why = QStringLiteral("decompressione terminata causa: errore di scrittura in ") + job.target;
        return Outcome::Failed;
    }
    return Outcome::Done;
}

// One worker: its own view of the archive (minizip's handles are not shared
// between threads) and its own buffers; takes the next group until none is left.
void work(Shared &shared)
{
    std::unique_ptr<ArchiveReader> reader;
    std::unique_ptr<Buffers> buffers;
    for (;;) {
        const int group = shared.nextGroup.fetch_add(1);
        if (group >= int(shared.groups.size()))
            return;
        for (const Job &job : shared.groups[size_t(group)]) {
            if (shared.stopped(job.index))
                break;
            if (!reader) {
                reader = std::make_unique<ArchiveReader>(shared.archive);
                buffers = std::make_unique<Buffers>();
            }
            if (!reader->zip()) {
                shared.fail(job.index,
                            QStringLiteral("decompressione terminata causa: archivio non apribile ")
                                + shared.archive);
                return;
            }
            QString why;
            Outcome outcome = Outcome::Done;
            if (job.entry->info.uncompressed_size == 0) {
                TZipFile::TouchFile(job.target);
                if (QFileInfo(job.target).size() != 0) {
                    outcome = Outcome::Failed;
                    why = QStringLiteral("decompressione terminata a causa di un errore nell'apertura del "
                                         "file: file.open( QIODevice::WriteOnly )");
                }
            } else {
                outcome = extractEntry(*reader, job, shared, *buffers, &why);
            }
            if (outcome == Outcome::Failed)
                shared.fail(job.index, why);
            shared.started[size_t(job.index)] = 1;
            shared.post(job.index, -1);
            if (outcome != Outcome::Done)
                break;
        }
    }
}

} // namespace

bool extractArchive(const QString &archive, const QString &destination, bool keepPaths,
                    const QString &password, QZipFileNotificationInterface *notifier)
{
    qCDebug(lcArchive).noquote() << QStringLiteral("Unzip File ") + archive + QStringLiteral(" -> ")
            + destination;
    Scan scan;
    {
        ArchiveReader reader(archive);
        if (!reader.zip() && reader.empty()) {
            if (notifier)
                emit notifier->total(0);
            qCDebug(lcArchive).noquote() << "archivio senza voci: niente da decomprimere";
            return true;
        }
        if (!reader.zip()) {
            qCDebug(lcArchive).noquote()
                << QStringLiteral("decompressione terminata causa: archivio non apribile ") + archive;
            return false;
        }
        scan = scanArchive(reader.zip(), reader.size());
    }
    if (!scan.ok) {
        qCDebug(lcArchive).noquote() << QStringLiteral("decompressione terminata causa: ") + scan.message;
        return false;
    }
    if (notifier) {
        const int shift = countShift(scan.total);
        emit notifier->total(uint(scan.total >> shift));
    }

    Shared shared;
    shared.archive = archive;
    shared.password = password.toLatin1();
    shared.notifier = notifier;
    shared.total = scan.total;

    // The destination, in archive order: what a walk over the entries would
    // make of it before writing each one's data.
    const QString folder = destinationFolder(destination);
    QHash<QString, size_t> groupOf;
    QString readyFolder;
    int index = 0;
    for (const Entry &entry : scan.entries) {
        const int at = index++;
        if (entry.folder) {
            if (keepPaths && !entry.path.isEmpty()) {
                const QString target = folder + entry.path;
                const QFileInfo existing(target);
                if (existing.isSymLink() || (existing.exists() && !existing.isDir()))
                    QFile::remove(target);
                if (!ensureFolder(target)) {
                    shared.fail(at, QStringLiteral("decompressione terminata causa: impossibile creare la "
                                                   "cartella ")
                                    + target);
                    break;
                }
            }
            continue;
        }
        const QString relative = keepPaths ? entry.path : entry.path.section(QLatin1Char('/'), -1);
        const QString target = folder + relative;
        const QString parent = target.left(target.lastIndexOf(QLatin1Char('/')) + 1);
        // Entries come folder by folder: a folder made or found once stays
        // (nothing in the extraction removes a folder).
        if (parent != readyFolder) {
            if (!ensureFolder(parent)) {
                shared.fail(at, QStringLiteral("decompressione terminata causa: impossibile creare la cartella ")
                                + parent);
                break;
            }
            readyFolder = parent;
        }
        // A link left at the target is removed, never written through.
        const QFileInfo existing(target);
        if (existing.exists() || existing.isSymLink())
            QFile::remove(target);
        if (entry.info.uncompressed_size == 0) {
            // An empty entry is just an empty file. Any other entry's file is
            // created by opening it once, by its worker: truncating a file
            // that was just created empty would make the file system flush
            // its data on closing.
            TZipFile::TouchFile(target);
            if (!QFileInfo(target).isFile()) {
                shared.fail(at, QStringLiteral("decompressione terminata a causa di un errore nell'apertura "
                                               "del file: file.open( QIODevice::WriteOnly )"));
                break;
            }
        }
        const QString key = target.toCaseFolded();
        auto found = groupOf.constFind(key);
        if (found == groupOf.constEnd()) {
            // An empty entry is done; one after a full entry of the same
            // name must empty the file again once that one is written, so it
            // joins that entry's group.
            if (entry.info.uncompressed_size == 0)
                continue;
            found = groupOf.insert(key, shared.groups.size());
            shared.groups.emplace_back();
        }
        shared.groups[*found].push_back(Job { at, &entry, target });
    }

    const int threads = qBound(1, QThread::idealThreadCount(), qMax(1, int(shared.groups.size())));
    shared.started.assign(scan.entries.size(), 0);
    if (!shared.groups.empty()) {
        // The entries with data in archive order: the order of the counts.
        std::vector<int> order;
        for (const auto &group : shared.groups)
            for (const Job &job : group)
                order.push_back(job.index);
        std::sort(order.begin(), order.end());
        std::vector<quint64> writtenOf(scan.entries.size(), 0);
        std::vector<char> doneOf(scan.entries.size(), 0);
        size_t head = 0; // position in order of the first unfinished entry
        quint64 base = 0; // bytes of the entries before it
        bool halted = false; // the entry at head failed: no count goes further
        quint64 shown = 0;

        QThreadPool pool;
        pool.setMaxThreadCount(threads);
        shared.running = threads;
        for (int i = 0; i < threads; ++i)
            pool.start([&shared] {
                work(shared);
                shared.workerFinished();
            });
        // The calling thread (the GUI thread of the program) only reports:
        // the notifier's receivers run here, as they always did.
        QMutexLocker lock(&shared.progressMutex);
        for (;;) {
            if (shared.pending.empty() && shared.running > 0)
                shared.progressChanged.wait(&shared.progressMutex);
            if (shared.pending.empty() && shared.running == 0)
                break;
            std::vector<Shared::Event> batch;
            batch.swap(shared.pending);
            const bool failed = shared.stopAt.load() != INT_MAX;
            lock.unlock();
            std::vector<quint64> counts;
            for (const Shared::Event &event : batch) {
                const size_t at = size_t(event.index);
                if (event.size >= 0)
                    writtenOf[at] += quint64(event.size);
                else
                    doneOf[at] = 1;
                while (!halted && head < order.size()) {
                    const size_t current = size_t(order[head]);
                    if (writtenOf[current] > 0)
                        counts.push_back(base + writtenOf[current]);
                    if (!doneOf[current])
                        break;
                    // A failed entry is the last one counted.
                    if (failed && int(current) >= shared.stopAt.load()) {
                        halted = true;
                        break;
                    }
                    base += writtenOf[current];
                    ++head;
                }
            }
            if (counts.size() > MaxBacklog)
                counts.erase(counts.begin(), counts.end() - 1);
            for (const quint64 count : counts) {
                const quint64 now = qMin(count, shared.total);
                if (now > shown) {
                    shown = now;
                    emitProgress(notifier, now, shared.total);
                }
            }
            lock.relock();
        }
        lock.unlock();
        pool.waitForDone();

        // Entries after a failure that a worker had begun are taken away
        // again, so that the destination holds what a walk in archive order
        // would have left: the entries before the failure. A file shared with
        // an earlier entry stays.
        const int failedAt = shared.stopAt.load();
        if (failedAt != INT_MAX) {
            for (const auto &group : shared.groups) {
                const Job &first = group.front();
                if (first.index > failedAt && shared.started[size_t(first.index)])
                    QFile::remove(first.target);
            }
        }
    }
    if (notifier && notifier->cancelRequested()) {
        qCDebug(lcArchive).noquote() << "decompressione annullata";
        return false;
    }
    if (shared.failedAt != INT_MAX) {
        qCDebug(lcArchive).noquote() << shared.why;
        return false;
    }
    qCDebug(lcArchive).noquote() << "DECOMPRESSIONE DEI FILE TERMINATA CORRETTAMENTE!!!";
    return true;
}

} // namespace ZipDetail
