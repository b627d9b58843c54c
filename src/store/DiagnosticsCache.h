#pragma once

#include <QDateTime>
#include <QFileInfo>
#include <QJsonObject>
#include <QMutex>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

// The folder of report files waiting for upload: one pretty-printed JSON object per file, named
// after the local time of writing ("yyyyMMdd-HHmmss-SSS") and the report's kind, e.g.
// 20261206-101500-042-metric.json. Every write first deletes whatever is older than maxAge.
// Safe to use from several threads.
class DiagnosticsCache {
public:
    using Clock = std::function<QDateTime()>;
    // A file's creation time; invalid when the file system does not record one.
    using BirthTimeReader = std::function<QDateTime(const QFileInfo &)>;

    static constexpr std::chrono::seconds maxAge{604800}; // 7 days

    // <XDG data home>/quillfen.MurlexMac/diagnostics_cache
    static QString defaultDirectory();
    static QDateTime fileSystemBirthTime(const QFileInfo &file);

    explicit DiagnosticsCache(QString directory = defaultDirectory(), Clock clock = &QDateTime::currentDateTime,
                              BirthTimeReader birthTime = &DiagnosticsCache::fileSystemBirthTime);

    QString directory() const { return m_directory; }

    // Prunes, then writes `report` as a new file; answers its name, or none when it could not be
    // written (logged; the report is lost). Never replaces an earlier report: a name already
    // taken moves on to the next millisecond.
    std::optional<QString> write(const QJsonObject &report, const QString &kind);
    // Deletes every file created more than maxAge ago.
    void pruneOldFiles();
    // When `file` was created: its birth time, or where the file system keeps none, the time it
    // was last written (for these files, written once, the same).
    QDateTime creationTime(const QFileInfo &file) const;

private:
    const QString m_directory;
    const Clock m_clock;
    const BirthTimeReader m_birthTime;
    QMutex m_mutex;
};
