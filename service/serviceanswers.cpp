#include "service/serviceanswers.h"

#include <cmath>

namespace ServiceAnswers {

double versionNumber(const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    // toDouble also accepts "inf" and "nan": an infinite version would be newer
    // than every installed one (a self-update each start), a NaN never newer.
    return ok && std::isfinite(value) ? value : 0.0;
}

QString accountCode(const QString &code)
{
    QString sent = code;
    return sent.remove(QLatin1Char('-'));
}

QString versionValue(const QString &version)
{
    if (version.isEmpty() || version == QLatin1String("NOT FOUND"))
        return QStringLiteral("0");
    return version;
}

QString productValue(const QString &product)
{
    return product.isEmpty() ? QStringLiteral("standard_product") : product;
}

namespace {

// Latin-1 bytes of a text; a character beyond Latin-1 (a surrogate pair
// included) is one "?".
QByteArray latin1Bytes(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c <= 0xff) {
            bytes += char(c);
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        bytes += '?';
    }
    return bytes;
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

QString queryValue(const QString &value, const QByteArray &kept)
{
    return QString::fromLatin1(latin1Bytes(value).toPercentEncoding(kept));
}

QByteArray requestTarget(const QString &path)
{
    static const char hex[] = "0123456789ABCDEF";
    const auto hexAt = [&path](qsizetype i) {
        return i < path.size() && path.at(i).unicode() < 0x80 && isHexDigit(char(path.at(i).unicode()));
    };
    QByteArray target;
    target.reserve(path.size());
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t c = path.at(i).unicode();
        if (c > 0xff) {
            // "?" for a character beyond Latin-1, encoded: it must not start a query.
            if (QChar::isHighSurrogate(c) && i + 1 < path.size() && path.at(i + 1).isLowSurrogate())
                ++i;
            target += "%3F";
            continue;
        }
        const bool escape = c == '%' && hexAt(i + 1) && hexAt(i + 2);
        const bool raw = c > 0x20 && c < 0x7f && !QByteArrayView("#\\\"<>[]^`{|}").contains(char(c))
            && (c != '%' || escape);
        if (raw) {
            target += char(c);
        } else {
            target += '%';
            target += hex[c >> 4];
            target += hex[c & 0xf];
        }
    }
    return target;
}

namespace {

// year-month-day followed by dayEnd and more: the three date parts must have
// 4, 2 and 2 characters.
bool wellFormedDate(const QString &text, QChar dayEnd)
{
    const qsizetype first = text.indexOf(QLatin1Char('-'));
    if (first != 4)
        return false;
    const qsizetype second = text.indexOf(QLatin1Char('-'), first + 1);
    if (second - first - 1 != 2)
        return false;
    const qsizetype end = text.indexOf(dayEnd, second + 1);
    return end >= 0 && end - second - 1 == 2;
}

} // namespace

QString dateTimeMs(const QString &answer)
{
    const QString text = answer.left(answer.size() - 1);
    return wellFormedDate(text, QLatin1Char(' ')) ? text : QString();
}

QString dateStamp(const QString &answer)
{
    // The stamp names a file on the FTP server: a line end must not go into
    // the name, nor a control character or a folder separator inside it.
    const QString stamp = answer.trimmed();
    for (const QChar c : stamp) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c == QLatin1Char('/') || c == QLatin1Char('\\'))
            return QString();
    }
    return wellFormedDate(stamp, QLatin1Char('_')) ? stamp : QString();
}

qint64 fileSize(const QString &answer)
{
    bool ok = false;
    const qint64 size = answer.trimmed().toLongLong(&ok);
    return ok && size >= 0 ? size : -1;
}

QString speedText(qint64 averageRate, qint64 bytesLastSecond)
{
    if (bytesLastSecond >= 1024)
        return QString::number(double(averageRate / 1024), 'f', 2) + QStringLiteral(" kB/s");
    return QString::number(double(averageRate), 'f', 2) + QStringLiteral(" B/s");
}

QString timeLeftText(qint64 secondsLeft)
{
    if (secondsLeft < 0)
        return QStringLiteral(" ");
    const qint64 hours = secondsLeft / 3600;
    const qint64 minutes = (secondsLeft % 3600) / 60;
    const qint64 seconds = secondsLeft % 60;
    return QStringLiteral(" %1:%2:%3")
        .arg(hours, 2, 10, QLatin1Char('0'))
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(seconds, 2, 10, QLatin1Char('0'));
}

} // namespace ServiceAnswers
