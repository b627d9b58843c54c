#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

// The raw record of one run, in a file that stays open for the whole run. Everything in it is
// plain data at fixed offsets, so the signal handlers can write it with pwrite() from memory
// prepared in advance; the next start reads it back and turns it into a report.
//
//   0      Header   written at the start of the run; state and phase are rewritten in place
//   4096   Crash    written by the fatal-signal handler
//   8192   the text of /proc/self/maps at the crash (Crash::mapsBytes long), for symbolising
struct RunRecordLayout {
    static constexpr char magic[8] = {'M', 'U', 'R', 'L', 'E', 'X', 'R', '1'};
    static constexpr int maxFrames = 64;
    static constexpr int versionBytes = 32;
    static constexpr int phaseBytes = 256;
    static constexpr off_t crashOffset = 4096;
    static constexpr off_t mapsOffset = 8192;
    static constexpr std::size_t maxMapsBytes = std::size_t(4) << 20;

    enum State : std::uint32_t {
        running = 1,
        exited = 2,     // clean exit
        crashed = 3,    // a fatal signal
        terminated = 4, // asked to end by a termination signal
    };

    struct Header {
        char magic[8];
        std::uint32_t state;
        std::uint32_t reserved;
        std::int64_t pid;
        std::int64_t launchRealtimeNs;  // process start on the wall clock
        std::int64_t launchBoottimeNs;  // process start on CLOCK_BOOTTIME
        char appVersion[versionBytes];  // NUL-terminated UTF-8
        // Rewritten together at every phase change.
        std::int64_t phaseRealtimeNs;
        char phase[phaseBytes];         // NUL-terminated UTF-8
    };

    struct Crash {
        std::int32_t signal;
        std::int32_t code;
        std::uint64_t faultAddress;
        std::uint64_t pc;               // where the signal interrupted; 0 when unknown
        std::int64_t realtimeNs;
        std::int64_t boottimeNs;
        std::uint32_t frameCount;
        std::uint32_t reserved;
        std::uint64_t frames[maxFrames]; // return addresses from backtrace(), innermost first
        std::uint64_t mapsBytes;
    };

    static_assert(sizeof(Header) <= std::size_t(crashOffset));
    static_assert(sizeof(Crash) <= std::size_t(mapsOffset - crashOffset));
};
