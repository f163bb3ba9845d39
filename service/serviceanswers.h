#pragma once

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

/// The answer of "datetime_ms.asp": the last character dropped, then accepted
/// only as year-month-day, blank, time; otherwise empty.
QString dateTimeMs(const QString &answer);

/// The answer of "datetime_ov.asp": accepted only as year-month-day, "_",
/// time; otherwise empty.
QString dateStamp(const QString &answer);

/// Speed text: the average rate in kB/s (when the last second brought at
/// least 1024 bytes) or B/s, always with two decimals.
QString speedText(qint64 averageRate, qint64 bytesLastSecond);

/// Time left: a blank followed by hh:mm:ss, or a single blank when unknown.
QString timeLeftText(qint64 secondsLeft);

} // namespace ServiceAnswers
