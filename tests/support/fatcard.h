#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

/// A FAT32 memory card for the tests: a sparse image made with
/// "mkfs.fat -F32 -s64" (32 KiB clusters, as SD cards come), mounted
/// read-write through the FUSE driver "fusefat" running as a child process,
/// and unmounted when the object goes (or by unmount(), as a card pulled out).
class FatCard
{
public:
    static constexpr qint64 clusterBytes = 32 * 1024;

    FatCard();
    ~FatCard();
    FatCard(const FatCard &) = delete;
    FatCard &operator=(const FatCard &) = delete;

    /// Why the fixture cannot run here (no /dev/fuse, a tool missing); empty
    /// when it can.
    static QString unavailableReason();

    /// Creates a fresh image and mounts it on mountPoint (created when
    /// missing, must be empty). With freeClusters >= 0 the card offers only
    /// that many free clusters: the others are marked bad. False with
    /// error() set when it fails.
    bool mount(const QString &mountPoint, qint64 freeClusters = -1);
    /// Unmounts the card; the image stays and can be mounted again.
    bool unmount();
    /// Mounts the same image again on the same mount point.
    bool remount();

    /// The card pulled out of its reader: detached at once, even while files
    /// are open, and its mount point replaced by a file, so that nothing can
    /// be created there any more. Safe to call from any thread.
    void pull();
    /// The pulled card put back: the same image mounted again.
    bool reinsert();

    bool isMounted() const { return m_process != nullptr; }
    QString mountPoint() const { return m_mountPoint; }
    QString error() const { return m_error; }

private:
    bool makeImage(qint64 freeClusters);
    bool start();

    QTemporaryDir m_dir;
    QString m_image;
    QString m_mountPoint;
    QString m_error;
    std::unique_ptr<QProcess> m_process;
};
