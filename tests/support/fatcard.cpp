#include "support/fatcard.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <sys/stat.h>

namespace {

// Large enough that the FUSE driver reports free space at all, small enough
// for a quick mkfs; below 65,535 clusters, where the driver's mkdir fails.
constexpr qint64 imageBytes = qint64(1) << 30;

quint32 le32(const QByteArray &bytes, qsizetype at)
{
    return quint32(quint8(bytes.at(at))) | quint32(quint8(bytes.at(at + 1))) << 8
        | quint32(quint8(bytes.at(at + 2))) << 16 | quint32(quint8(bytes.at(at + 3))) << 24;
}

quint16 le16(const QByteArray &bytes, qsizetype at)
{
    return quint16(quint8(bytes.at(at)) | quint8(bytes.at(at + 1)) << 8);
}

/// Leaves only `free` clusters free: every cluster after them is marked bad
/// in both FATs, and the FSInfo sector's free count (which the FUSE driver
/// reports) set to match.
bool limitFreeClusters(const QString &image, quint32 free)
{
    QFile file(image);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const QByteArray boot = file.read(512);
    if (boot.size() != 512)
        return false;
    const quint32 bytesPerSector = le16(boot, 11);
    const quint32 sectorsPerCluster = quint8(boot.at(13));
    const quint32 reserved = le16(boot, 14);
    const quint32 fats = quint8(boot.at(16));
    const quint32 totalSectors = le32(boot, 32);
    const quint32 fatSectors = le32(boot, 36);
    const quint32 infoSector = le16(boot, 48);
    if (bytesPerSector == 0 || sectorsPerCluster == 0)
        return false;
    const quint32 clusters = (totalSectors - reserved - fats * fatSectors) / sectorsPerCluster;
    for (quint32 f = 0; f < fats; ++f) {
        const qint64 fatStart = (qint64(reserved) + qint64(f) * fatSectors) * bytesPerSector;
        if (!file.seek(fatStart))
            return false;
        QByteArray fat = file.read(qint64(clusters + 2) * 4);
        if (fat.size() != qint64(clusters + 2) * 4)
            return false;
        quint32 seen = 0;
        for (quint32 c = 2; c < clusters + 2; ++c) {
            const qsizetype at = qsizetype(c) * 4;
            if ((le32(fat, at) & 0x0FFFFFFF) != 0 || seen++ < free)
                continue;
            fat[at] = char(0xF7);
            fat[at + 1] = char(0xFF);
            fat[at + 2] = char(0xFF);
            fat[at + 3] = char(0x0F);
        }
        if (!file.seek(fatStart) || file.write(fat) != fat.size())
            return false;
    }
    const char count[4] = { char(free), char(free >> 8), char(free >> 16), char(free >> 24) };
    return file.seek(qint64(infoSector) * bytesPerSector + 488) && file.write(count, 4) == 4;
}

bool isMountPoint(const QString &path)
{
    struct stat self {};
    struct stat parent {};
    return ::stat(QFile::encodeName(path).constData(), &self) == 0
        && ::stat(QFile::encodeName(path + QStringLiteral("/..")).constData(), &parent) == 0
        && self.st_dev != parent.st_dev;
}

} // namespace

FatCard::FatCard() = default;

FatCard::~FatCard()
{
    unmount();
}

QString FatCard::unavailableReason()
{
    const QFileInfo fuse(QStringLiteral("/dev/fuse"));
    if (!fuse.exists())
        return QStringLiteral("no /dev/fuse: a FAT32 card image cannot be mounted here");
    if (!fuse.isReadable() || !fuse.isWritable())
        return QStringLiteral("/dev/fuse cannot be opened by this user: a FAT32 card image cannot be mounted here");
    for (const char *tool : { "fusefat", "fusermount", "mkfs.fat" }) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()
            && QStandardPaths::findExecutable(QString::fromLatin1(tool), { QStringLiteral("/sbin"),
                                                                           QStringLiteral("/usr/sbin") })
                   .isEmpty())
            return QStringLiteral("%1 is not installed (scripts/bootstrap installs it)").arg(QLatin1String(tool));
    }
    return QString();
}

bool FatCard::makeImage(qint64 freeClusters)
{
    m_image = m_dir.filePath(QStringLiteral("card.img"));
    QFile image(m_image);
    if (!image.open(QIODevice::WriteOnly | QIODevice::Truncate) || !image.resize(imageBytes)) {
        m_error = QStringLiteral("cannot create the image");
        return false;
    }
    image.close();
    QStringList arguments = { QStringLiteral("-F32"), QStringLiteral("-s64") };
    arguments << m_image;
    QString mkfs = QStandardPaths::findExecutable(QStringLiteral("mkfs.fat"));
    if (mkfs.isEmpty())
        mkfs = QStandardPaths::findExecutable(QStringLiteral("mkfs.fat"), { QStringLiteral("/sbin"), QStringLiteral("/usr/sbin") });
    QProcess format;
    format.setProcessChannelMode(QProcess::MergedChannels);
    format.start(mkfs, arguments);
    if (!format.waitForFinished(60000) || format.exitStatus() != QProcess::NormalExit || format.exitCode() != 0) {
        m_error = QStringLiteral("mkfs.fat failed: ") + QString::fromLocal8Bit(format.readAll());
        return false;
    }
    if (freeClusters >= 0 && !limitFreeClusters(m_image, quint32(freeClusters))) {
        m_error = QStringLiteral("cannot set the free-cluster count");
        return false;
    }
    return true;
}

bool FatCard::start()
{
    m_process = std::make_unique<QProcess>();
    // The driver traces every operation: kept beside the image, not shown.
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(m_dir.filePath(QStringLiteral("fusefat.log")));
    m_process->start(QStringLiteral("fusefat"),
                     { QStringLiteral("-f"), QStringLiteral("-o"), QStringLiteral("rw+"), m_image, m_mountPoint });
    const QDeadlineTimer deadline(20000);
    while (!isMountPoint(m_mountPoint)) {
        if (deadline.hasExpired() || m_process->state() == QProcess::NotRunning) {
            QFile log(m_dir.filePath(QStringLiteral("fusefat.log")));
            log.open(QIODevice::ReadOnly);
            m_error = QStringLiteral("fusefat did not mount the image: ") + QString::fromLocal8Bit(log.read(2000));
            m_process->kill();
            m_process->waitForFinished();
            m_process.reset();
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

bool FatCard::mount(const QString &mountPoint, qint64 freeClusters)
{
    m_error.clear();
    m_mountPoint = QDir::cleanPath(QFileInfo(mountPoint).absoluteFilePath());
    if (!m_dir.isValid() || !QDir().mkpath(m_mountPoint)) {
        m_error = QStringLiteral("no folder for the image or the mount point");
        return false;
    }
    return makeImage(freeClusters) && start();
}

bool FatCard::remount()
{
    return !m_process && !m_image.isEmpty() && start();
}

bool FatCard::unmount()
{
    if (!m_process)
        return true;
    if (!isMountPoint(m_mountPoint)) {
        // Pulled out: the driver ends by itself.
        const bool ended = m_process->state() == QProcess::NotRunning || m_process->waitForFinished(20000);
        m_process.reset();
        return ended;
    }
    // A busy mount (a file still open) is detached at once and goes when freed.
    bool ok = QProcess::execute(QStringLiteral("fusermount"), { QStringLiteral("-u"), m_mountPoint }) == 0;
    if (!ok)
        ok = QProcess::execute(QStringLiteral("fusermount"), { QStringLiteral("-u"), QStringLiteral("-z"), m_mountPoint }) == 0;
    if (m_process->state() != QProcess::NotRunning && !m_process->waitForFinished(20000)) {
        m_process->kill();
        m_process->waitForFinished();
        ok = false;
    }
    m_process.reset();
    return ok;
}

void FatCard::pull()
{
    QProcess::execute(QStringLiteral("fusermount"), { QStringLiteral("-u"), QStringLiteral("-z"), m_mountPoint });
    QDir().rename(m_mountPoint, m_mountPoint + QStringLiteral(".pulled"));
    QFile in(m_mountPoint);
    in.open(QIODevice::WriteOnly);
}

bool FatCard::reinsert()
{
    if (m_process) {
        // The driver ends once the last file open on the detached card is closed.
        if (m_process->state() != QProcess::NotRunning && !m_process->waitForFinished(20000))
            return false;
        m_process.reset();
    }
    return QFile::remove(m_mountPoint) && QDir().rename(m_mountPoint + QStringLiteral(".pulled"), m_mountPoint)
        && start();
}
