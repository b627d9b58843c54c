#pragma once

#include <QtGlobal>

#include <optional>

// The clocks the crash record and the usage figures are measured with.
class ProcessClock {
public:
    ProcessClock() = delete;

    static qint64 realtimeNs();
    // Monotonic, and running on through suspend: the clock /proc reports process start times in.
    static qint64 boottimeNs();
    // When this process started, on the boot-time clock; none when /proc cannot tell.
    static std::optional<qint64> startBoottimeNs();
};
