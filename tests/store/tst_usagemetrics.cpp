// test-labels: diagnostics
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

using namespace Qt::Literals::StringLiterals;

using namespace std::chrono_literals;

namespace {
const QDateTime kStart(QDate(2026, 12, 1), QTime(9, 30), Qt::UTC);
const QString timeout = u"连接超时，请检查网络后重试"_s;
const QString injection = u"文字注入失败：检查辅助功能权限"_s;
} // namespace

class TestUsageMetrics : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_root;
    std::shared_ptr<QDateTime> m_now;
    std::shared_ptr<QList<QJsonObject>> m_received; // the reports handed to the sink

    QString statePath() const { return m_root->path() + u"/usage-metrics.json"_s; }
    void writeState(const QByteArray &content)
    {
        QFile state(statePath());
        QVERIFY(state.open(QIODevice::WriteOnly));
        state.write(content);
    }

    std::unique_ptr<UsageMetrics> metrics(std::chrono::milliseconds checkInterval = UsageMetrics::defaultCheckInterval,
                                          std::chrono::milliseconds saveDelay = UsageMetrics::defaultSaveDelay)
    {
        auto sink = [received = m_received](const QByteArray &report) { received->append(QJsonDocument::fromJson(report).object()); };
        return std::make_unique<UsageMetrics>(Platform::processInfo(), u"0.1.0"_s, sink, statePath(),
                                              [now = m_now] { return *now; }, checkInterval, nullptr, saveDelay);
    }

    // The dictation count in the state file; -1 without one.
    int storedDictations() const
    {
        QFile state(statePath());
        if (!state.open(QIODevice::ReadOnly))
            return -1;
        return QJsonDocument::fromJson(state.readAll()).object().value("dictations"_L1).toInt(-1);
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
        for (const QString &failure : {timeout, timeout, injection}) {
            usage->recordDictation();
            usage->recordFailure(failure);
        }
        usage->recordLatency(u"asr_time"_s, 0.5);
        usage->recordLatency(u"asr_time"_s, 1.5);
        usage->recordLatency(u"total_time"_s, 2.0);
        *m_now = kStart.addSecs(24 * 3600 - 1);
        usage->reportIfDue();
        QVERIFY(m_received->isEmpty());
        *m_now = kStart.addSecs(24 * 3600);
        usage->reportIfDue();
        QCOMPARE(m_received->size(), 1);
        const QJsonObject report = m_received->first();
        QCOMPARE(report.value("app_version"_L1).toString(), u"0.1.0"_s);
        QCOMPARE(report.value("period_begin"_L1).toString(), u"2026-12-01T09:30:00.000Z"_s);
        QCOMPARE(report.value("period_end"_L1).toString(), u"2026-12-02T09:30:00.000Z"_s);
        QCOMPARE(report.value("dictations"_L1).toInt(), 3);
        QCOMPARE(report.value("failures"_L1).toObject(), (QJsonObject{{timeout, 2}, {injection, 1}}));
        const QJsonObject asr = report.value("latency_seconds"_L1).toObject().value("asr_time"_L1).toObject();
        QCOMPARE(asr, (QJsonObject{{u"count"_s, 2}, {u"mean"_s, 1.0}, {u"min"_s, 0.5}, {u"max"_s, 1.5}}));
        // The process's own figures, as this very process has them.
        const QJsonObject process = report.value("process"_L1).toObject();
        QVERIFY(process.value("uptime_seconds"_L1).toDouble() > 0 && process.value("uptime_seconds"_L1).toDouble() < 3600);
        QVERIFY(process.value("cpu_time_seconds"_L1).toDouble() > 0);
        QCOMPARE(process.value("cpu_time_seconds"_L1).toDouble(),
                 process.value("user_cpu_seconds"_L1).toDouble() + process.value("system_cpu_seconds"_L1).toDouble());
        QVERIFY(process.value("peak_resident_bytes"_L1).toInteger() > 1 << 20);
        // Not again the same day; the next report holds only what came after.
        *m_now = kStart.addSecs(47 * 3600);
        usage->recordDictation();
        usage->reportIfDue();
        QCOMPARE(m_received->size(), 1);
        *m_now = kStart.addSecs(48 * 3600);
        usage->reportIfDue();
        QCOMPARE(m_received->size(), 2);
        const QJsonObject next = m_received->last();
        QCOMPARE(next.value("dictations"_L1).toInt(), 1);
        QVERIFY(next.value("failures"_L1).toObject().isEmpty());
        QVERIFY(next.value("latency_seconds"_L1).toObject().isEmpty());
    }

    void figuresSurviveARestart()
    {
        {
            auto before = metrics();
            before->start();
            before->recordDictation();
            before->recordFailure(u"处理超时"_s);
            before->recordLatency(u"polish_time"_s, 0.25);
        }
        *m_now = kStart.addSecs(30 * 3600);
        auto after = metrics();
        after->start(); // a day has passed since the period began: reported at once
        QCOMPARE(m_received->size(), 1);
        const QJsonObject report = m_received->first();
        QCOMPARE(report.value("period_begin"_L1).toString(), u"2026-12-01T09:30:00.000Z"_s);
        QCOMPARE(report.value("dictations"_L1).toInt(), 1);
        QCOMPARE(report.value("failures"_L1).toObject().value(u"处理超时"_s).toInt(), 1);
        QCOMPARE(report.value("latency_seconds"_L1).toObject().value("polish_time"_L1).toObject().value("max"_L1).toDouble(), 0.25);
    }

    void unreadableStateOrClockSetBackStartsAfresh()
    {
        writeState("{\"period_begin\": 12");
        auto usage = metrics();
        usage->start();
        QVERIFY(m_received->isEmpty());
        // The clock goes back a week: the period restarts from there instead of waiting eight days.
        *m_now = kStart.addDays(-7);
        usage->reportIfDue();
        *m_now = kStart.addDays(-6);
        usage->reportIfDue();
        QCOMPARE(m_received->size(), 1);
        QCOMPARE(m_received->first().value("dictations"_L1).toInt(), 0);
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

    // A dictation's figures reach the file together, a moment later, not while its answer is handled.
    void changesAreWrittenTogetherAfterADelay()
    {
        // The real delay: about a second, neither immediate nor long enough to lose much in a crash.
        auto real = metrics();
        QVERIFY(real->saveDelay() >= 100ms && real->saveDelay() <= 10s);
        real.reset();
        auto usage = metrics(UsageMetrics::defaultCheckInterval, 20ms);
        usage->start();
        QCOMPARE(storedDictations(), 0);
        usage->recordDictation();
        usage->recordLatency(u"asr_time"_s, 0.5);
        usage->recordDictation();
        QCOMPARE(storedDictations(), 0);
        QTRY_COMPARE(storedDictations(), 2);
        usage->recordFailure(u"处理超时"_s);
        QCOMPARE(storedDictations(), 2);
        // Destroyed with a write waiting: written at once.
        usage.reset();
        QCOMPARE(storedDictations(), 2);
        QFile state(statePath());
        QVERIFY(state.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(state.readAll()).object().value("failures"_L1).toObject().value(u"处理超时"_s).toInt(), 1);
    }

    void observerRegistersTheSourcesAndCachesTheMetricReport()
    {
        // An open period that began more than a day ago, left by an earlier run.
        writeState(QJsonDocument(QJsonObject{{u"period_begin"_s, QDateTime::currentDateTimeUtc().addDays(-2).toString(Qt::ISODateWithMs)},
                                             {u"dictations"_s, 4}}).toJson());
        MetricsKitObserver::Options options;
        options.cacheDirectory = m_root->path() + u"/cache"_s;
        options.runRecordPath = m_root->path() + u"/run-record"_s;
        options.usageStatePath = statePath();
        MetricsKitObserver observer(options);
        LogCapture log;
        observer.registerSources();
        observer.registerSources(); // once only
        Platform::crashRecorder().endRun();
        QCOMPARE(log.count(u"MetricsKitObserver"_s, QtInfoMsg, u"MetricsKitObserver registered"_s), 1);
        // A first run has no previous one to report; the due metric report is cached.
        const QStringList files = QDir(options.cacheDirectory).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY(files.first().endsWith("-metric.json"_L1));
        QFile cached(options.cacheDirectory + QLatin1Char('/') + files.first());
        QVERIFY(cached.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(cached.readAll()).object().value("dictations"_L1).toInt(), 4);
    }
};

QTEST_GUILESS_MAIN(TestUsageMetrics)
#include "tst_usagemetrics.moc"
