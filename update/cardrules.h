#pragma once

#include <QList>
#include <QSet>
#include <QString>

/// What a FAT memory card (and Windows on any volume) accepts as a name, and
/// the room files take on a volume counted as the volume counts it.
namespace CardRules {

/// True when every component of path ("/"-separated, relative) can be stored
/// on a FAT card: none of ":" "*" "?" "\"" "<" ">" "|" "\\" or a control
/// character, no trailing dot or space, and no device name (CON, PRN, AUX,
/// NUL, COM1-COM9, LPT1-LPT9), with or without an extension.
bool storableName(const QString &path);

/// The room an installation takes on one volume while its staging lies
/// beside the files it replaces: every file rounded up to whole clusters,
/// one cluster for every folder in the staging and one for every folder at
/// its place, the state folder and its journals.
class Room
{
public:
    /// A file or folder entry of target (relative to the root) staged for the volume.
    void addFile(const QString &target, quint64 size);
    void addFolder(const QString &target);
    /// One archive's own numbered folder in the staging.
    void addStage() { ++m_stages; }

    /// Bytes needed with clusters of clusterSize bytes (1 when unknown).
    qint64 bytes(qint64 clusterSize) const;

private:
    void addParents(const QString &target);

    QList<quint64> m_sizes;
    QSet<QString> m_folders;
    qint64 m_pathBytes = 0;
    int m_stages = 0;
};

} // namespace CardRules
