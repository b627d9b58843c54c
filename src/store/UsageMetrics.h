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
// period. The figures of the open period are kept in a small file, so a restart loses nothing.
// Lives on the main thread.
class UsageMetrics : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;
    using Sink = std::function<void(const QByteArray &report)>;

    static constexpr std::chrono::hours reportPeriod{24};
    // How often a running application looks whether a report is due.
    static constexpr std::chrono::milliseconds defaultCheckInterval = std::chrono::hours(1);

    // <XDG data home>/quillfen.MurlexMac/usage-metrics.json
    static QString defaultStatePath();

    UsageMetrics(const ProcessInfo &process, QString appVersion, Sink sink, QString statePath = defaultStatePath(),
                 Clock clock = &QDateTime::currentDateTime, std::chrono::milliseconds checkInterval = defaultCheckInterval,
                 QObject *parent = nullptr);

    // Reports the open period when due, and from then on looks every check interval.
    void start();
    std::chrono::milliseconds checkInterval() const { return std::chrono::milliseconds(m_timer.interval()); }

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
    void startPeriod(const QDateTime &begin);

    const ProcessInfo &m_process;
    const QString m_appVersion;
    const Sink m_sink;
    const QString m_statePath;
    const Clock m_clock;
    QTimer m_timer;

    bool m_saved = false; // the state file holds the open period
    QDateTime m_periodBegin;
    int m_dictations = 0;
    QHash<QString, int> m_failures;
    QHash<QString, Latency> m_latencies;
};
