#pragma once

#include "platform/CrashRecorder.h"

#include <QJsonObject>
#include <QString>

#include <optional>

// The diagnostic reports: keeps a record of this run through the platform's crash recorder and,
// at start, turns the record of a run that crashed or ended abnormally into a report.
class DiagnosticReportSource {
public:
    // <XDG data home>/quillfen.MurlexMac/run-record (beside the cache, never inside it: pruning
    // would take it).
    static QString defaultRecordPath();

    explicit DiagnosticReportSource(CrashRecorder &recorder, QString recordPath = defaultRecordPath());

    // Starts recording this run; answers the report of the previous run when it ended badly.
    std::optional<QJsonObject> begin(const QString &appVersion);
    // The dictation phase named in a report, should this run end badly.
    void setPhase(const QString &phase);

    // The report of `run`: its kind of end ("crash" or "abnormal_end"), version, process, times,
    // last phase, and for a crash the signal and the symbolised backtrace.
    static QJsonObject report(const PreviousRun &run);

private:
    CrashRecorder &m_recorder;
    const QString m_recordPath;
};
