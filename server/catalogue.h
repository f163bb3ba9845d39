#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>

/// What a fault rule does to the answer of a matching request.
struct FaultAction
{
    enum Kind {
        None,
        Status,
        Close,
        Stall,
        Drip,
        Latency,
        Garbage,
        // Range faults of static files; they add to a shaping fault.
        NoRange, // Range and If-Range ignored: 200 with the whole file
        BadRange, // a 206 that starts N bytes before the asked offset
        Unsatisfiable, // 416 to every Range request
        NoValidator, // neither ETag nor Last-Modified, conditions ignored
        WeakTag, // the ETag is a weak one (W/"...")
        RangeTotal, // a 206 gives the file as N bytes shorter than it is
        RangeTag, // a 206 carries an ETag other than the file's
        LengthOn304, // a 304 names the file's size in Content-Length (no body)
        // Additions to any answer.
        RetryAfter, // a Retry-After header of N seconds
        NoLength, // the body without Content-Length, ended by closing the connection
    };
    Kind kind = None;
    qint64 value = 0;
    /// Applies to the first `times` matching requests only (0: to all).
    qint64 times = 0;

    bool isRangeFault() const { return kind >= NoRange; }
};

/// "PREFIX => ACTION": applies to every request whose raw target starts with PREFIX.
struct FaultRule
{
    QByteArray prefix;
    FaultAction action;
};

/// Parses "status N", "close N", "stall N", "drip MS", "latency MS", "garbage N",
/// "norange", "badrange N", "unsatisfiable", "novalidator", "weaktag", "rangetotal N",
/// "rangetag", "lengthon304", "retryafter S" or "nolength", each optionally
/// followed by "first K".
bool parseFaultAction(const QString &text, FaultAction *action);
/// Parses "PREFIX=>ACTION" (blanks around "=>" are ignored).
bool parseFaultRule(const QString &line, FaultRule *rule);

/// Turns a catalogue value into answer bytes: \r \n \t \\ \xHH are decoded,
/// every other character becomes its Latin-1 byte ("?" when it has none).
QByteArray unescapeValue(const QString &text);
/// The inverse for storing values in the catalogue's own syntax.
QString escapeValue(const QByteArray &utf8);

/// Decodes %XX sequences (nothing else: "+" stays "+") into bytes.
QByteArray percentDecode(const QByteArray &text);

/// The parsed service.ini: sections of "KEY => VALUE" lines, in file order.
class Catalogue
{
public:
    struct Entry
    {
        QString key;
        QString value; // still escaped; see unescapeValue()
    };

    static Catalogue parse(const QByteArray &text, QStringList *warnings = nullptr);

    /// Lines of a section; the section name is compared without case.
    QList<Entry> entries(const QString &section) const;
    bool hasSection(const QString &section) const;
    /// Value of the first line whose key equals key exactly.
    bool value(const QString &section, const QString &key, QString *value) const;
    /// Value of the first line whose key, split at "|", matches parts one by one
    /// (a key part "*" matches anything, other parts must be equal).
    bool lookup(const QString &section, const QStringList &parts, QString *value) const;
    /// Names of the "[account CODE]" sections' codes, dashes removed.
    QStringList accounts() const;
    QList<FaultRule> faults() const;

private:
    QHash<QString, QList<Entry>> m_sections; // lower-cased section name
};

/// Holds the catalogue of a folder and parses it again whenever the file's
/// bytes change. Safe to use from several threads.
class CatalogueFile
{
public:
    explicit CatalogueFile(const QString &path);
    std::shared_ptr<const Catalogue> current();

private:
    QString m_path;
    std::mutex m_mutex;
    std::shared_ptr<const Catalogue> m_catalogue;
    QByteArray m_text;
    bool m_existed = false;
};
