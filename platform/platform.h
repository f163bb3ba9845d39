#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QSettings;
struct zlib_filefunc64_def_s;

/// The operating-system facilities the updater needs. platform_win.cpp
/// implements them with Win32 calls, platform_unix.cpp for other systems; the
/// rest of the program calls only these functions.
namespace Platform {

/// Roots of the drives to look at for the instrument's card, in drive order,
/// each ending with "/". Off Windows: the mount points of removable block
/// devices, or the ":"-separated folders of UPDATE_HUB_DRIVES when it is set.
QStringList driveRoots();

/// True when the drive at root is a removable drive.
bool isRemovableDrive(const QString &root);

/// The volume query of a drive: true when its volume information can be read
/// (off Windows: when the folder can be read).
bool queryVolume(const QString &root);

/// The maker's folder for the update notifier, ending with "/":
/// "C:/orvane/" on Windows, "orvane/" in the user's home folder elsewhere.
QString orvaneFolder();

/// Opens the registry key HKEY_CURRENT_USER\SOFTWARE\Orvane\<key> (off
/// Windows: native user settings, organisation "Orvane", application <key>).
/// The caller owns the result; destroying it writes pending values.
QSettings *openRegistryKey(const QString &key);

/// The registry path shown for a key, "HKEY_CURRENT_USER\SOFTWARE\Orvane\<key>".
QString registryKeyPath(const QString &key);

/// Ends every process with that program name by force: on Windows the name
/// of its program file, in any case, waiting until each has ended (its file
/// can then be replaced); elsewhere also matched without ".exe".
void killProcess(const QString &programName);

/// Starts a program detached with the given arguments (the shell "open" of a
/// program file). False when it could not be started or does not exist.
bool startProgram(const QString &program, const QStringList &arguments = {});

/// True when the system is Windows Vista or later (always true off Windows).
bool windowsVistaOrLater();

/// Free bytes on the volume that holds path; -1 when unknown.
qint64 freeSpace(const QString &path);

/// The allocation unit of the volume that holds path, in bytes (Windows:
/// sectors per cluster times bytes per sector; elsewhere the file system's
/// block size); every file takes a whole number of them. -1 when unknown.
qint64 clusterSize(const QString &path);

/// True when the volume that holds path takes no writes (a write-protected
/// card, a read-only mount).
bool volumeReadOnly(const QString &path);

/// The attributes a replaced file hands on to the file that takes its place:
/// read-only, hidden and system on Windows, the permission bits elsewhere.
/// Empty when the file cannot be queried.
std::optional<quint32> fileAttributes(const QString &path);

/// Gives path the attributes that fileAttributes() read from another file,
/// leaving its others alone. False when the system refuses.
bool setFileAttributes(const QString &path, quint32 attributes);

/// Makes a file one that can be written like any other: read-only, hidden
/// and system cleared on Windows, write permission for its owner elsewhere.
bool makeWritable(const QString &path);

/// Lets the heap keep memory that large transfers free, for reuse: the
/// network layer allocates each received chunk on one thread and frees it on
/// another, and an allocator that hands such memory back to the system at
/// once pays a page fault for every page of every chunk. Process-wide.
void keepFreedMemoryForReuse();

/// Writes the file's data through to its device (fdatasync, FlushFileBuffers),
/// so that a later read from the device sees what was written. False when
/// the file cannot be opened or the system refuses.
bool flushFile(const QString &path);

/// Reads the whole file as it lies on the device rather than from the
/// system's cache where the system allows it (Linux: the cached pages are
/// dropped first; Windows: an unbuffered read) and hands it to consumer in
/// chunks. False when the file cannot be opened or read, or consumer returns
/// false.
bool readFromDevice(const QString &path, const std::function<bool(const char *, qint64)> &consumer);

/// Puts source in the place of target in one step, replacing an existing
/// target (both on the same volume): there is never a moment without a file
/// at target. False when the system refuses.
bool renameOver(const QString &source, const QString &target);
/// Renames source to target only while nothing is at target: never
/// replaces a file there, also not when the system cannot say whether one
/// is there. False when target exists or the system refuses.
bool renameNew(const QString &source, const QString &target);

/// Makes a folder's entries (created, renamed, removed) durable on its
/// device. True where the system has no such step.
bool flushFolder(const QString &path);

/// A text that identifies the volume holding root: its serial number, or its
/// size and label where it has none. Empty when the volume cannot be queried.
QString volumeIdentity(const QString &root);

/// Decodes bytes written in the code page that codecName names (a text-codec
/// name such as "windows-1251", "ISO8859-5", "KOI8-R", "IBM 850",
/// "Shift_JIS"); a byte the code page does not define becomes U+FFFD.
/// Windows: MultiByteToWideChar with the code page windowsCodePage() gives
/// for the name; elsewhere the C library's iconv. Empty optional when the
/// system knows no code page of that name.
std::optional<QString> decodeCodePage(const QByteArray &bytes, const QString &codecName);

/// The Windows code page of a text-codec name ("windows-1252" 1252,
/// "ISO8859-2" 28592, "KOI8-R" 20866, "IBM 850" 850, "Shift_JIS" 932, ...),
/// ignoring case, blanks, "-" and "_"; 0 for a name without one. The same
/// on every system.
unsigned windowsCodePage(const QString &codecName);

/// Text that is not UTF-8 in a file written by a Windows program:
/// decoded as Windows-1252 (the Western code page) on Windows; as Latin-1
/// elsewhere, which keeps every byte.
QString decodeWindowsText(const QByteArray &bytes);

/// Fills functions with the zip library's functions for opening an archive
/// by its name and returns the name in the form they take, to be passed as
/// the path of zipOpen2_64 or unzOpen2_64 while the returned bytes live.
/// Windows: the wide-character functions and the name in UTF-16, so that a
/// name of any characters opens; elsewhere the standard functions and the
/// name in the file system's encoding.
QByteArray zipFileFunctions(const QString &path, zlib_filefunc64_def_s *functions);

/// Test hook: one file operation of an installation or a recovery is about
/// to happen. When UPDATE_HUB_FAULT_STOP_AT is N, the N-th call of the
/// process ends it at once with exit code faultExitCode, as a power cut or a
/// killed program would. Does nothing without that variable.
void faultPoint();
inline constexpr int faultExitCode = 86;
/// Ends this process at once with exitCode, from any thread, as a power cut
/// would: no library's clean-up runs (on Windows, ending a process the
/// ordinary way runs every DLL's clean-up, here on whichever thread made the
/// last file operation, and Qt's could crash there).
[[noreturn]] void endProcessNow(int exitCode);

/// Test hook: observer is called with the number of every file operation
/// that faultPoint() announces, on the thread that makes it, so that a test
/// in the same process can take the card away at one of them. An empty
/// function removes it; set it only while no installation runs.
void setFaultObserver(std::function<void(int)> observer);

} // namespace Platform
