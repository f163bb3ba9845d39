#pragma once

#include <QByteArray>

/// Pieces for writing zip archives byte by byte in tests, so that every field
/// of an entry can be made to lie.
namespace ZipBytes {

/// Raw deflate stream (no zlib header) of data, level 9.
QByteArray deflateRaw(const QByteArray &data);
/// CRC-32 of data as a zip entry records it.
quint32 crcOf(const QByteArray &data);

} // namespace ZipBytes
