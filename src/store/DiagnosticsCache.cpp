#include "store/DiagnosticsCache.h"

#include "app/AppLogger.h"
#include "core/AppIdentity.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QMutexLocker>

namespace {
// A write gives up after this many names taken in a row.
constexpr int maxNameAttempts = 1000;
} // namespace

QString DiagnosticsCache::defaultDirectory()
{
    return AppIdentity::dataDirectory() + QStringLiteral("/diagnostics_cache");
}

QDateTime DiagnosticsCache::fileSystemBirthTime(const QFileInfo &file)
{
    return file.birthTime();
}

DiagnosticsCache::DiagnosticsCache(QString directory, Clock clock, BirthTimeReader birthTime)
    : m_directory(std::move(directory))
    , m_clock(std::move(clock))
    , m_birthTime(std::move(birthTime))
{
}

QDateTime DiagnosticsCache::creationTime(const QFileInfo &file) const
{
    const QDateTime birth = m_birthTime(file);
    return birth.isValid() ? birth : file.lastModified();
}

void DiagnosticsCache::pruneOldFiles()
{
    const QDateTime cutOff = m_clock().addSecs(-maxAge.count());
    const QDir directory(m_directory);
    if (!directory.exists())
        return;
    const QFileInfoList entries = directory.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &entry : entries) {
        if (creationTime(entry) < cutOff)
            QFile::remove(entry.filePath()); // a file that cannot go stays for the next write
    }
}

std::optional<QString> DiagnosticsCache::write(const QJsonObject &report, const QString &kind)
{
    QMutexLocker lock(&m_mutex);
    pruneOldFiles();

    const auto fail = [&kind](const QString &reason) -> std::optional<QString> {
        qCCritical(AppLogger::metricsKitObserver, "Failed to cache %s payload: %s", qPrintable(kind), qPrintable(reason));
        return std::nullopt;
    };
    if (!QDir().mkpath(m_directory))
        return fail(QStringLiteral("cannot create the directory %1").arg(m_directory));

    const QByteArray content = QJsonDocument(report).toJson(QJsonDocument::Indented); // keys come sorted
    QDateTime stamp = m_clock();
    for (int attempt = 0; attempt < maxNameAttempts; ++attempt, stamp = stamp.addMSecs(1)) {
        const QString name = stamp.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) + QLatin1Char('-') + kind
            + QStringLiteral(".json");
        QFile file(m_directory + QLatin1Char('/') + name);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (file.exists())
                continue;
            return fail(file.errorString());
        }
        if (file.write(content) != content.size() || !file.flush()) {
            const QString reason = file.errorString();
            file.remove();
            return fail(reason);
        }
        qCInfo(AppLogger::metricsKitObserver, "Cached %s payload: %s", qPrintable(kind), qPrintable(name));
        return name;
    }
    return fail(QStringLiteral("no free file name"));
}
