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
/// One decision record decides for every side at once: every journal carries
/// the transaction's id, and the commit begins when that id is written to the
/// decision record (by default "decisions" in the first side's state folder).
/// rollback() undoes it at any point before the commit is done (a failure,
/// a cancel); after the decision it first takes the id out of the record.
/// recover() finishes or undoes what a killed process left: a side whose id
/// the decision record holds is completed, any other undone. Every step of
/// recover() can itself be interrupted and run again. A file taken as already
/// moved or already restored counts only when its size and CRC-32 are those
/// the journal expects.
class InstallTransaction
{
public:
    /// Adds a side; root and stateFolder end with "/". Returns its number.
    int addSide(const QString &root, const QString &stateFolder);
    /// The file that holds the ids of the committed transactions; every side
    /// of this transaction and every recovery of its sides must use the same.
    void setDecisionRecord(const QString &path) { m_decision = path; }

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

    /// Writes the journal of every side (state "verified"), with the size and
    /// CRC-32 of every file a move replaces.
    bool writeJournal();
    /// The id goes to the decision record, every move is made, then the
    /// journals and what was set aside are removed and the id taken out of
    /// the record. On a failure of a move the moves already made are undone
    /// (rollback()) and false returned.
    bool commit();
    /// The three parts of commit(), for callers that measure them.
    bool beginCommit();
    bool moveAll();
    bool finishCommit();

    /// Undoes every move made so far and removes the staging, journals and
    /// anything set aside; usable at every point before finishCommit().
    bool rollback();
    /// The id leaves the decision record: a recovery then undoes the moves.
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
    /// is removed when nothing else remains in it. decisionRecord is the
    /// record the transaction used (default: "decisions" in stateFolder).
    static Recovery recover(const QString &root, const QString &stateFolder, const QStringList &keep = {},
                            const QString &decisionRecord = QString());
    /// True when stateFolder holds a journal (whole or still under its
    /// temporary name): an installation is in flight on that volume.
    static bool inFlight(const QString &stateFolder);

    struct Move
    {
        QString staged; // relative to the state folder
        QString target; // relative to the root
        QString backup; // relative to the state folder
        bool hadTarget = false;
        quint64 size = 0;
        quint32 crc = 0;
        quint64 oldSize = 0; // of the file replaced
        quint32 oldCrc = 0;
        bool oldCrcKnown = false; // false when the replaced file could not be read
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
        int number = 0; // of the side in its transaction
        bool journaled = false;
        QString id; // the transaction's, from the journal
    };

private:
    bool addMove(Side &side, Move move);
    QString decisionRecord() const;

    QList<Side> m_sides;
    QString m_failedLabel;
    QString m_failedRoot;
    QString m_decision;
    QString m_id;
    bool m_decided = false;
};
