// test-labels: diagnostics
// The daily metric report: its figures, at most one a day, figures kept across a restart, the
// periodic check, and the observer's registration that puts the report into the cache.
#include "platform/CrashRecorder.h"
#include "platform/ProcessInfo.h"
#include "store/MetricsKitObserver.h"
#include "store/UsageMetrics.h"

#include "LogCapture.h"
#include "platform/Platform.h"

#include <QDir>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

const QDateTime kStart(QDate(2026, 12, 1), QTime(9, 30), Qt::UTC);

} // namespace

class TestUsageMetrics : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_root;
    std::shared_ptr<QDateTime> m_now;
    std::shared_ptr<QList<QJsonObject>> m_received; // the reports handed to the sink

    QString statePath() const { return m_root->path() + QStringLiteral("/usage-metrics.json"); }

    std::unique_ptr<UsageMetrics> metrics(std::chrono::milliseconds checkInterval = UsageMetrics::defaultCheckInterval)
    {
        auto sink = [received = m_received](const QByteArray &report) { received->append(QJsonDocument::fromJson(report).object()); };
        return std::make_unique<UsageMetrics>(Platform::processInfo(), QStringLiteral("0.1.0"), sink, statePath(),
                                              [now = m_now] { return *now; }, checkInterval);
    }

private Q_SLOTS:
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        QVERIFY(m_root->isValid());
        m_now = std::make_shared<QDateTime>(kStart);
        m_received = std::make_shared<QList<QJsonObject>>();
    }

    void reportsTheFiguresOnceADay()
    {
        auto usage = metrics();
        usage->start();
        usage->recordDictation();
        usage->recordDictation();
        usage->recordDictation();
        usage->recordFailure(QStringLiteral("连接超时，请检查网络后重试"));
        usage->recordFailure(QStringLiteral("连接超时，请检查网络后重试"));
        usage->recordFailure(QStringLiteral("文字注入失败：检查辅助功能权限"));
        usage->recordLatency(QStringLiteral("asr_time"), 0.5);
        usage->recordLatency(QStringLiteral("asr_time"), 1.5);
        usage->recordLatency(QStringLiteral("total_time"), 2.0);

        *m_now = kStart.addSecs(24 * 3600 - 1);
        usage->reportIfDue();
        QVERIFY(m_received->isEmpty());

        *m_now = kStart.addSecs(24 * 3600);
        usage->reportIfDue();
        QCOMPARE(m_received->size(), 1);
        const QJsonObject report = m_received->first();
        QCOMPARE(report.value(QLatin1String("app_version")).toString(), QStringLiteral("0.1.0"));
        QCOMPARE(report.value(QLatin1String("period_begin")).toString(), QStringLiteral("2026-12-01T09:30:00.000Z"));
        QCOMPARE(report.value(QLatin1String("period_end")).toString(), QStringLiteral("2026-12-02T09:30:00.000Z"));
        QCOMPARE(report.value(QLatin1String("dictations")).toInt(), 3);
        QCOMPARE(report.value(QLatin1String("failures")).toObject(),
                 (QJsonObject{{QStringLiteral("连接超时，请检查网络后重试"), 2}, {QStringLiteral("文字注入失败：检查辅助功能权限"), 1}}));
        const QJsonObject asr = report.value(QLatin1String("latency_seconds")).toObject().value(QLatin1String("asr_time")).toObject();
        QCOMPARE(asr, (QJsonObject{{QStringLiteral("count"), 2}, {QStringLiteral("mean"), 1.0}, {QStringLiteral("min"), 0.5}, {QStringLiteral("max"), 1.5}}));
        // The process's own figures, as this very process has them.
        const QJsonObject process = report.value(QLatin1String("process")).toObject();
        QVERIFY(process.value(QLatin1String("uptime_seconds")).toDouble() > 0);
        QVERIFY(process.value(QLatin1String("uptime_seconds")).toDouble() < 3600);
        QVERIFY(process.value(QLatin1String("cpu_time_seconds")).toDouble() > 0);
        QCOMPARE(process.value(QLatin1String("cpu_time_seconds")).toDouble(),
                 process.value(QLatin1String("user_cpu_seconds")).toDouble() + process.value(QLatin1String("system_cpu_seconds")).toDouble());
        QVERIFY(process.value(QLatin1String("peak_resident_bytes")).toInteger() > 1 << 20);

        // Not again the same day; the next report holds only what came after.
        *m_now = kStart.addSecs(47 * 3600);
        usage->recordDictation();
        usage->reportIfDue();
        QCOMPARE(m_received->size(), 1);
        *m_now = kStart.addSecs(48 * 3600);
        usage->reportIfDue();
        QCOMPARE(m_received->size(), 2);
        const QJsonObject next = m_received->last();
        QCOMPARE(next.value(QLatin1String("dictations")).toInt(), 1);
        QVERIFY(next.value(QLatin1String("failures")).toObject().isEmpty());
        QVERIFY(next.value(QLatin1String("latency_seconds")).toObject().isEmpty());
    }

    void figuresSurviveARestart()
    {
        {
            auto before = metrics();
            before->start();
            before->recordDictation();
            before->recordFailure(QStringLiteral("处理超时"));
            before->recordLatency(QStringLiteral("polish_time"), 0.25);
        }
        *m_now = kStart.addSecs(30 * 3600);
        auto after = metrics();
        after->start(); // a day has passed since the period began: reported at once
        QCOMPARE(m_received->size(), 1);
        const QJsonObject report = m_received->first();
        QCOMPARE(report.value(QLatin1String("period_begin")).toString(), QStringLiteral("2026-12-01T09:30:00.000Z"));
        QCOMPARE(report.value(QLatin1String("dictations")).toInt(), 1);
        QCOMPARE(report.value(QLatin1String("failures")).toObject().value(QStringLiteral("处理超时")).toInt(), 1);
        QCOMPARE(report.value(QLatin1String("latency_seconds")).toObject().value(QLatin1String("polish_time")).toObject().value(QLatin1String("max")).toDouble(), 0.25);
    }

    void unreadableStateOrClockSetBackStartsAfresh()
    {
        QFile state(statePath());
        QVERIFY(state.open(QIODevice::WriteOnly));
        state.write("{\"period_begin\": 12");
        state.close();
        auto usage = metrics();
        usage->start();
        QVERIFY(m_received->isEmpty());

        // The clock goes back a week: the period restarts from there instead of waiting eight days.
        *m_now = kStart.addDays(-7);
        usage->reportIfDue();
        *m_now = kStart.addDays(-6);
        usage->reportIfDue();
        QCOMPARE(m_received->size(), 1);
        QCOMPARE(m_received->first().value(QLatin1String("dictations")).toInt(), 0);
    }

    void runningApplicationChecksPeriodically()
    {
        // The real interval: about an hour, neither seconds nor days.
        auto real = metrics();
        QVERIFY(real->checkInterval() >= 10min && real->checkInterval() <= 6h);
        real.reset();

        auto usage = metrics(20ms);
        usage->start();
        usage->recordDictation();
        *m_now = kStart.addDays(1);
        QTRY_COMPARE(m_received->size(), 1);
        QTest::qWait(100);
        QCOMPARE(m_received->size(), 1);
    }

    void observerRegistersTheSourcesAndCachesTheMetricReport()
    {
        // An open period that began more than a day ago, left by an earlier run.
        QFile state(statePath());
        QVERIFY(state.open(QIODevice::WriteOnly));
        state.write(QJsonDocument(QJsonObject{{QStringLiteral("period_begin"), QDateTime::currentDateTimeUtc().addDays(-2).toString(Qt::ISODateWithMs)},
                                              {QStringLiteral("dictations"), 4}})
                        .toJson());
        state.close();

        MetricsKitObserver::Options options;
        options.cacheDirectory = m_root->path() + QStringLiteral("/cache");
        options.runRecordPath = m_root->path() + QStringLiteral("/run-record");
        options.usageStatePath = statePath();
        MetricsKitObserver observer(options);
        LogCapture log;
        observer.registerSources();
        observer.registerSources(); // once only
        Platform::crashRecorder().endRun();

        QCOMPARE(log.count(QStringLiteral("MetricsKitObserver"), QtInfoMsg, QStringLiteral("MetricsKitObserver registered")), 1);
        // A first run has no previous one to report; the due metric report is cached.
        const QStringList files = QDir(options.cacheDirectory).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY(files.first().endsWith(QLatin1String("-metric.json")));
        QFile cached(options.cacheDirectory + QLatin1Char('/') + files.first());
        QVERIFY(cached.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(cached.readAll()).object().value(QLatin1String("dictations")).toInt(), 4);
    }
};

QTEST_GUILESS_MAIN(TestUsageMetrics)
#include "tst_usagemetrics.moc"
