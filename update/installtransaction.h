#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

class QZipFileNotificationInterface;

/// An installation as one transaction over one or more volumes (the PC
/// installation, the instrument's card, the notifier's folder). Each volume
/// is a side with a root folder and its own state folder (".update_hub") on
/// the same volume. Nothing below a root changes before commit():
///
/// 1. stageArchive() / stageFile(): the new files go into the state folder;
/// 2. verify(): every staged file is flushed and read back from the device;
/// 3. writeJournal(): every move is listed in a journal in the state folder;
/// 4. commit(): each replaced file is moved aside into the state folder and
///    the staged file renamed into its place; the journal is marked done and
///    what was set aside removed.
///
/// rollback() undoes it at any point before the commit is done (a failure,
/// a cancel). recover() finishes or undoes what a killed process left: a
/// commit that had begun is completed, anything else undone. Every step of
/// recover() can itself be interrupted and run again.
class InstallTransaction
{
public:
    /// Adds a side; root and stateFolder end with "/". Returns its number.
    int addSide(const QString &root, const QString &stateFolder);

    /// Extracts archive into the side's staging for targetFolder (relative to
    /// the root, "" or ending with "/"). label names the archive in failures.
    /// False when the archive cannot be extracted or a target is in the way
    /// (a folder where a file goes or the other way round).
    bool stageArchive(int side, const QString &archive, const QString &targetFolder, const QString &label,
                      QZipFileNotificationInterface *notifier = nullptr);

    /// A path in the staging where the caller writes the new content of
    /// target (relative to the root); with copyCurrent the current target is
    /// copied there first. Empty when the staging cannot be prepared.
    QString prepareFile(int side, const QString &target, bool copyCurrent);
    /// Takes the file written at prepareFile()'s path into the transaction.
    bool stageFile(int side, const QString &target, const QString &label);

    /// Reads every staged file back from its device and compares it with
    /// what was meant to be written. False at the first mismatch.
    bool verify();

    /// Writes the journal of every side (state "verified").
    bool writeJournal();
    /// The journals go to "committing", every move is made, the journals go
    /// to "done" and what was set aside is removed. On a failure of a move
    /// the moves already made are undone (rollback()) and false returned.
    bool commit();
    /// The three parts of commit(), for callers that measure them.
    bool beginCommit();
    bool moveAll();
    bool finishCommit();

    /// Undoes every move made so far and removes the staging, journals and
    /// anything set aside; usable at every point before finishCommit().
    bool rollback();
    /// The journals go to "rollback": a recovery then undoes the moves.
    bool abandonCommit();

    /// The label of the archive or file whose staging or verification failed.
    QString failedLabel() const { return m_failedLabel; }
    /// The root of the side whose verification failed (empty before).
    QString failedRoot() const { return m_failedRoot; }
    /// Number of files staged over all sides.
    int fileCount() const;

    enum class Recovery {
        Nothing, // no installation was in flight
        Completed, // an interrupted commit was finished
        Undone, // an installation in flight was undone
        Failed, // the side could not be brought back (read-only, removed, ...)
    };
    /// Brings one side back to a consistent state. Entries of stateFolder
    /// named in keep (another subsystem's) are left alone; the state folder
    /// is removed when nothing else remains in it.
    static Recovery recover(const QString &root, const QString &stateFolder, const QStringList &keep = {});

    struct Move
    {
        QString staged; // relative to the state folder
        QString target; // relative to the root
        QString backup; // relative to the state folder
        bool hadTarget = false;
        quint64 size = 0;
        quint32 crc = 0;
        QString label;
    };

    struct Side
    {
        QString root;
        QString state;
        QList<Move> moves;
        QHash<QString, int> byTarget;
        QStringList folders; // folder entries to create, relative to the root
        QStringList createdFolders; // folders the commit creates, parents first
        int stages = 0;
        bool journaled = false;
    };

private:
    bool addMove(Side &side, Move move);
    bool writeState(const QString &state);

    QList<Side> m_sides;
    QString m_failedLabel;
    QString m_failedRoot;
};
