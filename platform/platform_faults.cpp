// Fault hooks shared by every system. They only act when a test sets their
// environment variable; an ordinary run never sets them.
#include "platform/platform.h"
#include "platform/platform_faults.h"

#include <QByteArray>
#include <QtGlobal>

#include <atomic>
#include <cstdlib>

namespace {

int stopAt()
{
    static const int value = qEnvironmentVariableIntValue("UPDATE_HUB_FAULT_STOP_AT");
    return value;
}

std::atomic<int> operations{0};

} // namespace

namespace Platform {

void faultPoint()
{
    const int limit = stopAt();
    if (limit <= 0)
        return;
    if (++operations >= limit)
        std::_Exit(faultExitCode);
}

} // namespace Platform

namespace PlatformFaults {

bool flipsReadBack(const QString &path)
{
    if (!qEnvironmentVariableIsSet("UPDATE_HUB_FAULT_FLIP"))
        return false;
    const QString part = qEnvironmentVariable("UPDATE_HUB_FAULT_FLIP");
    return !part.isEmpty() && path.contains(part);
}

} // namespace PlatformFaults
