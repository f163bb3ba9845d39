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
    return wellFormedDate(answer, QLatin1Char('_')) ? answer : QString();
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
