// Extraction: the destination prepared in archive order, then the entries'
// data inflated at once on a pool of worker threads.
#pragma once

#include <QString>

class QZipFileNotificationInterface;

namespace ZipDetail {

// The work of TZipFile::UnzipArchive (see there), debug texts included.
bool extractArchive(const QString &archive, const QString &destination, bool keepPaths,
                    const QString &password, QZipFileNotificationInterface *notifier);

} // namespace ZipDetail
