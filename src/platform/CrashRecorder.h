#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// One frame of a backtrace, symbolised as far as the binaries on disk allow.
struct StackFrame {
    quint64 address = 0;        // as it was in the crashed process
    QString image;              // the file the address belongs to; empty when unknown
    quint64 imageOffset = 0;    // address minus the image's load address
    QString symbol;             // demangled function name; empty when unknown
    quint64 symbolOffset = 0;   // address minus the symbol's start
    QString sourceFile;         // empty without line information
    int line = 0;
};

// How an earlier run of the application ended, when it did not end cleanly.
struct PreviousRun {
    enum class End { crashed, abnormal };

    End end = End::abnormal;
    QString appVersion;
    qint64 pid = 0;
    QDateTime launchTime;
    QString lastPhase;          // empty when the run never reported one
    QDateTime lastPhaseTime;

    // crashed only
    int signal = 0;
    QString signalName;         // e.g. "SIGSEGV"
    int signalCode = 0;         // si_code
    std::optional<quint64> faultAddress; // the address that faulted; none for a signal that was sent
    QDateTime crashTime;
    double uptimeSeconds = 0;   // from process start to the crash
    QList<StackFrame> backtrace; // innermost first; empty when none was captured
};

// Records what is needed to report a crash or an abnormal end of this run at the next start:
// a record file that stays open for the whole run, fatal-signal handlers that write into it with
// async-signal-safe calls only, and a clean-exit marker written when the process exits normally.
class CrashRecorder {
public:
    virtual ~CrashRecorder() = default;

    // Takes over the record at `recordPath`: answers how the run that wrote it last ended when that
    // was not a clean exit (none after a clean exit, on a first start, or when another running
    // instance holds the record), then starts the record of this run and installs the handlers.
    // A second call while a run is recorded does nothing and answers none.
    virtual std::optional<PreviousRun> beginRun(const QString &recordPath, const QString &appVersion) = 0;
    // The dictation phase to report should this run end badly (its textual form, e.g. "recording").
    virtual void setPhase(const QString &phase) = 0;
    // Marks this run as ended cleanly and removes the handlers. Normal process exit does it too.
    virtual void endRun() = 0;
};
