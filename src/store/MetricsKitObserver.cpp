#include "store/MetricsKitObserver.h"

#include "BuildConfig.h"
#include "app/AppLogger.h"
#include "core/ExactJson.h"
#include "platform/CrashRecorder.h"
#include "platform/Platform.h"
#include "platform/ProcessInfo.h"

#include <QJsonDocument>

namespace {

QString kindName(MetricsKitObserver::ReportKind kind)
{
    return kind == MetricsKitObserver::ReportKind::metric ? QStringLiteral("metric") : QStringLiteral("diagnostic");
}

QString appVersion()
{
    const QString version = QString::fromUtf8(BuildConfig::appVersion);
    return version.isEmpty() ? QStringLiteral("unknown") : version;
}

} // namespace

MetricsKitObserver &MetricsKitObserver::shared()
{
    static MetricsKitObserver *instance = new MetricsKitObserver;
    return *instance;
}

void MetricsKitObserver::start()
{
    shared().registerSources();
}

QString MetricsKitObserver::cacheDirectory()
{
    return DiagnosticsCache::defaultDirectory();
}

MetricsKitObserver::MetricsKitObserver(Options options)
    : m_cache(options.cacheDirectory, options.clock, options.birthTime)
    , m_diagnostics(options.crashRecorder ? *options.crashRecorder : Platform::crashRecorder(), options.runRecordPath)
    , m_usage(std::make_unique<UsageMetrics>(
          options.processInfo ? *options.processInfo : Platform::processInfo(), appVersion(),
          [this](const QByteArray &report) { cache(report, ReportKind::metric); }, options.usageStatePath,
          options.clock, options.metricCheckInterval))
{
}

MetricsKitObserver::MetricsKitObserver()
    : MetricsKitObserver(Options{})
{
}

MetricsKitObserver::~MetricsKitObserver() = default;

void MetricsKitObserver::registerSources()
{
    if (m_registered)
        return;
    m_registered = true;
    if (const std::optional<QJsonObject> report = m_diagnostics.begin(appVersion()))
        cache(QJsonDocument(*report).toJson(QJsonDocument::Compact), ReportKind::diagnostic);
    m_usage->start();
    qCInfo(AppLogger::metricsKitObserver, "MetricsKitObserver registered");
}

void MetricsKitObserver::cache(const QByteArray &report, ReportKind kind)
{
    QJsonParseError error{};
    const QJsonDocument document = parseJsonExactly(report, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        if (kind == ReportKind::metric)
            qCCritical(AppLogger::metricsKitObserver, "Could not deserialize MXMetricPayload");
        else
            qCCritical(AppLogger::metricsKitObserver, "Could not deserialize MXDiagnosticPayload");
        return;
    }
    m_cache.write(document.object(), kindName(kind));
}

void MetricsKitObserver::pruneOldFiles()
{
    m_cache.pruneOldFiles();
}

void MetricsKitObserver::setDictationPhase(const QString &phase)
{
    m_diagnostics.setPhase(phase);
}
