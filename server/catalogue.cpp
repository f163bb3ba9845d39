#include "server/catalogue.h"

#include <QFile>

#include <cstdio>


namespace {

// "[Account 12-34]" and "[account 1234]" name the same section: the first word
// is compared without case, an account code without its dashes (the client
// removes them before sending).
QString normalisedSection(const QString &header)
{
    const QString name = header.simplified();
    const int blank = name.indexOf(QLatin1Char(' '));
    if (blank < 0)
        return name.toLower();
    const QString word = name.left(blank).toLower();
    QString rest = name.mid(blank + 1);
    if (word == QLatin1String("account"))
        rest.remove(QLatin1Char('-'));
    return word + QLatin1Char(' ') + rest;
}

int hexDigit(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

} // namespace

bool parseFaultAction(const QString &text, FaultAction *action)
{
    QStringList words = text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    qint64 times = 0;
    if (words.size() >= 3 && words.at(words.size() - 2).toLower() == QLatin1String("first")) {
        bool ok = false;
        times = words.last().toLongLong(&ok);
        if (!ok || times <= 0)
            return false;
        words.resize(words.size() - 2);
    }
    if (words.isEmpty())
        return false;
    static const QHash<QString, FaultAction::Kind> plain = {
        { QStringLiteral("norange"), FaultAction::NoRange },
        { QStringLiteral("unsatisfiable"), FaultAction::Unsatisfiable },
        { QStringLiteral("novalidator"), FaultAction::NoValidator },
        { QStringLiteral("weaktag"), FaultAction::WeakTag },
        { QStringLiteral("rangetag"), FaultAction::RangeTag },
        { QStringLiteral("lengthon304"), FaultAction::LengthOn304 },
        { QStringLiteral("nolength"), FaultAction::NoLength },
    };
    const auto flag = plain.constFind(words.at(0).toLower());
    if (flag != plain.constEnd()) {
        if (words.size() != 1)
            return false;
        action->kind = *flag;
        action->value = 0;
        action->times = times;
        return true;
    }
    if (words.size() != 2)
        return false;
    bool ok = false;
    const qint64 value = words.at(1).toLongLong(&ok);
    if (!ok || value < 0)
        return false;
    static const QHash<QString, FaultAction::Kind> kinds = {
        { QStringLiteral("status"), FaultAction::Status },
        { QStringLiteral("close"), FaultAction::Close },
        { QStringLiteral("stall"), FaultAction::Stall },
        { QStringLiteral("drip"), FaultAction::Drip },
        { QStringLiteral("latency"), FaultAction::Latency },
        { QStringLiteral("garbage"), FaultAction::Garbage },
        { QStringLiteral("badrange"), FaultAction::BadRange },
        { QStringLiteral("rangetotal"), FaultAction::RangeTotal },
        { QStringLiteral("retryafter"), FaultAction::RetryAfter },
    };
    const auto kind = kinds.constFind(words.at(0).toLower());
    if (kind == kinds.constEnd())
        return false;
    if (*kind == FaultAction::Status && (value < 100 || value > 999))
        return false;
    action->kind = *kind;
    action->value = value;
    action->times = times;
    return true;
}

bool parseFaultRule(const QString &line, FaultRule *rule)
{
    const int arrow = line.indexOf(QLatin1String("=>"));
    if (arrow < 0)
        return false;
    FaultAction action;
    if (!parseFaultAction(line.mid(arrow + 2), &action))
        return false;
    rule->prefix = line.left(arrow).trimmed().toLatin1();
    rule->action = action;
    return true;
}

QByteArray unescapeValue(const QString &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\\') || i + 1 >= text.size()) {
            out.append(c.unicode() < 256 ? char(c.unicode()) : '?');
            continue;
        }
        const QChar next = text.at(++i);
        switch (next.unicode()) {
        case 'r':
            out.append('\r');
            break;
        case 'n':
            out.append('\n');
            break;
        case 't':
            out.append('\t');
            break;
        case '\\':
            out.append('\\');
            break;
        case 'x': {
            const int high = i + 1 < text.size() ? hexDigit(text.at(i + 1)) : -1;
            const int low = i + 2 < text.size() ? hexDigit(text.at(i + 2)) : -1;
            if (high >= 0 && low >= 0) {
                out.append(char(high * 16 + low));
                i += 2;
            } else {
                out.append("\\x");
            }
            break;
        }
        default: // an unknown escape stays as written
            out.append('\\');
            out.append(next.unicode() < 256 ? char(next.unicode()) : '?');
        }
    }
    return out;
}

QString escapeValue(const QByteArray &utf8)
{
    const QString text = QString::fromUtf8(utf8);
    QString out;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        case '\\':
            out += QLatin1String("\\\\");
            break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    // Leading and trailing blanks would be trimmed when the line is read back.
    if (out.startsWith(QLatin1Char(' ')))
        out.replace(0, 1, QStringLiteral("\\x20"));
    if (out.endsWith(QLatin1Char(' ')))
        out.replace(out.size() - 1, 1, QStringLiteral("\\x20"));
    return out;
}

QByteArray percentDecode(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == '%' && i + 2 < text.size()) {
            const int high = hexDigit(QLatin1Char(text.at(i + 1)));
            const int low = hexDigit(QLatin1Char(text.at(i + 2)));
            if (high >= 0 && low >= 0) {
                out.append(char(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.append(text.at(i));
    }
    return out;
}

Catalogue Catalogue::parse(const QByteArray &text, QStringList *warnings)
{
    Catalogue catalogue;
    QString section;
    int lineNumber = 0;
    for (const QByteArray &rawLine : text.split('\n')) {
        ++lineNumber;
        QString line = QString::fromUtf8(rawLine);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')) || trimmed.startsWith(QLatin1Char(';')))
            continue;
        if (trimmed.startsWith(QLatin1Char('[')) && trimmed.endsWith(QLatin1Char(']'))) {
            section = normalisedSection(trimmed.mid(1, trimmed.size() - 2));
            catalogue.m_sections[section]; // an empty section still exists
            continue;
        }
        const int arrow = line.indexOf(QLatin1String("=>"));
        if (arrow < 0 || section.isEmpty()) {
            if (warnings)
                warnings->append(
                    QStringLiteral("line %1: not \"KEY => VALUE\" inside a section").arg(lineNumber));
            continue;
        }
        catalogue.m_sections[section].append({ line.left(arrow).trimmed(), line.mid(arrow + 2).trimmed() });
    }
    return catalogue;
}

QList<Catalogue::Entry> Catalogue::entries(const QString &section) const
{
    return m_sections.value(normalisedSection(section));
}

bool Catalogue::hasSection(const QString &section) const
{
    return m_sections.contains(normalisedSection(section));
}

bool Catalogue::value(const QString &section, const QString &key, QString *value) const
{
    for (const Entry &entry : m_sections.value(normalisedSection(section))) {
        if (entry.key == key) {
            *value = entry.value;
            return true;
        }
    }
    return false;
}

bool Catalogue::lookup(const QString &section, const QStringList &parts, QString *value) const
{
    for (const Entry &entry : m_sections.value(normalisedSection(section))) {
        const QStringList keyParts = entry.key.split(QLatin1Char('|'));
        if (keyParts.size() != parts.size())
            continue;
        bool matches = true;
        for (int i = 0; i < parts.size() && matches; ++i)
            matches
                = keyParts.at(i).trimmed() == QLatin1String("*") || keyParts.at(i).trimmed() == parts.at(i);
        if (matches) {
            *value = entry.value;
            return true;
        }
    }
    return false;
}

QStringList Catalogue::accounts() const
{
    QStringList codes;
    for (auto it = m_sections.constBegin(); it != m_sections.constEnd(); ++it) {
        if (it.key().startsWith(QLatin1String("account ")))
            codes.append(it.key().mid(8));
    }
    return codes;
}

QList<FaultRule> Catalogue::faults() const
{
    QList<FaultRule> rules;
    for (const Entry &entry : m_sections.value(QStringLiteral("faults"))) {
        FaultRule rule;
        if (parseFaultRule(entry.key + QLatin1String("=>") + entry.value, &rule))
            rules.append(rule);
    }
    return rules;
}

CatalogueFile::CatalogueFile(const QString &path)
    : m_path(path)
    , m_catalogue(std::make_shared<Catalogue>())
{
}

std::shared_ptr<const Catalogue> CatalogueFile::current()
{
    // The file is read on every request and parsed again only when its bytes
    // changed: a test may rewrite it twice within one tick of the file
    // system's clock (Windows' C runtime gives seconds), keeping its size.
    QByteArray text;
    bool exists = false;
    QFile file(m_path);
    if (file.open(QIODevice::ReadOnly)) {
        exists = true;
        text = file.readAll();
    }

    std::lock_guard<std::mutex> lock(m_mutex);
    if (exists == m_existed && text == m_text)
        return m_catalogue;
    m_existed = exists;
    m_text = text;
    QStringList warnings;
    m_catalogue = std::make_shared<Catalogue>(Catalogue::parse(text, &warnings));
    for (const QString &warning : warnings)
        fprintf(stderr, "update_hub_service: %s: %s\n", qPrintable(m_path), qPrintable(warning));
    return m_catalogue;
}
