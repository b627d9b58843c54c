#include "store/UsageMetrics.h"

#include "app/AppLogger.h"
#include "core/AppIdentity.h"
#include "core/ExactJson.h"
#include "platform/ProcessInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {
QString isoTime(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QJsonObject countsObject(const QHash<QString, int> &counts)
{
    QJsonObject object;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        object.insert(it.key(), it.value());
    return object;
}
} // namespace

QString UsageMetrics::defaultStatePath()
{
    return AppIdentity::dataDirectory() + QStringLiteral("/usage-metrics.json");
}

UsageMetrics::UsageMetrics(const ProcessInfo &process, QString appVersion, Sink sink, QString statePath, Clock clock,
                           std::chrono::milliseconds checkInterval, QObject *parent, std::chrono::milliseconds saveDelay)
    : QObject(parent)
    , m_process(process)
    , m_appVersion(std::move(appVersion))
    , m_sink(std::move(sink))
    , m_statePath(std::move(statePath))
    , m_clock(std::move(clock))
{
    m_timer.setInterval(checkInterval);
    connect(&m_timer, &QTimer::timeout, this, &UsageMetrics::reportIfDue);
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(saveDelay);
    connect(&m_saveTimer, &QTimer::timeout, this, &UsageMetrics::flush);
    // The shared instance lives until the process ends, past the event loop.
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &UsageMetrics::flush);
    if (!load())
        startPeriod(m_clock());
}

UsageMetrics::~UsageMetrics()
{
    flush();
}

void UsageMetrics::saveSoon()
{
    m_unsaved = true;
    if (!m_saveTimer.isActive())
        m_saveTimer.start();
}

void UsageMetrics::flush()
{
    if (m_unsaved)
        save();
}

void UsageMetrics::start()
{
    if (!m_saved)
        save();
    reportIfDue();
    m_timer.start();
}

void UsageMetrics::recordDictation()
{
    ++m_dictations;
    saveSoon();
}

void UsageMetrics::recordFailure(const QString &message)
{
    ++m_failures[message];
    saveSoon();
}

void UsageMetrics::recordLatency(const QString &name, double seconds)
{
    Latency &latency = m_latencies[name];
    latency.min = latency.count == 0 ? seconds : qMin(latency.min, seconds);
    latency.max = latency.count == 0 ? seconds : qMax(latency.max, seconds);
    latency.sum += seconds;
    ++latency.count;
    saveSoon();
}

void UsageMetrics::reportIfDue()
{
    const QDateTime now = m_clock();
    // A period that begins in the future comes from a clock set back: start again from now.
    if (!m_periodBegin.isValid() || m_periodBegin > now) {
        m_periodBegin = now;
        save();
        return;
    }
    if (std::chrono::milliseconds(m_periodBegin.msecsTo(now)) < reportPeriod)
        return;
    const QByteArray figures = report(now);
    startPeriod(now);
    save();
    m_sink(figures);
}

void UsageMetrics::startPeriod(const QDateTime &begin)
{
    m_periodBegin = begin;
    m_dictations = 0;
    m_failures.clear();
    m_latencies.clear();
}

QByteArray UsageMetrics::report(const QDateTime &end) const
{
    const ResourceUsage usage = m_process.resourceUsage();
    QJsonObject latencies;
    for (auto it = m_latencies.cbegin(); it != m_latencies.cend(); ++it) {
        latencies.insert(it.key(), QJsonObject{
            {QStringLiteral("count"), it->count},
            {QStringLiteral("mean"), it->sum / it->count},
            {QStringLiteral("min"), it->min},
            {QStringLiteral("max"), it->max},
        });
    }
    const QJsonObject report{
        {QStringLiteral("app_version"), m_appVersion},
        {QStringLiteral("period_begin"), isoTime(m_periodBegin)},
        {QStringLiteral("period_end"), isoTime(end)},
        {QStringLiteral("process"), QJsonObject{
            {QStringLiteral("uptime_seconds"), usage.uptimeSeconds},
            {QStringLiteral("cpu_time_seconds"), usage.userCpuSeconds + usage.systemCpuSeconds},
            {QStringLiteral("user_cpu_seconds"), usage.userCpuSeconds},
            {QStringLiteral("system_cpu_seconds"), usage.systemCpuSeconds},
            {QStringLiteral("peak_resident_bytes"), usage.peakResidentBytes},
        }},
        {QStringLiteral("dictations"), m_dictations},
        {QStringLiteral("failures"), countsObject(m_failures)},
        {QStringLiteral("latency_seconds"), latencies},
    };
    return QJsonDocument(report).toJson(QJsonDocument::Compact);
}

bool UsageMetrics::load()
{
    QFile file(m_statePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QJsonObject state = parseJsonExactly(file.readAll()).object();
    const QDateTime begin = QDateTime::fromString(state.value(QLatin1String("period_begin")).toString(), Qt::ISODateWithMs);
    if (!begin.isValid())
        return false; // unreadable: a new period starts
    startPeriod(begin);
    m_saved = true;
    m_dictations = state.value(QLatin1String("dictations")).toInt();
    const QJsonObject failures = state.value(QLatin1String("failures")).toObject();
    for (auto it = failures.begin(); it != failures.end(); ++it)
        m_failures.insert(it.key(), it->toInt());
    const QJsonObject latencies = state.value(QLatin1String("latencies")).toObject();
    for (auto it = latencies.begin(); it != latencies.end(); ++it) {
        const QJsonObject figures = it->toObject();
        const Latency latency{figures.value(QLatin1String("count")).toInt(), figures.value(QLatin1String("sum")).toDouble(),
                              figures.value(QLatin1String("min")).toDouble(), figures.value(QLatin1String("max")).toDouble()};
        if (latency.count > 0)
            m_latencies.insert(it.key(), latency);
    }
    return true;
}

void UsageMetrics::save()
{
    m_saveTimer.stop();
    m_unsaved = false;
    m_saved = true;
    QJsonObject latencies;
    for (auto it = m_latencies.cbegin(); it != m_latencies.cend(); ++it) {
        latencies.insert(it.key(), QJsonObject{
            {QStringLiteral("count"), it->count},
            {QStringLiteral("sum"), it->sum},
            {QStringLiteral("min"), it->min},
            {QStringLiteral("max"), it->max},
        });
    }
    const QJsonObject state{
        {QStringLiteral("period_begin"), isoTime(m_periodBegin)},
        {QStringLiteral("dictations"), m_dictations},
        {QStringLiteral("failures"), countsObject(m_failures)},
        {QStringLiteral("latencies"), latencies},
    };
    QDir().mkpath(QFileInfo(m_statePath).absolutePath());
    QSaveFile file(m_statePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(state).toJson(QJsonDocument::Compact)) < 0
        || !file.commit())
        qCCritical(AppLogger::metricsKitObserver, "Could not keep the usage figures in %s: %s", qPrintable(m_statePath),
                   qPrintable(file.errorString()));
}
