// A download answer through the client's whole chain: entries, download
// order, and the local name each entry is stored under in the work folder.
// Input: the first line is the redirection's database folders ("|"-separated),
// the rest the answer body.
#include "fuzzsupport.h"

#include "update/downloadnames.h"
#include "update/updateplanner.h"

#include <QSet>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = FuzzSupport::latin1(data, size);
    const qsizetype newline = input.indexOf(QLatin1Char('\n'));
    const QStringList folders = input.left(newline < 0 ? 0 : newline).split(QLatin1Char('|'));
    const QString answer = newline < 0 ? input : input.mid(newline + 1);

    const QStringList entries = UpdatePlanner::downloadEntries(answer);
    for (const QString &entry : entries) {
        if (entry.indexOf(QLatin1Char(':')) <= 0)
            FuzzSupport::fail("entry without service path kept", entry);
        if (DownloadNames::servicePath(entry) + QLatin1Char(':') + DownloadNames::target(entry) != entry)
            FuzzSupport::fail("entry does not split into path and target", entry);
    }

    const QStringList ordered = UpdatePlanner::orderedDownloads(entries);
    const QSet<QString> known(entries.cbegin(), entries.cend());
    QSet<QString> seen;
    for (const QString &entry : ordered) {
        if (!known.contains(entry))
            FuzzSupport::fail("download order invented an entry", entry);
        if (seen.contains(entry))
            FuzzSupport::fail("entry downloaded twice", entry);
        seen.insert(entry);
    }
    if (seen.size() != known.size())
        FuzzSupport::fail("download order lost an entry");

    for (const QString &entry : ordered) {
        const DownloadNames::LocalName local = DownloadNames::localName(entry, folders);
        const QString &name = local.name;
        if (name.isEmpty()) {
            if (!local.kind.isEmpty())
                FuzzSupport::fail("kind without a name", entry);
            continue;
        }
        // The name becomes a file directly in the work folder.
        if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) || name.contains(QLatin1Char(':'))
            || name == QLatin1String(".") || name == QLatin1String(".."))
            FuzzSupport::fail("local name leaves the work folder", name);
        // The manifest is read back up to its first ":".
        const QString value = DownloadNames::manifestValue(local);
        if (value.section(QLatin1Char(':'), 0, 0) != name)
            FuzzSupport::fail("manifest value does not give the name back", value);
    }
    return 0;
}
