#pragma once

#include <QString>

/// What the tests need of the system beyond the platform layer: the
/// superuser check and small tmpfs mounts (a full disk, a read-only card).
/// testsystem_unix.cpp does them with POSIX calls; on Windows there is no
/// tmpfs and no superuser that writes through a read-only folder, so the
/// tests that need them skip.
namespace TestSystem {

/// True when the process runs as the superuser (root writes through permission bits).
bool isSuperUser();
/// Mounts a tmpfs at path with the given mount options ("size=1m"); false when it cannot.
bool mountTmpfs(const QString &path, const QString &options);
/// Makes the tmpfs at path read-only; false when it cannot.
bool remountReadOnly(const QString &path);
/// Unmounts what is mounted at path (lazily: a file still open does not stop it).
void unmount(const QString &path);

} // namespace TestSystem
