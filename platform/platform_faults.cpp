// Fault hooks shared by every system. They only act when a test sets their
// environment variable; an ordinary run never sets them.
#include "platform/platform.h"
#include "platform/platform_faults.h"

#include <QByteArray>
#include <QtGlobal>

#include <atomic>
#include <functional>

namespace {

int stopAt()
{
    static const int value = qEnvironmentVariableIntValue("UPDATE_HUB_FAULT_STOP_AT");
    return value;
}

std::atomic<int> operations{0};
std::function<void(int)> observer;
std::atomic<bool> observed{false};

} // namespace

namespace Platform {

void faultPoint()
{
    const int limit = stopAt();
    if (limit <= 0 && !observed.load())
        return;
    const int count = ++operations;
    if (limit > 0 && count >= limit)
        endProcessNow(faultExitCode);
    if (observed.load())
        observer(count);
}

void setFaultObserver(std::function<void(int)> newObserver)
{
    observed = false;
    observer = std::move(newObserver);
    operations = 0;
    observed = bool(observer);
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

qint64 clusterSize()
{
    return qMax<qint64>(0, qEnvironmentVariable("UPDATE_HUB_FAULT_CLUSTER_SIZE").toLongLong());
}

} // namespace PlatformFaults
