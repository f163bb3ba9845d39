// Shared by the parts of the archive module: its debug category, the zip
// format's constants and the progress counts.
#pragma once

#include "archive/tzipfile.h"

#include <QLoggingCategory>

#include <zlib.h>

#include <climits>

Q_DECLARE_LOGGING_CATEGORY(lcArchive)

namespace ZipDetail {

constexpr uLong AttrReadOnly = 0x01;
constexpr uLong AttrHidden = 0x02;
constexpr uLong AttrFolder = 0x10;
constexpr uLong AttrArchive = 0x20;
constexpr uLong FlagEncrypted = 0x1;
constexpr uLong FlagUtf8Name = 0x800;
constexpr uLong MethodStored = 0;
constexpr uLong MethodDeflate = Z_DEFLATED;
constexpr uLong HostUnix = 3;
constexpr uLong UnixTypeMask = 0170000;
constexpr uLong UnixSymlink = 0120000;

// Qt signals carry 32-bit counts; beyond 4 GiB both values are shifted by
// the same amount so the fraction they describe stays right.
inline int countShift(quint64 largest)
{
    int shift = 0;
    while ((largest >> shift) > UINT_MAX)
        ++shift;
    return shift;
}

inline void emitProgress(QZipFileNotificationInterface *notifier, quint64 done, quint64 whole)
{
    if (!notifier)
        return;
    const int shift = countShift(qMax(done, whole));
    emit notifier->progress(uint(done >> shift), uint(whole >> shift));
}

} // namespace ZipDetail
