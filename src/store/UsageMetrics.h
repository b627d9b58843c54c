#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

class ProcessInfo;

// The daily metric report: the application feeds it what it sees (dictations, failures by
// message, latencies), and at most once per reportPeriod it hands a report of those figures and
// of the process's own (uptime, CPU time, peak resident memory) to the sink, then starts a new
// period. The figures of the open period are kept in a small file, so a restart loses nothing:
// changes are written together saveDelay after the first of them (a dictation's answer brings
// several at once, and the paste that follows must not wait for the disk), and at the latest when
// the application quits or this is destroyed. Lives on the main thread.
class UsageMetrics : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;
    using Sink = std::function<void(const QByteArray &report)>;

    static constexpr std::chrono::hours reportPeriod{24};
    // How often a running application looks whether a report is due.
    static constexpr std::chrono::milliseconds defaultCheckInterval = std::chrono::hours(1);
    // How long changed figures wait before they are written.
    static constexpr std::chrono::milliseconds defaultSaveDelay = std::chrono::seconds(1);

    // <XDG data home>/quillfen.MurlexMac/usage-metrics.json
    static QString defaultStatePath();

    UsageMetrics(const ProcessInfo &process, QString appVersion, Sink sink, QString statePath = defaultStatePath(),
                 Clock clock = &QDateTime::currentDateTime, std::chrono::milliseconds checkInterval = defaultCheckInterval,
                 QObject *parent = nullptr, std::chrono::milliseconds saveDelay = defaultSaveDelay);
    // Writes what is still waiting.
    ~UsageMetrics() override;

    // Reports the open period when due, and from then on looks every check interval.
    void start();
    std::chrono::milliseconds checkInterval() const { return std::chrono::milliseconds(m_timer.interval()); }
    std::chrono::milliseconds saveDelay() const { return std::chrono::milliseconds(m_saveTimer.interval()); }

    void recordDictation();
    // A failure shown to the user, counted by its message.
    void recordFailure(const QString &message);
    // A measured duration, e.g. "asr_time" of a finished dictation.
    void recordLatency(const QString &name, double seconds);

    // Hands the report of the open period to the sink when the period is complete.
    void reportIfDue();

private:
    struct Latency {
        int count = 0;
        double sum = 0;
        double min = 0;
        double max = 0;
    };

    QByteArray report(const QDateTime &end) const;
    // The open period from the state file; false when there is none that can be read.
    bool load();
    void save();
    // The figures changed: written once saveDelay has passed.
    void saveSoon();
    // Writes now if anything waits.
    void flush();
    void startPeriod(const QDateTime &begin);

    const ProcessInfo &m_process;
    const QString m_appVersion;
    const Sink m_sink;
    const QString m_statePath;
    const Clock m_clock;
    QTimer m_timer;
    QTimer m_saveTimer;

    bool m_saved = false; // the state file holds the open period
    bool m_unsaved = false; // figures changed since the last write
    QDateTime m_periodBegin;
    int m_dictations = 0;
    QHash<QString, int> m_failures;
    QHash<QString, Latency> m_latencies;
};
