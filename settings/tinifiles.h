#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>

/// The program's INI files ("language.ini", "syslang.ini", "password.ini", ...).
///
/// The files use the program's own syntax, read and written by the format that
/// iniFormat() registers with QSettings: Latin-1 text, "[section]" lines, one
/// "key=value" per line, "\n" line ends, no comments, nothing trimmed. Section
/// names are always lower-cased; with plainKeys false every key is stored as
/// "<section>_<key>" in lower case, with plainKeys true the key is kept as given.
/// Sections and keys are looked up without regard to case, so a file written
/// with capitals is found by lower-case names and updated in place.
///
/// Limits of the syntax (it has no escapes): a key containing "=" reads back as
/// the text before the first "="; line breaks inside a key or value are written
/// as blanks; characters outside Latin-1 are written as "?" (use
/// writeUtf8String for such texts); a section whose name has characters other
/// than letters, digits and "_" is written but not recognised when read back.
///
/// Pending writes reach the file when the object is destroyed or synced; the
/// file is replaced atomically, so a failed write leaves the old file intact.
class TIniFiles : public QSettings
{
    Q_OBJECT

public:
    TIniFiles(const QString &fileName, bool plainKeys, QObject *parent = nullptr);

    QString readString(const QString &section, const QString &key, const QString &defaultValue = QString());
    /// True when the file holds the key (with any value, an empty one too).
    bool hasValue(const QString &section, const QString &key);
    /// The value converted with base; a value that is not a number gives 0, an absent one the default.
    int readInt(const QString &section, const QString &key, int base, int defaultValue);
    /// The stored bytes decoded as UTF-8.
    QString readUtf8String(const QString &section, const QString &key,
                           const QString &defaultValue = QString());
    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInt(const QString &section, const QString &key, int value);
    /// Stores the UTF-8 bytes of value, so the file holds them as they are.
    void writeUtf8String(const QString &section, const QString &key, const QString &value);
    /// Replaces list with the file's section names; returns their number.
    int sectionNames(QStringList &list);

    /// The registered format of the program's own syntax for the extension
    /// "ini", "rmd" or "ifs" (all three share one reader and writer).
    static QSettings::Format iniFormat(const QString &extension = QStringLiteral("ini"));

    /// The reader and writer behind the format, usable on any device.
    static bool readIniDevice(QIODevice &device, QSettings::SettingsMap &map);
    static bool writeIniDevice(QIODevice &device, const QSettings::SettingsMap &map);

private:
    QString storedKey(const QString &section, const QString &key) const;
    QString resolvedKey(const QString &fullKey) const;

    QString m_unused; // kept for the object's layout
    bool plainKeys;
};
