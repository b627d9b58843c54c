#include "platform/linux/process/ProcessClock.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <ctime>
#include <unistd.h>

namespace {
qint64 clockNs(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}
} // namespace

qint64 ProcessClock::realtimeNs()
{
    return clockNs(CLOCK_REALTIME);
}

qint64 ProcessClock::boottimeNs()
{
    return clockNs(CLOCK_BOOTTIME);
}

std::optional<qint64> ProcessClock::startBoottimeNs()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = stat.readAll();
    // The command name (field 2) may hold spaces and parentheses: count fields after its last ')'.
    const qsizetype nameEnd = line.lastIndexOf(')');
    if (nameEnd < 0)
        return std::nullopt;
    const QList<QByteArray> fields = line.mid(nameEnd + 2).split(' ');
    // Field 22, start time in clock ticks after boot, is the 20th after the name.
    constexpr int startTimeIndex = 22 - 3;
    if (fields.size() <= startTimeIndex)
        return std::nullopt;
    bool ok = false;
    const qulonglong ticks = fields.at(startTimeIndex).toULongLong(&ok);
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    if (!ok || ticksPerSecond <= 0)
        return std::nullopt;
    return qint64(ticks) * (1000000000 / ticksPerSecond);
}
