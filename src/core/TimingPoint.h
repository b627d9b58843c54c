#pragma once

#include <QLoggingCategory>

#include <ctime>

// One moment of a dictation's way through the application, logged at debug level as
// "timing: <point> <CLOCK_MONOTONIC nanoseconds>" under the given category, so that the stages
// between two points can be read from the log (the benchmark does). With debug lines off for the
// category the clock is not even read: the call costs one flag test.
//   TimingPoint::mark(AppLogger::audio, "first_samples");
struct TimingPoint {
    using Category = const QLoggingCategory &(*)();

    static qint64 monotonicNs()
    {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    }

    static void mark(Category category, const char *point)
    {
        // The arguments are evaluated only when the line is written.
        qCDebug(category, "timing: %s %lld", point, static_cast<long long>(monotonicNs()));
    }
};
