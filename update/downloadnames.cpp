#include "update/downloadnames.h"

namespace DownloadNames {

QString servicePath(const QString &entry)
{
    const qsizetype colon = entry.indexOf(QLatin1Char(':'));
    return colon < 0 ? entry : entry.left(colon);
}

QString target(const QString &entry)
{
    const qsizetype colon = entry.indexOf(QLatin1Char(':'));
    return colon < 0 ? QString() : entry.mid(colon + 1);
}

LocalName localName(const QString &entry, const QStringList &databaseFolders)
{
    LocalName local;
    const qsizetype colon = entry.indexOf(QLatin1Char(':'));
    if (colon <= 0)
        return local;
    const QString path = entry.left(colon);
    const QString tgt = entry.mid(colon + 1);
    const QString file = path.section(QLatin1Char('/'), -1);
    if (file.isEmpty())
        return local;

    const QStringList fields = entry.split(QLatin1Char('/'));
    auto field = [&fields](int n) { return fields.value(n); };
    const QString pc = QStringLiteral("_pc_");
    const QString under = QStringLiteral("_");

    if (tgt == QLatin1String("varno_pc") || tgt == QLatin1String("varno_palm")) {
        local.name = tgt + under + file;
    } else if (tgt == QLatin1String("easy")) {
        local.name = tgt + under + field(4) + pc + file;
    } else if (tgt == QLatin1String("techdoc") || databaseFolders.contains(tgt) || tgt == QLatin1String("balloon")) {
        local.name = tgt + under + file;
        if (tgt == QLatin1String("balloon"))
            local.kind = QStringLiteral("balloon");
    } else {
        const QString family = field(4);
        const bool vehicleFamily = family == QLatin1String("moto_files") || family == QLatin1String("truck_files");
        const QString prefix = vehicleFamily ? family : QString();
        if (tgt == QLatin1String("adfiles"))
            local.name = prefix + tgt + under + field(vehicleFamily ? 7 : 6) + pc + file;
        else if (tgt == QLatin1String("database"))
            local.name = prefix + tgt + under + file;
        else
            local.name = prefix + tgt + pc + file;
        if (tgt == QLatin1String("bbadfile"))
            local.kind = QStringLiteral("bbad");
    }
    // The name becomes a file in the work folder and a manifest value that is
    // read up to its first ":": a name that would leave the folder or could not
    // be read back is not used.
    if (local.name.contains(QLatin1Char('/')) || local.name.contains(QLatin1Char('\\'))
        || local.name.contains(QLatin1Char(':'))) {
        local = LocalName();
    }
    return local;
}

QString manifestValue(const LocalName &local)
{
    return local.kind.isEmpty() ? local.name : local.name + QLatin1Char(':') + local.kind;
}

} // namespace DownloadNames
