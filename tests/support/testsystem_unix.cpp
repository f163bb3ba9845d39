#include "support/testsystem.h"

#include <QFile>

#include <sys/mount.h>
#include <unistd.h>

namespace TestSystem {

bool isSuperUser()
{
    return geteuid() == 0;
}

bool mountTmpfs(const QString &path, const QString &options)
{
    return mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0, options.toLatin1().constData()) == 0;
}

bool remountReadOnly(const QString &path)
{
    return mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

void unmount(const QString &path)
{
    umount2(QFile::encodeName(path).constData(), MNT_DETACH);
}

bool underWine()
{
    return false;
}

void clearUserState()
{
}

void withoutConsole(QProcess &)
{
}

QString hostPath(const QString &path)
{
    return path;
}

} // namespace TestSystem
