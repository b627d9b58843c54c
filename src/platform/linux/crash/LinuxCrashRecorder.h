#pragma once

#include "platform/CrashRecorder.h"

#include <QByteArray>

// The crash record as a file of fixed layout (RunRecordLayout), held open and locked for the whole
// run: the lock keeps a second running instance from taking the first one's record for an
// abnormal end. Frames are symbolised at the next start, from the memory map the crash recorded.
class LinuxCrashRecorder : public CrashRecorder {
public:
    // The process-wide recorder (never destroyed).
    static LinuxCrashRecorder &instance();

    std::optional<PreviousRun> beginRun(const QString &recordPath, const QString &appVersion) override;
    void setPhase(const QString &phase) override;
    void endRun() override;

private:
    // The raw backtrace of a crash, symbolised only once this run's record has replaced it: should
    // symbolising ever crash, that crash is recorded instead and the next start does not repeat it.
    struct RawBacktrace {
        QList<quint64> frames;
        quint64 pc = 0;
        QByteArray memoryMap;
    };
    static std::optional<PreviousRun> readPrevious(int fd, RawBacktrace &raw);
    static QList<StackFrame> symbolized(const RawBacktrace &raw);
    bool startRecord(const QString &appVersion);

    int m_fd = -1;
};
