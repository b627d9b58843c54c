// test-labels: diagnostics
// What the application keeps for its diagnostics: the usage figures and the cache of reports.
#include "platform/CrashRecorder.h"
#include "platform/Platform.h"
#include "platform/ProcessInfo.h"
#include "store/DiagnosticsCache.h"
#include "store/MetricsKitObserver.h"
#include "store/UsageMetrics.h"

#include "LogCapture.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;

namespace {
const QDateTime kStart(QDate(2026, 12, 1), QTime(9, 30), Qt::UTC);
const QString timeout = u"连接超时，请检查网络后重试"_s;
const QString injection = u"文字注入失败：检查辅助功能权限"_s;
// A clock standing still at `now`.
DiagnosticsCache::Clock at(const QDateTime &now) { return [now] { return now; }; }
QDateTime noBirthTime(const QFileInfo &) { return {}; }
constexpr qint64 kWeek = 7 * 24 * 3600;
const QString kCategory = u"MetricsKitObserver"_s;
} // namespace

class TestDiagnosticsFiles : public QObject {
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

    QString dir() const { return m_root->path() + u"/diagnostics_cache"_s; }
    QStringList files() const { return QDir(dir()).entryList(QDir::Files, QDir::Name); }
    QByteArray content(const QString &name) const
    {
        QFile file(dir() + u'/' + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QJsonObject report(const QString &name) const { return QJsonDocument::fromJson(content(name)).object(); }
    void touch(const QString &name, const QDateTime &modified = {})
    {
        QDir().mkpath(dir());
        QFile file(dir() + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{}");
        QVERIFY(file.flush()); // or closing would write, and set the time again
        if (modified.isValid())
            QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
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

    // The running application checks about hourly, neither every few seconds nor once a day, and
    // writes a dictation's figures together about a second later, not while its answer is handled.
    void runningApplicationChecksAndSavesOnTimers()
    {
        auto real = metrics();
        QVERIFY(real->checkInterval() >= 10min && real->checkInterval() <= 6h);
        QVERIFY(real->saveDelay() >= 100ms && real->saveDelay() <= 10s);
        real.reset();
        auto usage = metrics(20ms, 20ms);
        usage->start();
        QCOMPARE(storedDictations(), 0);
        usage->recordDictation();
        usage->recordLatency(u"asr_time"_s, 0.5);
        usage->recordDictation();
        QCOMPARE(storedDictations(), 0);
        QTRY_COMPARE(storedDictations(), 2);
        *m_now = kStart.addDays(1);
        QTRY_COMPARE(m_received->size(), 1);
        QTest::qWait(100);
        QCOMPARE(m_received->size(), 1);
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
    // Named after the local time to the millisecond; a second report in the same millisecond must
    // survive too.
    void writesPrettySortedFilesNamedAfterTheLocalTime()
    {
        DiagnosticsCache cache(dir(), at(QDateTime(QDate(2026, 12, 6), QTime(23, 59, 59, 999))));
        LogCapture log;
        const QJsonObject written{{u"zeta"_s, 1}, {u"alpha"_s, QJsonObject{{u"y"_s, 2}, {u"x"_s, 3}}}};
        const QString first = u"20261206-235959-999-diagnostic.json"_s;
        QCOMPARE(cache.write(written, u"diagnostic"_s), first);
        QCOMPARE(files(), QStringList{first});
        QVERIFY(log.contains(kCategory, QtInfoMsg, u"Cached diagnostic payload: "_s + first));
        QVERIFY(content(first).contains("\n    \"alpha\": {\n        \"x\": 3,\n        \"y\": 2\n    },\n    \"zeta\": 1\n"));
        QCOMPARE(cache.write({{u"n"_s, 2}}, u"diagnostic"_s), u"20261207-000000-000-diagnostic.json"_s);
        QCOMPARE(cache.write({{u"n"_s, 3}}, u"metric"_s), u"20261206-235959-999-metric.json"_s);
        QCOMPARE(files().size(), 3);
        QCOMPARE(report(first), written);
        QCOMPARE(report(u"20261207-000000-000-diagnostic.json"_s).value("n"_L1).toInt(), 2);
    }

    void observerDropsReportsThatAreNotObjects()
    {
        MetricsKitObserver::Options options;
        options.cacheDirectory = dir();
        options.usageStatePath = m_root->path() + u"/usage.json"_s;
        MetricsKitObserver observer(options);
        LogCapture log;
        observer.cache("{\"broken\": ", MetricsKitObserver::ReportKind::metric);
        observer.cache("[1]", MetricsKitObserver::ReportKind::diagnostic);
        QCOMPARE(log.messages(kCategory, QtCriticalMsg), (QStringList{u"Could not deserialize MXMetricPayload"_s, u"Could not deserialize MXDiagnosticPayload"_s}));
        QVERIFY(files().isEmpty());
        observer.cache("{\"ok\":true}", MetricsKitObserver::ReportKind::diagnostic);
        QCOMPARE(files().size(), 1);
        QVERIFY(files().first().endsWith("-diagnostic.json"_L1));
    }

    // A write prunes files created more than 7 days before it (of any name; folders are left
    // alone), by the file system's own birth time.
    void writePrunesByCreationTime()
    {
        QCOMPARE(qint64(DiagnosticsCache::maxAge.count()), kWeek);
        touch(u"old-metric.json"_s);
        touch(u"notes.txt"_s);
        QVERIFY(QDir().mkpath(dir() + u"/folder"_s));
        const QDateTime now = QDateTime::currentDateTime();
        QVERIFY(DiagnosticsCache(dir(), at(now.addSecs(kWeek - 24 * 3600))).write({{u"n"_s, 1}}, u"metric"_s));
        QCOMPARE(files().size(), 3);
        QVERIFY(DiagnosticsCache(dir(), at(now.addSecs(kWeek + 1))).write({{u"n"_s, 2}}, u"diagnostic"_s));
        QVERIFY(!QFile::exists(dir() + u"/old-metric.json"_s) && !QFile::exists(dir() + u"/notes.txt"_s));
        QVERIFY(QFileInfo(dir() + u"/folder"_s).isDir());
        QCOMPARE(files().size(), 1); // the one written just now
    }

    // Without a birth time the modification time stands in: a file is not kept forever.
    void withoutBirthTimeTheModificationTimeCounts()
    {
        const QDateTime now = QDateTime::currentDateTime();
        touch(u"stale.json"_s, now.addSecs(-kWeek - 1));
        touch(u"recent.json"_s, now.addSecs(-kWeek + 24 * 3600));
        DiagnosticsCache withoutBirth(dir(), &QDateTime::currentDateTime, &noBirthTime);
        withoutBirth.pruneOldFiles();
        QCOMPARE(files(), (QStringList{u"recent.json"_s}));
        // Where the file system keeps a birth time, it decides: this file was made just now.
        touch(u"rewound.json"_s, now.addSecs(-2 * kWeek));
        DiagnosticsCache withBirth(dir());
        QVERIFY(DiagnosticsCache::fileSystemBirthTime(QFileInfo(dir() + u"/rewound.json"_s)).isValid());
        withBirth.pruneOldFiles();
        QVERIFY(QFile::exists(dir() + u"/rewound.json"_s));
    }

    void unwritableCacheLosesTheReportWithALogLine()
    {
        QFile blocker(dir()); // a file where the folder should be
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        DiagnosticsCache cache(dir());
        LogCapture log;
        QCOMPARE(cache.write({{u"n"_s, 1}}, u"diagnostic"_s), std::nullopt);
        const QStringList errors = log.messages(kCategory, QtCriticalMsg);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith("Failed to cache diagnostic payload: "_L1), qPrintable(errors.first()));
    }
};

QTEST_GUILESS_MAIN(TestDiagnosticsFiles)
#include "tst_diagnosticsfiles.moc"
