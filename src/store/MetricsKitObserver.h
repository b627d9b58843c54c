#pragma once

#include "store/DiagnosticReportSource.h"
#include "store/DiagnosticsCache.h"
#include "store/UsageMetrics.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <memory>

class CrashRecorder;
class ProcessInfo;

// Receives the application's reports about itself and keeps each one in the diagnostics cache:
// a "diagnostic" report after a crash or an abnormal end of the previous run, and a daily
// "metric" report of usage figures. Nothing leaves the machine until the user uploads
// (DiagnosticsUploader). One process-wide instance; registered once at launch with start().
class MetricsKitObserver {
public:
    enum class ReportKind { metric, diagnostic };

    // Where everything lives and what it runs on; the defaults are the application's.
    struct Options {
        QString cacheDirectory = DiagnosticsCache::defaultDirectory();
        QString runRecordPath = DiagnosticReportSource::defaultRecordPath();
        QString usageStatePath = UsageMetrics::defaultStatePath();
        DiagnosticsCache::Clock clock = &QDateTime::currentDateTime;
        DiagnosticsCache::BirthTimeReader birthTime = &DiagnosticsCache::fileSystemBirthTime;
        std::chrono::milliseconds metricCheckInterval = UsageMetrics::defaultCheckInterval;
        CrashRecorder *crashRecorder = nullptr; // nullptr: the platform's
        const ProcessInfo *processInfo = nullptr; // nullptr: the platform's
    };

    // The process-wide observer with the default options, created on first use, never destroyed.
    static MetricsKitObserver &shared();
    // Registers the report sources of the shared observer (once) and logs it.
    static void start();
    // The directory the shared observer caches into (and the uploader reads).
    static QString cacheDirectory();

    MetricsKitObserver();
    explicit MetricsKitObserver(Options options);
    ~MetricsKitObserver();

    // Starts both sources: reports how the previous run ended if it ended badly, begins the record
    // of this run, and reports usage once a day. A second call does nothing.
    void registerSources();

    // Keeps one report, given as its JSON text; one that is not a JSON object is logged and dropped.
    void cache(const QByteArray &report, ReportKind kind);
    void pruneOldFiles();
    DiagnosticsCache &diagnosticsCache() { return m_cache; }

    // Call on every change of the dictation phase, with its textual form ("idle", "recording",
    // error("…")): the phase a diagnostic report names as the last one.
    void setDictationPhase(const QString &phase);
    // The figures of the daily metric report (recordDictation, recordFailure, recordLatency).
    UsageMetrics &usage() { return *m_usage; }

private:
    DiagnosticsCache m_cache;
    DiagnosticReportSource m_diagnostics;
    std::unique_ptr<UsageMetrics> m_usage;
    bool m_registered = false;
};
