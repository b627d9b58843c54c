#include "platform/linux/process/LinuxProcessInfo.h"

#include "platform/linux/process/ProcessClock.h"

#include <QSysInfo>

#include <sys/resource.h>
#include <unistd.h>

ResourceUsage LinuxProcessInfo::resourceUsage() const
{
    ResourceUsage usage;
    rusage self{};
    if (getrusage(RUSAGE_SELF, &self) == 0) {
        usage.userCpuSeconds = double(self.ru_utime.tv_sec) + double(self.ru_utime.tv_usec) / 1e6;
        usage.systemCpuSeconds = double(self.ru_stime.tv_sec) + double(self.ru_stime.tv_usec) / 1e6;
        usage.peakResidentBytes = qint64(self.ru_maxrss) * 1024; // reported in KiB
    }
    if (const std::optional<qint64> start = ProcessClock::startBoottimeNs())
        usage.uptimeSeconds = double(ProcessClock::boottimeNs() - *start) / 1e9;
    return usage;
}

QString LinuxProcessInfo::osVersion() const
{
    // PRETTY_NAME of os-release (/etc, then /usr/lib), or a name built from the kernel without one.
    return QSysInfo::prettyProductName();
}

QString LinuxProcessInfo::platformName() const
{
    return QStringLiteral("linux");
}

uint LinuxProcessInfo::userId() const
{
    return ::getuid();
}
