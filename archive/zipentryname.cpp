// Entry names: separators, roots and ".." components.
#include "archive/zipentryname.h"

#include <QStringList>

namespace ZipDetail {

bool isSeparator(QChar c)
{
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
}

bool normaliseEntryName(const QString &name, QString *path)
{
    if (name.contains(QChar(0)))
        return false;
    if (name.size() >= 2 && name.at(1) == QLatin1Char(':'))
        return false;
    QString rest = name;
    if (rest.startsWith(QLatin1String("//")) && (rest.size() == 2 || !isSeparator(rest.at(2))))
        rest = rest.mid(2);
    else if (!rest.isEmpty() && isSeparator(rest.at(0)))
        return false;

    QStringList parts;
    QString part;
    const auto flush = [&]() {
        if (part == QLatin1String("..")) {
            if (parts.isEmpty())
                return false;
            parts.removeLast();
        } else if (!part.isEmpty() && part != QLatin1String(".")) {
            parts.append(part);
        }
        part.clear();
        return true;
    };
    for (const QChar c : rest) {
        if (isSeparator(c)) {
            if (!flush())
                return false;
        } else {
            part.append(c);
        }
    }
    if (!flush())
        return false;
    *path = parts.join(QLatin1Char('/'));
    return true;
}

} // namespace ZipDetail
