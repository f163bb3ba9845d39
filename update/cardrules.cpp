#include "update/cardrules.h"

#include <QStringList>

namespace CardRules {

namespace {

bool storableComponent(const QString &part)
{
    if (part.isEmpty())
        return true; // not a component ("a//b" has none there)
    for (const QChar c : part) {
        if (c.unicode() < 0x20 || QStringLiteral(":*?\"<>|\\").contains(c))
            return false;
    }
    if (part.endsWith(QLatin1Char('.')) || part.endsWith(QLatin1Char(' ')))
        return false;
    // A device name stays one with an extension and with blanks before it.
    const QString base = part.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    static const QStringList devices = { QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"),
                                         QStringLiteral("NUL") };
    if (devices.contains(base))
        return false;
    if (base.size() == 4 && (base.startsWith(QLatin1String("COM")) || base.startsWith(QLatin1String("LPT")))
        && base.at(3) >= QLatin1Char('1') && base.at(3) <= QLatin1Char('9'))
        return false;
    return true;
}

qint64 roundUp(quint64 size, qint64 cluster)
{
    return qint64((size + quint64(cluster) - 1) / quint64(cluster)) * cluster;
}

} // namespace

bool storableName(const QString &path)
{
    const QStringList parts = path.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (!storableComponent(part))
            return false;
    }
    return true;
}

void Room::addParents(const QString &target)
{
    for (qsizetype slash = target.lastIndexOf(QLatin1Char('/')); slash > 0;
         slash = target.lastIndexOf(QLatin1Char('/'), slash - 1))
        m_folders.insert(target.left(slash));
}

void Room::addFile(const QString &target, quint64 size)
{
    m_sizes << size;
    m_pathBytes += target.size();
    addParents(target);
}

void Room::addFolder(const QString &target)
{
    QString folder = target;
    while (folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    if (!folder.isEmpty())
        m_folders.insert(folder);
    addParents(folder);
}

qint64 Room::bytes(qint64 clusterSize) const
{
    const qint64 cluster = clusterSize > 0 ? clusterSize : 1;
    qint64 total = 0;
    for (const quint64 size : m_sizes)
        total += roundUp(size, cluster);
    // Every folder once in the staging and once at its place (or, for one
    // that exists, in the set-aside copy of the commit).
    total += 2 * qint64(m_folders.size()) * cluster;
    // The state folder with its staging, set-aside and numbered folders.
    total += qint64(4 + m_stages) * cluster;
    // The journal and, while it is rewritten, its new copy: a line of about
    // three paths and some numbers for every file.
    const quint64 journal = 256 + quint64(m_pathBytes) * 3 * 3 + quint64(m_sizes.size()) * 64;
    total += 2 * roundUp(journal, cluster);
    return total;
}

} // namespace CardRules
