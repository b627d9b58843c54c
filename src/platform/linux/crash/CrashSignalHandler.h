#pragma once

// The signal handlers behind the crash record. A fatal signal (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT, SIGTRAP, SIGSYS) writes the signal, the time, a raw backtrace and the memory map into
// the record and marks it crashed; a termination signal (SIGTERM, SIGINT, SIGHUP; only where no
// one else handles it) marks the run as ended on request. Then the signal goes on to whatever
// handled it before, or to its default action. The handlers use async-signal-safe calls only.
class CrashSignalHandler {
public:
    CrashSignalHandler() = delete;

    // Installs the handlers writing into the open record `fd` (see RunRecordLayout).
    static void install(int recordFd);
    // Puts back the earlier handlers (where ours are still in place) and stops writing.
    static void uninstall();
    // Whether a fatal signal has been recorded since install().
    static bool crashRecorded();
};
