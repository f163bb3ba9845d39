#include "settings/tinifiles.h"

#include <QIODevice>
#include <QLoggingCategory>
#include <QRegularExpression>

Q_LOGGING_CATEGORY(lcSettings, "update_hub.settings")

namespace {

// The syntax has no escapes: a line break inside a key or value would split the
// entry and could forge new sections, so it is written as a blank.
QByteArray singleLine(const QString &text)
{
    QByteArray bytes = text.toLatin1();
    for (int i = 0; i < bytes.size(); ++i) {
        if (bytes.at(i) == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n')
            bytes.remove(i, 1);
        if (bytes.at(i) == '\r' || bytes.at(i) == '\n')
            bytes[i] = ' ';
    }
    return bytes;
}

// The text as the file can hold it; kept in memory in this form too, so a later
// read in this process sees what a fresh read of the file would.
QString storable(const QString &text)
{
    return QString::fromLatin1(singleLine(text));
}

QByteArray valueBytes(const QVariant &value)
{
    // Byte arrays are already the file's bytes; QVariant would decode them as UTF-8.
    if (value.typeId() == QMetaType::QByteArray)
        return singleLine(QString::fromLatin1(value.toByteArray()));
    return singleLine(value.toString());
}

} // namespace

TIniFiles::TIniFiles(const QString &fileName, bool plainKeys, QObject *parent)
    : QSettings(fileName, iniFormat(), parent)
    , plainKeys(plainKeys)
{
}

QSettings::Format TIniFiles::iniFormat(const QString &extension)
{
    // Case-sensitive for Qt on every system: storedKey()/resolvedKey() do the
    // case-insensitive lookup themselves and keep a file's own spelling. (Qt
    // on Windows honours a case-insensitive format by folding the keys, and a
    // write then replaced "[Selected]" with "[selected]".)
    static const QSettings::Format ini = QSettings::registerFormat(QStringLiteral("ini"), readIniDevice,
                                                                   writeIniDevice, Qt::CaseSensitive);
    static const QSettings::Format rmd = QSettings::registerFormat(QStringLiteral("rmd"), readIniDevice,
                                                                   writeIniDevice, Qt::CaseSensitive);
    static const QSettings::Format ifs = QSettings::registerFormat(QStringLiteral("ifs"), readIniDevice,
                                                                   writeIniDevice, Qt::CaseSensitive);
    if (extension == QLatin1String("rmd"))
        return rmd;
    if (extension == QLatin1String("ifs"))
        return ifs;
    return ini;
}

bool TIniFiles::readIniDevice(QIODevice &device, QSettings::SettingsMap &map)
{
    static const QRegularExpression sectionLine(QStringLiteral("^\\[(\\w+)\\]"));
    const QByteArray data = device.readAll();
    QString section;
    qsizetype start = 0;
    while (start <= data.size()) {
        qsizetype end = data.indexOf('\n', start);
        if (end < 0)
            end = data.size();
        QByteArray line = data.mid(start, end - start);
        start = end + 1;
        line.replace('\r', QByteArray());
        // A line holding only a carriage return (blank line of a CR LF file) is empty too;
        // keeping it would add an entry with an empty key that is written back as "=".
        if (line.isEmpty())
            continue;
        const QString text = QString::fromLatin1(line);
        if (text.startsWith(QLatin1Char('['))) {
            const QRegularExpressionMatch match = sectionLine.match(text);
            if (match.hasMatch()) {
                section = match.captured(1);
                continue;
            }
        }
        const qsizetype equals = text.indexOf(QLatin1Char('='));
        const QString key = equals < 0 ? text : text.left(equals);
        const QString value = equals < 0 ? QString() : text.mid(equals + 1);
        map.insert(section + QLatin1Char('/') + key, value);
    }
    return true;
}

bool TIniFiles::writeIniDevice(QIODevice &device, const QSettings::SettingsMap &map)
{
    QByteArray out;
    // Entries read before the first section line come back under "/key" (or
    // "key" when set without a section); they are written first, without a
    // header, so that rewriting a file never drops them.
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(QLatin1Char('/'));
        if (slash > 0)
            continue;
        out += singleLine(it.key().mid(slash + 1)) + '=' + valueBytes(it.value()) + '\n';
    }
    QString lastSection;
    bool haveSection = false;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(QLatin1Char('/'));
        if (slash <= 0)
            continue;
        const QString section = it.key().left(slash);
        if (!haveSection || section != lastSection) {
            out += '[' + singleLine(section) + "]\n";
            lastSection = section;
            haveSection = true;
        }
        out += singleLine(it.key().mid(slash + 1)) + '=' + valueBytes(it.value()) + '\n';
    }
    return device.write(out) == out.size();
}

QString TIniFiles::storedKey(const QString &section, const QString &key) const
{
    const QString group = section.toLower();
    const QString name = plainKeys ? key : (group + QLatin1Char('_') + key).toLower();
    return storable(group + QLatin1Char('/') + name);
}

QString TIniFiles::resolvedKey(const QString &fullKey) const
{
    if (contains(fullKey))
        return fullKey;
    // A file written with capitals ("[Lingua1]", "Lingua1_IDLingua=") is found by
    // lower-case names; the stored spelling is kept so writes update it in place.
    const QStringList keys = allKeys();
    for (const QString &stored : keys) {
        if (stored.compare(fullKey, Qt::CaseInsensitive) == 0)
            return stored;
    }
    return fullKey;
}

QString TIniFiles::readString(const QString &section, const QString &key, const QString &defaultValue)
{
    const QVariant stored = value(resolvedKey(storedKey(section, key)));
    if (!stored.isValid())
        return defaultValue;
    if (stored.typeId() == QMetaType::QByteArray)
        return QString::fromLatin1(stored.toByteArray());
    return stored.toString();
}

bool TIniFiles::hasValue(const QString &section, const QString &key)
{
    return contains(resolvedKey(storedKey(section, key)));
}

int TIniFiles::readInt(const QString &section, const QString &key, int base, int defaultValue)
{
    const QString fullKey = resolvedKey(storedKey(section, key));
    if (!contains(fullKey))
        return defaultValue;
    bool ok = false;
    const int number = value(fullKey).toString().toInt(&ok, base);
    return ok ? number : 0;
}

QString TIniFiles::readUtf8String(const QString &section, const QString &key, const QString &defaultValue)
{
    const QString fullKey = resolvedKey(storedKey(section, key));
    if (!contains(fullKey))
        return defaultValue;
    return QString::fromUtf8(readString(section, key).toLatin1());
}

void TIniFiles::writeString(const QString &section, const QString &key, const QString &value)
{
    setValue(resolvedKey(storedKey(section, key)), storable(value));
}

void TIniFiles::writeInt(const QString &section, const QString &key, int value)
{
    setValue(resolvedKey(storedKey(section, key)), QString::number(value));
}

void TIniFiles::writeUtf8String(const QString &section, const QString &key, const QString &value)
{
    // Held as Latin-1 characters of the UTF-8 bytes: the writer emits exactly those bytes,
    // and a later read in this object sees the same text as a fresh read of the file.
    setValue(resolvedKey(storedKey(section, key)), storable(QString::fromLatin1(value.toUtf8())));
}

int TIniFiles::sectionNames(QStringList &list)
{
    list.clear();
    const QStringList groups = childGroups();
    for (const QString &group : groups) {
        if (!group.isEmpty())
            list.append(group);
    }
    return int(list.size());
}
