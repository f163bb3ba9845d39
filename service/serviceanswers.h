#pragma once

#include <QByteArray>
#include <QString>

/// Pure rules of the service's requests and answers.
namespace ServiceAnswers {

/// A version text as a number: not a number counts as 0 ("3.10" equals "3.1").
double versionNumber(const QString &text);

/// The account code as requests send it: every "-" removed.
QString accountCode(const QString &code);

/// A version value as requests send it: empty or "NOT FOUND" become "0".
QString versionValue(const QString &version);

/// A product id as requests send it: empty becomes "standard_product".
QString productValue(const QString &product);

/// A value for a request's query, as the service decodes it back: its Latin-1
/// bytes (a character beyond Latin-1 is "?"), every byte other than a letter,
/// a digit, "-", ".", "_", "~" or one of kept percent-encoded. Blanks become
/// "%20"; "&", "=", "+", "#" and "%" can neither split nor end the query.
QString queryValue(const QString &value, const QByteArray &kept = QByteArrayLiteral("/"));

/// A request path (with its query) as built, made fit for the request line
/// without changing what the service decodes: a character beyond Latin-1 is
/// "%3F", Latin-1 letters beyond ASCII, control characters, blanks, "#" and
/// the characters HTTP does not carry raw are percent-encoded, a "%" that
/// starts no escape is "%25"; everything else (escapes included) stays.
QByteArray requestTarget(const QString &path);

/// The answer of "get_filesize.asp" as a size: a decimal number of bytes, or
/// -1 for a missing file and for every answer that is not a size.
qint64 fileSize(const QString &answer);

/// The answer of "datetime_ms.asp": the last character dropped, then accepted
/// only as year-month-day, blank, time; otherwise empty.
QString dateTimeMs(const QString &answer);

/// The answer of "datetime_ov.asp" without surrounding white space and line
/// ends: accepted only as year-month-day, "_", time; otherwise empty.
QString dateStamp(const QString &answer);

/// Speed text: the average rate in kB/s (when the last second brought at
/// least 1024 bytes) or B/s, always with two decimals.
QString speedText(qint64 averageRate, qint64 bytesLastSecond);

/// Time left: a blank followed by hh:mm:ss, or a single blank when unknown.
QString timeLeftText(qint64 secondsLeft);

} // namespace ServiceAnswers
