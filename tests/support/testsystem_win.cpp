#include "support/testsystem.h"

namespace TestSystem {

bool isSuperUser()
{
    return false;
}

bool mountTmpfs(const QString &, const QString &)
{
    return false;
}

bool remountReadOnly(const QString &)
{
    return false;
}

void unmount(const QString &)
{
}

} // namespace TestSystem
