#pragma once

#include <QString>
#include <QStringList>

/// How a download-list entry ("service path:target") is stored in the work
/// folder and recorded in the work manifest.
namespace DownloadNames {

struct LocalName
{
    QString name;  // file name in the work folder; empty: not downloaded
    QString kind;  // "bbad", "balloon" or empty
};

/// The service path of an entry: the text before the first ":".
QString servicePath(const QString &entry);
/// The target of an entry: the text after the first ":" (empty without ":").
QString target(const QString &entry);

/// The local name of an entry. An entry without ":", without a service path
/// or without a file name at the end of its path gets an empty name, and so
/// does one whose name would hold "/", "\\" or ":".
LocalName localName(const QString &entry, const QStringList &databaseFolders);

/// The manifest value: the local name followed by ":" and the kind, if any.
QString manifestValue(const LocalName &local);

} // namespace DownloadNames
