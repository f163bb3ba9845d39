// The rules that turn a stored entry name into a path below the destination.
#pragma once

#include <QString>

namespace ZipDetail {

/// True for "/" and "\", both separators in entry names on every system.
bool isSeparator(QChar c);

// Turns an entry name into a path below the destination, "\" counting as a
// separator on every system. Empty components are dropped: this program's own
// archives name top-level files "//name". A name that starts with a single
// separator or another form of root ("\\", a drive letter) is absolute, and
// ".." may never climb above the destination; both give ok = false.
bool normaliseEntryName(const QString &name, QString *path);

} // namespace ZipDetail
