#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// Shared set-up of the fuzz targets.
namespace FuzzSupport {

/// Creates the application object once (a GUI one on the offscreen platform
/// when gui is true) and silences Qt's messages, so the fuzzer's output
/// stays readable and fast.
void initialize(int *argc, char ***argv, bool gui = false);

/// The input as bytes (no copy).
inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
}

/// The input as the client decodes service answers: Latin-1.
inline QString latin1(const uint8_t *data, size_t size)
{
    return QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(size));
}

/// A private scratch folder for the whole fuzzing process (removed at exit).
QString scratchFolder();

/// Replaces the file with exactly these bytes; aborts when that fails, since
/// every later result would be meaningless.
void writeFile(const QString &path, const QByteArray &content);

/// Prints the message and aborts: libFuzzer records the input as a crash.
[[noreturn]] void fail(const char *what, const QString &detail = QString());

} // namespace FuzzSupport
