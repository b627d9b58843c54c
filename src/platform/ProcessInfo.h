#pragma once

#include <QString>

// What the process has used so far.
struct ResourceUsage {
    double uptimeSeconds = 0;     // since the process started
    double userCpuSeconds = 0;
    double systemCpuSeconds = 0;
    qint64 peakResidentBytes = 0; // high-water mark of resident memory
};

// Facts about this process and the system it runs on.
class ProcessInfo {
public:
    virtual ~ProcessInfo() = default;

    virtual ResourceUsage resourceUsage() const = 0;
    // The operating system's human-readable name and version, e.g. "Debian GNU/Linux 12 (bookworm)".
    virtual QString osVersion() const = 0;
    // The short name of this platform as the backend knows it, e.g. "linux".
    virtual QString platformName() const = 0;
    // The numeric id of the user the process runs as.
    virtual uint userId() const = 0;
};
