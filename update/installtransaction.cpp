#include "update/installtransaction.h"

#include "archive/tzipfile.h"
#include "platform/platform.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSet>
#include <QThreadPool>
#include <QUuid>
#include <QtConcurrent>

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

Q_LOGGING_CATEGORY(lcInstall, "update_hub.install")

namespace {

const QString journalName = QStringLiteral("journal");
const QString journalTemp = QStringLiteral("journal.tmp");
// Version 1 journals (without a transaction id) decide on their own state.
const QByteArray journalHeader = "update_hub installation journal 2";
const QByteArray journalHeaderV1 = "update_hub installation journal 1";
const QString decisionsName = QStringLiteral("decisions");
const QString decisionsTemp = QStringLiteral("decisions.tmp");
const QByteArray decisionsHeader = "update_hub installation decisions 1";
// Entries of a state folder that never belong to one installation: the
// download cache, the decision record and the single-instance lock.
const QStringList alwaysKept = { QStringLiteral("downloads"), decisionsName, decisionsTemp,
                                 QStringLiteral("update_hub.lock") };
const QString stageFolder = QStringLiteral("stage/");
const QString backupFolder = QStringLiteral("backup/");

using Side = InstallTransaction::Side;
using Move = InstallTransaction::Move;

QString parentOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

bool makeParent(const QString &path)
{
    const QString parent = parentOf(path);
    return parent.isEmpty() || QFileInfo(parent).isDir() || QDir().mkpath(parent);
}

bool exists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Every file operation of a transaction passes here first, so that a test can
// end the process just before any one of them.
bool rename(const QString &from, const QString &to)
{
    Platform::faultPoint();
    if (!makeParent(to))
        return false;
    const bool ok = Platform::renameOver(from, to);
    if (!ok)
        qCWarning(lcInstall).noquote() << "cannot move" << from << "to" << to;
    return ok;
}

/// A rename onto a name that must be free: it never replaces a file there,
/// even one that an error made look absent (it may have no copy anywhere).
bool renameNew(const QString &from, const QString &to)
{
    Platform::faultPoint();
    if (!makeParent(to))
        return false;
    const bool ok = Platform::renameNew(from, to);
    if (!ok)
        qCWarning(lcInstall).noquote() << "cannot move" << from << "to the free name" << to;
    return ok;
}

/// Calls work(i) for every i below count on a few threads at once and
/// returns the lowest i whose call failed, or count when none did. After a
/// failure the calls not yet begun are skipped. A file system may make each
/// operation that frees a file's blocks wait for its device; several in
/// flight share those waits, which is what makes undoing and cleaning up
/// thousands of files fast. Small counts run on the calling thread alone.
qsizetype forEachConcurrently(qsizetype count, const std::function<bool(qsizetype)> &work)
{
    constexpr int maxThreads = 8;
    constexpr qsizetype perThread = 2;
    const int threads = int(std::min<qsizetype>(maxThreads, count / perThread));
    if (threads <= 1) {
        for (qsizetype i = 0; i < count; ++i) {
            if (!work(i))
                return i;
        }
        return count;
    }
    // A pool of its own: these threads mostly wait for the device, so they
    // must not take the places of the CPU-bound work in the global pool.
    static QThreadPool pool;
    pool.setMaxThreadCount(maxThreads);
    std::atomic<qsizetype> next{0};
    std::atomic<qsizetype> failed{count};
    const auto run = [&] {
        for (qsizetype i = next++; i < count && failed.load() == count; i = next++) {
            if (!work(i)) {
                qsizetype lowest = failed.load();
                while (i < lowest && !failed.compare_exchange_weak(lowest, i)) {
                }
            }
        }
    };
    QList<QFuture<void>> helpers;
    for (int t = 1; t < threads; ++t)
        helpers.append(QtConcurrent::run(&pool, run));
    run();
    // A helper that has not started yet is run here by waitForFinished().
    for (QFuture<void> &helper : helpers)
        helper.waitForFinished();
    return failed.load();
}

/// Like forEachConcurrently(), but every call is made: true when all succeeded.
bool forAllConcurrently(qsizetype count, const std::function<bool(qsizetype)> &work)
{
    std::atomic<bool> ok{true};
    forEachConcurrently(count, [&](qsizetype i) {
        if (!work(i))
            ok = false;
        return true;
    });
    return ok.load();
}

bool removeFile(const QString &path)
{
    if (QFile::remove(path))
        return true;
    // A read-only file cannot be removed on every system: made writable first.
    const QFile::Permissions permissions = QFile::permissions(path);
    return !(permissions & QFile::WriteUser) && QFile::setPermissions(path, permissions | QFile::WriteUser)
        && QFile::remove(path);
}

/// Removes a folder with everything in it: the files first (on several
/// threads), then the folders, deepest first. Links are removed, never
/// followed.
bool removeTree(const QString &path)
{
    QStringList files;
    QList<QStringList> foldersByDepth;
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString entry = it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isDir() && !info.isSymLink()) {
            const qsizetype depth = entry.count(QLatin1Char('/'));
            while (foldersByDepth.size() <= depth)
                foldersByDepth.append(QStringList());
            foldersByDepth[depth] << entry;
        } else {
            files << entry;
        }
    }
    bool ok = forAllConcurrently(files.size(), [&](qsizetype i) { return removeFile(files.at(i)); });
    for (auto level = foldersByDepth.crbegin(); level != foldersByDepth.crend(); ++level) {
        const QStringList &folders = *level;
        ok = forAllConcurrently(folders.size(), [&](qsizetype i) { return QDir().rmdir(folders.at(i)); }) && ok;
    }
    return QDir().rmdir(path) && ok;
}

bool removePath(const QString &path)
{
    Platform::faultPoint();
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        return removeTree(path);
    return !exists(path) || removeFile(path);
}

/// Size and CRC-32 of a file, read from the device when fromDevice is set.
bool checksum(const QString &path, bool fromDevice, quint64 *size, quint32 *crc)
{
    uLong sum = crc32(0L, Z_NULL, 0);
    quint64 total = 0;
    const auto add = [&](const char *data, qint64 length) {
        sum = crc32_z(sum, reinterpret_cast<const Bytef *>(data), size_t(length));
        total += quint64(length);
        return true;
    };
    bool ok = false;
    if (fromDevice) {
        ok = Platform::readFromDevice(path, add);
    } else {
        // One buffer for the whole file, small enough to come from the heap:
        // a fresh block per chunk would be mapped and zeroed each time.
        QFile file(path);
        ok = file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        constexpr qint64 Chunk = 256 * 1024;
        std::unique_ptr<char[]> buffer;
        if (ok)
            buffer.reset(new char[Chunk]);
        while (ok) {
            const qint64 got = file.read(buffer.get(), Chunk);
            if (got <= 0) {
                ok = got == 0 && file.error() == QFileDevice::NoError;
                break;
            }
            add(buffer.get(), got);
        }
    }
    *size = total;
    *crc = quint32(sum);
    return ok;
}

/// True when the file at path has the size and, when known, the CRC-32 given.
bool matches(const QString &path, quint64 size, quint32 crc, bool crcKnown = true)
{
    const QFileInfo info(path);
    if (!info.isFile() || quint64(info.size()) != size)
        return false;
    if (!crcKnown)
        return true;
    quint64 readSize = 0;
    quint32 readCrc = 0;
    return checksum(path, false, &readSize, &readCrc) && readSize == size && readCrc == crc;
}

bool usablePath(const QString &path)
{
    return !path.contains(QLatin1Char('\t')) && !path.contains(QLatin1Char('\n'))
        && !path.contains(QLatin1Char('\r'));
}

QByteArray withCheck(QByteArray text)
{
    return text + "check\t"
        + QByteArray::number(quint32(crc32(0L, reinterpret_cast<const Bytef *>(text.constData()), uInt(text.size()))),
                             16)
        + '\n';
}

QByteArray journalText(const Side &side, const QString &state)
{
    QByteArray text = journalHeader + '\n';
    text += "state\t" + state.toUtf8() + '\n';
    text += "id\t" + side.id.toUtf8() + '\n';
    text += "side\t" + QByteArray::number(side.number) + '\n';
    for (const QString &folder : side.createdFolders)
        text += "folder\t" + folder.toUtf8() + '\n';
    for (const Move &move : side.moves) {
        text += "move\t" + QByteArray(move.hadTarget ? "1" : "0") + '\t' + QByteArray::number(move.size) + '\t'
            + QByteArray::number(move.crc, 16) + '\t' + move.staged.toUtf8() + '\t' + move.target.toUtf8() + '\t'
            + move.backup.toUtf8() + '\t' + move.label.toUtf8() + '\t' + QByteArray::number(move.oldSize) + '\t'
            + (move.oldCrcKnown ? QByteArray::number(move.oldCrc, 16) : QByteArray("-")) + '\n';
    }
    // A journal damaged on the device must not be taken for a good one.
    return withCheck(text);
}

/// Writes text to folder + name beside itself (under tempName), flushes it
/// and renames it into place: the file on the device is always either the
/// old or the new one whole.
bool writeWhole(const QString &folder, const QString &name, const QString &tempName, const QByteArray &text)
{
    Platform::faultPoint();
    if (!QDir().mkpath(folder))
        return false;
    const QString temp = folder + tempName;
    {
        QFile file(temp);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        if (file.write(text) != text.size() || !file.flush())
            return false;
        file.close();
        if (file.error() != QFileDevice::NoError)
            return false;
    }
    if (!Platform::flushFile(temp) || !rename(temp, folder + name))
        return false;
    Platform::flushFolder(folder);
    return true;
}

bool writeJournalFile(const Side &side, const QString &state)
{
    return writeWhole(side.state, journalName, journalTemp, journalText(side, state));
}

/// The body of a file written by withCheck(): empty when the file is
/// missing, cut short, damaged or does not begin with one of headers.
QByteArray checkedBody(const QString &path, const QList<QByteArray> &headers)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray text = file.readAll();
    const qsizetype checkAt = text.lastIndexOf("check\t");
    const bool known = std::any_of(headers.cbegin(), headers.cend(),
                                   [&text](const QByteArray &header) { return text.startsWith(header + '\n'); });
    if (!known || checkAt < 0 || !text.endsWith('\n'))
        return QByteArray();
    const QByteArray body = text.left(checkAt);
    bool ok = false;
    const quint32 stored = text.mid(checkAt + 6).trimmed().toUInt(&ok, 16);
    if (!ok || stored != quint32(crc32(0L, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size()))))
        return QByteArray();
    return body;
}

/// Reads a journal; false when it is missing, cut short or damaged.
bool readJournalFile(const QString &path, Side *side, QString *state)
{
    const QByteArray body = checkedBody(path, { journalHeader, journalHeaderV1 });
    if (body.isEmpty())
        return false;
    const bool current = body.startsWith(journalHeader + '\n');
    const QList<QByteArray> lines = body.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).split('\t');
        const QByteArray &kind = fields.at(0);
        if (kind == "state" && fields.size() == 2) {
            *state = QString::fromUtf8(fields.at(1));
        } else if (current && kind == "id" && fields.size() == 2) {
            side->id = QString::fromUtf8(fields.at(1));
        } else if (current && kind == "side" && fields.size() == 2) {
            side->number = fields.at(1).toInt();
        } else if (kind == "folder" && fields.size() == 2) {
            side->createdFolders << QString::fromUtf8(fields.at(1));
        } else if (kind == "move" && fields.size() == (current ? 10 : 8)) {
            Move move;
            move.hadTarget = fields.at(1) == "1";
            move.size = fields.at(2).toULongLong();
            move.crc = fields.at(3).toUInt(nullptr, 16);
            move.staged = QString::fromUtf8(fields.at(4));
            move.target = QString::fromUtf8(fields.at(5));
            move.backup = QString::fromUtf8(fields.at(6));
            move.label = QString::fromUtf8(fields.at(7));
            if (current) {
                move.oldSize = fields.at(8).toULongLong();
                move.oldCrc = fields.at(9).toUInt(&move.oldCrcKnown, 16);
            }
            side->moves << move;
        } else if (!lines.at(i).isEmpty()) {
            return false;
        }
    }
    return !state->isEmpty() && (!current || !side->id.isEmpty());
}

/// The journal of a state folder: under its own name, or, when that is
/// missing or damaged, a whole one still under its temporary name (written
/// and flushed, the rename into place cut short).
bool readJournal(const QString &stateFolder, Side *side, QString *state)
{
    for (const QString &name : { journalName, journalTemp }) {
        Side read = *side;
        QString readState;
        if (readJournalFile(stateFolder + name, &read, &readState)) {
            *side = read;
            *state = readState;
            return true;
        }
    }
    return false;
}

/// The decision record: for every committed transaction whose sides are not
/// all finished, one (id, side number) pair per side still to finish.
using Decisions = QList<QPair<QString, int>>;

Decisions readDecisions(const QString &path)
{
    const QString folder = parentOf(path) + QLatin1Char('/');
    const QString name = path.mid(folder.size());
    for (const QString &file : { name, name + QStringLiteral(".tmp") }) {
        const QByteArray body = checkedBody(folder + file, { decisionsHeader });
        if (body.isEmpty())
            continue;
        Decisions decisions;
        const QList<QByteArray> lines = body.split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QList<QByteArray> fields = lines.at(i).split('\t');
            if (fields.size() == 3 && fields.at(0) == "commit")
                decisions.append({ QString::fromUtf8(fields.at(1)), fields.at(2).toInt() });
        }
        return decisions;
    }
    return {};
}

/// Writes the record whole; removes it when nothing is left in it.
bool writeDecisions(const QString &path, const Decisions &decisions)
{
    const QString folder = parentOf(path) + QLatin1Char('/');
    const QString name = path.mid(folder.size());
    if (decisions.isEmpty()) {
        Platform::faultPoint();
        const bool ok = (!exists(path) || QFile::remove(path))
            && (!exists(path + QStringLiteral(".tmp")) || QFile::remove(path + QStringLiteral(".tmp")));
        Platform::flushFolder(folder);
        QDir().rmdir(folder); // only when empty
        return ok;
    }
    QByteArray text = decisionsHeader + '\n';
    for (const auto &decision : decisions)
        text += "commit\t" + decision.first.toUtf8() + '\t' + QByteArray::number(decision.second) + '\n';
    return writeWhole(folder, name, name + QStringLiteral(".tmp"), withCheck(text));
}

/// Takes the pairs of id (of one side, or all when side is negative) out of
/// the record. True when none is left there.
bool forgetDecision(const QString &path, const QString &id, int side)
{
    Decisions decisions = readDecisions(path);
    const qsizetype before = decisions.size();
    decisions.removeIf([&](const QPair<QString, int> &d) { return d.first == id && (side < 0 || d.second == side); });
    return decisions.size() == before || writeDecisions(path, decisions);
}

/// The new file takes the read-only, hidden and system attributes of the
/// file it replaced (set aside at backup). A file system that cannot keep
/// them does not stop the installation.
void keepAttributes(const QString &backup, const QString &target)
{
    const std::optional<quint32> attributes = Platform::fileAttributes(backup);
    if (attributes && !Platform::setFileAttributes(target, *attributes))
        qCWarning(lcInstall).noquote() << "attributes not kept:" << target;
}

/// One move forward; safe to repeat after an interruption at any point.
bool moveForward(const Side &side, const Move &move)
{
    const QString staged = side.state + move.staged;
    const QString target = side.root + move.target;
    const QString backup = side.state + move.backup;
    if (!exists(staged)) {
        // Made before the interruption, or the staged file was lost (an
        // antivirus, a disk check): only the new file itself at target tells.
        if (!matches(target, move.size, move.crc)) {
            qCWarning(lcInstall).noquote() << "neither staged nor in place:" << target;
            return false;
        }
        if (move.hadTarget && exists(backup))
            keepAttributes(backup, target); // made before the interruption
        return true;
    }
    if (move.hadTarget && exists(target) && !exists(backup) && !renameNew(target, backup))
        return false;
    if (!renameNew(staged, target))
        return false;
    if (move.hadTarget && exists(backup))
        keepAttributes(backup, target);
    return true;
}

/// One move undone; safe to repeat after an interruption at any point.
bool moveBack(const Side &side, const Move &move)
{
    const QString staged = side.state + move.staged;
    const QString target = side.root + move.target;
    const QString backup = side.state + move.backup;
    if (move.hadTarget) {
        if (!exists(backup)) {
            // Never set aside or already put back: the old file is at target
            // (a journal of an earlier version does not know it).
            if (side.id.isEmpty() || matches(target, move.oldSize, move.oldCrc, move.oldCrcKnown))
                return true;
            qCWarning(lcInstall).noquote() << "the replaced file is neither set aside nor in place:" << target;
            return false;
        }
        // The new file goes back into the staging first, so that the old one
        // is renamed onto a free name: renaming over a file frees its blocks
        // inside the rename, which on some systems holds a lock of the whole
        // volume while the device is told; the clean-up's removal does not.
        if (exists(target) && !exists(staged) && !renameNew(target, staged))
            return false;
        return renameNew(backup, target);
    }
    // A new file: it is there only when the move was made. What lies there
    // otherwise is not the installation's to remove.
    if (!exists(staged) && exists(target)) {
        if (matches(target, move.size, move.crc))
            return removePath(target);
        qCWarning(lcInstall).noquote() << "not the installed file, left alone:" << target;
        return false;
    }
    return true;
}

/// Every move of the side undone. The moves are independent of each other
/// (one per target), so they run several at once: putting an old file back
/// over the new one frees the new one's blocks, which may wait for the device.
bool undoMoves(const Side &side)
{
    return forAllConcurrently(side.moves.size(), [&side](qsizetype i) { return moveBack(side, side.moves.at(i)); });
}

bool createFolders(const Side &side)
{
    for (const QString &folder : side.createdFolders) {
        if (!QFileInfo(side.root + folder).isDir() && !QDir().mkpath(side.root + folder))
            return false;
    }
    return true;
}

void removeCreatedFolders(const Side &side)
{
    for (auto it = side.createdFolders.crbegin(); it != side.createdFolders.crend(); ++it)
        QDir().rmdir(side.root + *it); // only when empty: nothing of anyone else is lost
}

/// Removes the journal first (under both its names), then everything else
/// of the transaction in the state folder: what was set aside goes only
/// after the journal that names it, and an interrupted clean-up finds no
/// journal and goes on.
bool cleanUp(const QString &stateFolder, const QStringList &keep)
{
    // The set-aside files first leave their folder's name in one step: a
    // backup folder without a journal then always means a lost journal.
    const QString discarded = stateFolder + QStringLiteral("discarded");
    if (exists(stateFolder + backupFolder)
        && (!removePath(discarded) || !renameNew(stateFolder + backupFolder, discarded)))
        return false;
    if (!removePath(stateFolder + journalTemp) || !removePath(stateFolder + journalName))
        return false;
    Platform::flushFolder(stateFolder);
    bool ok = true;
    QDir state(stateFolder);
    const QStringList entries
        = state.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (!keep.contains(entry) && !alwaysKept.contains(entry))
            ok = removePath(state.filePath(entry)) && ok;
    }
    if (state.isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        QDir().rmdir(stateFolder);
    return ok;
}

/// A journal that cannot be read: what was set aside goes back to where it
/// came from (backups mirror the paths below the root).
bool restoreBackups(const QString &root, const QString &stateFolder)
{
    const QString base = stateFolder + backupFolder;
    QDirIterator it(base, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    QStringList files;
    while (it.hasNext())
        files << it.next();
    return forAllConcurrently(files.size(),
                              [&](qsizetype i) { return rename(files.at(i), root + files.at(i).mid(base.size())); });
}

/// Finds the names under a root as a case-insensitive file system (FAT,
/// Windows) would: a path whose components exist with another case is
/// spelled as they are, so that an existing file is replaced rather than
/// joined by a second one. The folders listed are remembered.
class CaseInsensitiveNames
{
public:
    explicit CaseInsensitiveNames(const QString &root)
        : m_root(root)
    {
    }

    QString existingSpelling(const QString &relative)
    {
        // Looked up even when the path exists as written: on Windows it
        // does whatever its case, and a move would rename the file.
        if (relative.isEmpty())
            return relative;
        const qsizetype slash = relative.lastIndexOf(QLatin1Char('/'));
        const QString parent = slash < 0 ? QString() : folderSpelling(relative.left(slash));
        const QString name = relative.mid(slash + 1);
        const QString prefix = parent.isEmpty() ? QString() : parent + QLatin1Char('/');
        return prefix + listing(prefix).value(name.toCaseFolded(), name);
    }

private:
    QString folderSpelling(const QString &folder)
    {
        auto found = m_folders.constFind(folder);
        if (found == m_folders.cend())
            found = m_folders.insert(folder, existingSpelling(folder));
        return *found;
    }

    const QHash<QString, QString> &listing(const QString &folder)
    {
        auto found = m_listings.find(folder);
        if (found == m_listings.end()) {
            QHash<QString, QString> names;
            const QStringList entries = QDir(m_root + folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                                        | QDir::NoDotAndDotDot);
            for (const QString &entry : entries)
                names.insert(entry.toCaseFolded(), entry);
            found = m_listings.insert(folder, names);
        }
        return *found;
    }

    QString m_root;
    QHash<QString, QString> m_folders;
    QHash<QString, QHash<QString, QString>> m_listings;
};

/// The absolute, clean form of a folder, ending with "/".
QString folderPath(const QString &folder)
{
    QString path = QDir::cleanPath(QDir(folder).absolutePath());
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

} // namespace

int InstallTransaction::addSide(const QString &root, const QString &stateFolder)
{
    Side side;
    side.root = folderPath(root);
    side.state = folderPath(stateFolder);
    for (int i = 0; i < m_sides.size(); ++i) {
        if (m_sides.at(i).state == side.state)
            return i;
    }
    side.number = int(m_sides.size());
    m_sides << side;
    return side.number;
}

QString InstallTransaction::decisionRecord() const
{
    if (!m_decision.isEmpty())
        return m_decision;
    return m_sides.isEmpty() ? QString() : m_sides.first().state + decisionsName;
}

bool InstallTransaction::addMove(Side &side, Move move)
{
    if (!usablePath(move.target) || !usablePath(move.label))
        return false;
    move.backup = backupFolder + move.target;
    // Names that differ only in case are one file on the card and on Windows.
    const QString key = move.target.toCaseFolded();
    const auto found = side.byTarget.constFind(key);
    if (found != side.byTarget.cend()) {
        // A later entry or archive of the run replaces the file an earlier one brought.
        Move &earlier = side.moves[*found];
        earlier.target = move.target;
        earlier.backup = move.backup;
        earlier.staged = move.staged;
        earlier.size = move.size;
        earlier.crc = move.crc;
        earlier.label = move.label;
        return true;
    }
    side.byTarget.insert(key, int(side.moves.size()));
    side.moves << move;
    return true;
}

bool InstallTransaction::stageArchive(int sideIndex, const QString &archive, const QString &targetFolder,
                                      const QString &label, QZipFileNotificationInterface *notifier)
{
    m_failedLabel = label;
    Side &side = m_sides[sideIndex];
    bool ok = false;
    const QList<TZipFile::EntryInfo> entries = TZipFile::Entries(archive, true, &ok);
    if (!ok)
        return false;
    // Nothing may stand in the way of a move: a folder where a file goes, a
    // file where a folder goes (a folder is never removed by an installation).
    for (const TZipFile::EntryInfo &entry : entries) {
        const QString target = targetFolder + entry.path;
        const QFileInfo existing(side.root + target);
        if (existing.exists() && existing.isDir() != entry.folder) {
            qCWarning(lcInstall).noquote() << "in the way of the installation:" << side.root + target;
            return false;
        }
        for (QString parent = parentOf(target); !parent.isEmpty(); parent = parentOf(parent)) {
            const QFileInfo folder(side.root + parent);
            if (folder.exists() && !folder.isDir())
                return false;
        }
    }
    Platform::faultPoint();
    const QString stage = stageFolder + QString::number(++side.stages) + QLatin1Char('/');
    if (!TZipFile::UnzipArchive(archive, side.state + stage + targetFolder, true, QString(), notifier))
        return false;
    for (const TZipFile::EntryInfo &entry : entries) {
        const QString target = targetFolder + entry.path;
        if (entry.folder) {
            if (!side.folders.contains(target))
                side.folders << target;
            continue;
        }
        Move move;
        move.staged = stage + target;
        move.target = target;
        move.size = entry.size;
        move.crc = entry.crc;
        move.label = label;
        if (!addMove(side, move))
            return false;
    }
    return true;
}

QString InstallTransaction::prepareFile(int sideIndex, const QString &target, bool copyCurrent)
{
    const Side &side = m_sides.at(sideIndex);
    const QString staged = side.state + stageFolder + QStringLiteral("files/") + target;
    Platform::faultPoint();
    QFile::remove(staged);
    if (!makeParent(staged))
        return QString();
    if (copyCurrent && QFileInfo(side.root + target).isFile()
        && (!QFile::copy(side.root + target, staged) || !Platform::makeWritable(staged)))
        return QString();
    return staged;
}

bool InstallTransaction::stageFile(int sideIndex, const QString &target, const QString &label)
{
    m_failedLabel = label;
    Side &side = m_sides[sideIndex];
    Move move;
    move.staged = stageFolder + QStringLiteral("files/") + target;
    move.target = target;
    move.label = label;
    if (QFileInfo(side.root + target).isDir() || !checksum(side.state + move.staged, false, &move.size, &move.crc))
        return false;
    return addMove(side, move);
}

bool InstallTransaction::verify()
{
    for (const Side &side : std::as_const(m_sides)) {
        // Each file waits for its device twice (the flush, the read): several
        // at once keep the device busy. The failure named is the first in
        // the order of the moves.
        const qsizetype failed = forEachConcurrently(side.moves.size(), [&side](qsizetype i) {
            const Move &move = side.moves.at(i);
            const QString staged = side.state + move.staged;
            quint64 size = 0;
            quint32 crc = 0;
            if (Platform::flushFile(staged) && checksum(staged, true, &size, &crc) && size == move.size
                && crc == move.crc)
                return true;
            qCWarning(lcInstall).noquote() << "staged file reads back wrong:" << staged << size << move.size
                                           << Qt::hex << crc << move.crc;
            return false;
        });
        if (failed < side.moves.size()) {
            m_failedLabel = side.moves.at(failed).label;
            m_failedRoot = side.root;
            return false;
        }
    }
    return true;
}

bool InstallTransaction::writeJournal()
{
    if (m_id.isEmpty())
        m_id = QUuid::createUuid().toString(QUuid::Id128);
    for (Side &side : m_sides) {
        side.id = m_id;
        // The folders the commit will create, parents first.
        QSet<QString> missing;
        CaseInsensitiveNames names(side.root);
        for (QString &folder : side.folders)
            folder = names.existingSpelling(folder);
        QStringList wanted = side.folders;
        for (Move &move : side.moves) {
            const QString spelled = names.existingSpelling(move.target);
            if (spelled != move.target) {
                move.target = spelled;
                move.backup = backupFolder + spelled;
            }
            move.hadTarget = exists(side.root + move.target);
            wanted << parentOf(move.target);
        }
        // What each move replaces, so that an undo can tell the old file
        // from anything else. A file that cannot be read is known by size.
        forAllConcurrently(side.moves.size(), [&side](qsizetype i) {
            Move &move = side.moves[i];
            if (!move.hadTarget)
                return true;
            move.oldSize = quint64(QFileInfo(side.root + move.target).size());
            quint64 size = 0;
            move.oldCrcKnown = checksum(side.root + move.target, false, &size, &move.oldCrc) && size == move.oldSize;
            return true;
        });
        for (const QString &folder : std::as_const(wanted)) {
            for (QString f = folder; !f.isEmpty(); f = parentOf(f)) {
                if (!QFileInfo(side.root + f).isDir())
                    missing.insert(f);
            }
        }
        side.createdFolders = QStringList(missing.cbegin(), missing.cend());
        std::sort(side.createdFolders.begin(), side.createdFolders.end(), [](const QString &a, const QString &b) {
            const qsizetype da = a.count(QLatin1Char('/'));
            const qsizetype db = b.count(QLatin1Char('/'));
            return da != db ? da < db : a < b;
        });
        if (!writeJournalFile(side, QStringLiteral("verified")))
            return false;
        side.journaled = true;
    }
    return true;
}

bool InstallTransaction::beginCommit()
{
    if (m_id.isEmpty())
        return false;
    // The one write that decides for every side: from here a recovery
    // completes them all.
    Decisions decisions = readDecisions(decisionRecord());
    for (const Side &side : std::as_const(m_sides)) {
        if (!side.journaled)
            return false;
        decisions.append({ m_id, side.number });
    }
    if (!writeDecisions(decisionRecord(), decisions))
        return false;
    m_decided = true;
    return true;
}

bool InstallTransaction::moveAll()
{
    for (const Side &side : std::as_const(m_sides)) {
        if (!createFolders(side))
            return false;
        for (const Move &move : side.moves) {
            if (!moveForward(side, move)) {
                m_failedLabel = move.label;
                return false;
            }
        }
    }
    return true;
}

bool InstallTransaction::finishCommit()
{
    // A side marked done is finished whatever the record says; the record
    // forgets only those, so a side that could not be marked (a card pulled
    // out) is still completed when it comes back.
    QList<bool> done;
    bool ok = true;
    for (const Side &side : std::as_const(m_sides)) {
        done << writeJournalFile(side, QStringLiteral("done"));
        ok = done.last() && ok;
    }
    if (ok) {
        ok = forgetDecision(decisionRecord(), m_id, -1);
    } else {
        for (int i = 0; i < m_sides.size(); ++i) {
            if (done.at(i))
                forgetDecision(decisionRecord(), m_id, m_sides.at(i).number);
        }
    }
    m_decided = false;
    for (int i = 0; i < m_sides.size(); ++i) {
        if (done.at(i))
            ok = cleanUp(m_sides.at(i).state, {}) && ok;
    }
    return ok;
}

bool InstallTransaction::commit()
{
    for (const Side &side : std::as_const(m_sides)) {
        if (!side.journaled)
            return false;
    }
    if (!beginCommit() || !moveAll()) {
        rollback();
        return false;
    }
    // The new files are in place; a failed clean-up leaves only what the
    // next start removes.
    finishCommit();
    return true;
}

bool InstallTransaction::abandonCommit()
{
    if (!m_decided)
        return true;
    if (!forgetDecision(decisionRecord(), m_id, -1))
        return false;
    m_decided = false;
    return true;
}

bool InstallTransaction::rollback()
{
    // While the record still holds the decision, the moves must not be
    // undone: the next recovery completes them instead.
    if (!abandonCommit())
        return false;
    bool ok = true;
    for (auto side = m_sides.crbegin(); side != m_sides.crend(); ++side) {
        // Before its journal a side has made no move (and knows no old files).
        if (!side->journaled)
            continue;
        ok = undoMoves(*side) && ok;
        removeCreatedFolders(*side);
    }
    // Set-aside files that could not go back stay for the next start.
    if (!ok)
        return false;
    for (const Side &side : std::as_const(m_sides))
        ok = cleanUp(side.state, {}) && ok;
    return ok;
}

int InstallTransaction::fileCount() const
{
    int count = 0;
    for (const Side &side : m_sides)
        count += int(side.moves.size());
    return count;
}

bool InstallTransaction::inFlight(const QString &stateFolder)
{
    const QString state = folderPath(stateFolder);
    return exists(state + journalName) || exists(state + journalTemp);
}

InstallTransaction::Recovery InstallTransaction::recover(const QString &root, const QString &stateFolder,
                                                         const QStringList &keep, const QString &decisionRecord)
{
    Side side;
    side.root = folderPath(root);
    side.state = folderPath(stateFolder);
    const QString decisions = decisionRecord.isEmpty() ? side.state + decisionsName : decisionRecord;
    QDir state(side.state);
    if (!state.exists())
        return Recovery::Nothing;
    QStringList entries
        = state.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &kept : keep + alwaysKept)
        entries.removeAll(kept);
    if (entries.isEmpty()) {
        QDir().rmdir(side.state);
        return Recovery::Nothing;
    }

    QString journalState;
    const bool hasJournal = inFlight(side.state);
    const bool readable = hasJournal && readJournal(side.state, &side, &journalState);
    bool committed = false;
    if (readable && side.id.isEmpty()) {
        // A journal of an earlier version: its own state decides.
        committed = journalState == QLatin1String("committing") || journalState == QLatin1String("done");
    } else if (readable) {
        // A side marked done had made every move; any other is completed only
        // when the decision record holds its transaction.
        committed = journalState == QLatin1String("done")
            || readDecisions(decisions).contains(qMakePair(side.id, side.number));
    }
    qCDebug(lcInstall).noquote() << "installation in flight in" << side.state << "journal:"
                                 << (hasJournal ? (readable ? journalState : QStringLiteral("damaged"))
                                                : QStringLiteral("none"))
                                 << side.id << (committed ? "committed" : "not committed");
    bool ok = true;
    Recovery outcome = Recovery::Undone;
    if (committed) {
        // Every file was verified before the commit began: it is finished.
        ok = createFolders(side);
        for (const Move &move : std::as_const(side.moves))
            ok = ok && moveForward(side, move);
        outcome = Recovery::Completed;
        // Marked done before the record forgets the side: a recovery cut
        // short in between still knows to complete it.
        if (ok && !side.id.isEmpty()) {
            ok = (journalState == QLatin1String("done") || writeJournalFile(side, QStringLiteral("done")))
                && forgetDecision(decisions, side.id, side.number);
        }
    } else if (readable) {
        ok = undoMoves(side);
        removeCreatedFolders(side);
    } else if (hasJournal) {
        ok = restoreBackups(side.root, side.state);
    } else if (exists(side.state + backupFolder)) {
        // Files were set aside, yet no journal says which or why: nothing
        // here can tell what belongs where, so nothing is touched.
        qCWarning(lcInstall).noquote() << "files set aside without a journal in" << side.state;
        return Recovery::Failed;
    }
    // Without a journal nothing below the root was touched yet: the staging goes.
    if (!ok)
        return Recovery::Failed;
    if (!cleanUp(side.state, keep))
        return Recovery::Failed;
    return outcome;
}
