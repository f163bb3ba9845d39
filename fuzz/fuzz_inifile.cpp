// The INI reader on arbitrary bytes, and the writer on what it read: a file
// written from a read map must read back to the same map and rewrite to the
// same bytes, or every save would change (or lose) settings.
#include "fuzzsupport.h"

#include "settings/tinifiles.h"

#include <QBuffer>

namespace {

QSettings::SettingsMap readMap(const QByteArray &content)
{
    QByteArray copy = content;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QSettings::SettingsMap map;
    if (!TIniFiles::readIniDevice(buffer, map))
        FuzzSupport::fail("reader refused bytes");
    return map;
}

QByteArray written(const QSettings::SettingsMap &map)
{
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    if (!TIniFiles::writeIniDevice(buffer, map))
        FuzzSupport::fail("writer refused a read map");
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QSettings::SettingsMap first = readMap(FuzzSupport::bytes(data, size));
    const QByteArray once = written(first);
    const QSettings::SettingsMap second = readMap(once);
    if (second != first)
        FuzzSupport::fail("written file reads back different", QString::fromLatin1(once.toPercentEncoding()));
    if (written(second) != once)
        FuzzSupport::fail("rewriting changes the file", QString::fromLatin1(once.toPercentEncoding()));
    return 0;
}
