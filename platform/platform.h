#pragma once

#include <QString>
#include <QStringList>

class QSettings;

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

/// Ends every process with that program name by force ("taskkill /F /IM name";
/// off Windows the name is also matched without ".exe"). Waits until done.
void killProcess(const QString &programName);

/// Starts a program detached with the given arguments (the shell "open" of a
/// program file). False when it could not be started or does not exist.
bool startProgram(const QString &program, const QStringList &arguments = {});

/// True when the system is Windows Vista or later (always true off Windows).
bool windowsVistaOrLater();

/// Free bytes on the volume that holds path; -1 when unknown.
qint64 freeSpace(const QString &path);

/// Lets the heap keep memory that large transfers free, for reuse: the
/// network layer allocates each received chunk on one thread and frees it on
/// another, and an allocator that hands such memory back to the system at
/// once pays a page fault for every page of every chunk. Process-wide.
void keepFreedMemoryForReuse();

} // namespace Platform
