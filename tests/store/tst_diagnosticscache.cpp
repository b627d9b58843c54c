// test-labels: diagnostics
// The report cache on the real file system: names, content, the log lines, reports that are not
// JSON objects, pruning at seven days by creation time (with the fallback to the modification
// time where the file system keeps no birth time), and a cache that cannot be written.
#include "store/DiagnosticsCache.h"
#include "store/MetricsKitObserver.h"

#include "LogCapture.h"

#include <QDir>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A clock standing still at `now`.
DiagnosticsCache::Clock at(const QDateTime &now)
{
    return [now] { return now; };
}

QDateTime noBirthTime(const QFileInfo &)
{
    return {};
}

constexpr qint64 kWeek = 7 * 24 * 3600;

} // namespace

class TestDiagnosticsCache : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_root;
    QString dir() const { return m_root->path() + QStringLiteral("/diagnostics_cache"); }
    QStringList files() const { return QDir(dir()).entryList(QDir::Files, QDir::Name); }
    QByteArray content(const QString &name) const
    {
        QFile file(dir() + QLatin1Char('/') + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
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
    }

    // Named after the local time to the millisecond; a second report in the same millisecond must
    // survive too.
    void writesPrettySortedFilesNamedAfterTheLocalTime()
    {
        DiagnosticsCache cache(dir(), at(QDateTime(QDate(2026, 12, 6), QTime(23, 59, 59, 999))));
        LogCapture log;

        const QJsonObject report{{QStringLiteral("zeta"), 1}, {QStringLiteral("alpha"), QJsonObject{{QStringLiteral("y"), 2}, {QStringLiteral("x"), 3}}}};
        const QString first = QStringLiteral("20261206-235959-999-diagnostic.json");
        QCOMPARE(cache.write(report, QStringLiteral("diagnostic")), first);
        QCOMPARE(files(), QStringList{first});
        QVERIFY(log.contains(QStringLiteral("MetricsKitObserver"), QtInfoMsg, QStringLiteral("Cached diagnostic payload: ") + first));
        const QByteArray text = content(first);
        QCOMPARE(QJsonDocument::fromJson(text).object(), report);
        QVERIFY(text.contains("\n    \"alpha\": {\n        \"x\": 3,\n        \"y\": 2\n    },\n    \"zeta\": 1\n"));

        QCOMPARE(cache.write({{QStringLiteral("n"), 2}}, QStringLiteral("diagnostic")), QStringLiteral("20261207-000000-000-diagnostic.json"));
        QCOMPARE(cache.write({{QStringLiteral("n"), 3}}, QStringLiteral("metric")), QStringLiteral("20261206-235959-999-metric.json"));
        QCOMPARE(files().size(), 3);
        QCOMPARE(QJsonDocument::fromJson(content(first)).object(), report);
        QCOMPARE(QJsonDocument::fromJson(content(QStringLiteral("20261207-000000-000-diagnostic.json"))).object().value(QLatin1String("n")).toInt(), 2);
    }

    void observerDropsReportsThatAreNotObjects_data()
    {
        QTest::addColumn<QByteArray>("report");
        QTest::newRow("not JSON") << QByteArray("{\"broken\": ");
        QTest::newRow("an array") << QByteArray("[1]");
        QTest::newRow("empty") << QByteArray();
    }
    void observerDropsReportsThatAreNotObjects()
    {
        QFETCH(QByteArray, report);
        MetricsKitObserver::Options options;
        options.cacheDirectory = dir();
        options.usageStatePath = m_root->path() + QStringLiteral("/usage.json");
        MetricsKitObserver observer(options);
        LogCapture log;

        observer.cache(report, MetricsKitObserver::ReportKind::metric);
        observer.cache(report, MetricsKitObserver::ReportKind::diagnostic);
        QVERIFY(log.contains(QStringLiteral("MetricsKitObserver"), QtCriticalMsg, QStringLiteral("Could not deserialize MXMetricPayload")));
        QVERIFY(log.contains(QStringLiteral("MetricsKitObserver"), QtCriticalMsg, QStringLiteral("Could not deserialize MXDiagnosticPayload")));
        QVERIFY(files().isEmpty());

        observer.cache("{\"ok\":true}", MetricsKitObserver::ReportKind::diagnostic);
        QCOMPARE(files().size(), 1);
        QVERIFY(files().first().endsWith(QLatin1String("-diagnostic.json")));
    }

    // A file created 7 days and 1 second before a write goes; one created 6 days before stays.
    void writePrunesByCreationTime_data()
    {
        QTest::addColumn<qint64>("ageSeconds");
        QTest::addColumn<bool>("pruned");
        QTest::newRow("7 days and 1 second") << kWeek + 1 << true;
        QTest::newRow("6 days") << kWeek - 24 * 3600 << false;
    }
    void writePrunesByCreationTime()
    {
        QFETCH(qint64, ageSeconds);
        QFETCH(bool, pruned);
        QCOMPARE(qint64(DiagnosticsCache::maxAge.count()), kWeek);

        // Made now, with the file system's own birth time, of any name; a folder is left alone.
        touch(QStringLiteral("old-metric.json"));
        touch(QStringLiteral("notes.txt"));
        QVERIFY(QDir().mkpath(dir() + QStringLiteral("/folder")));
        DiagnosticsCache cache(dir(), at(QDateTime::currentDateTime().addSecs(ageSeconds)));

        QVERIFY(cache.write({{QStringLiteral("n"), 1}}, QStringLiteral("metric")));
        QCOMPARE(QFile::exists(dir() + QStringLiteral("/old-metric.json")), !pruned);
        QCOMPARE(QFile::exists(dir() + QStringLiteral("/notes.txt")), !pruned);
        QVERIFY(QFileInfo(dir() + QStringLiteral("/folder")).isDir());
        QCOMPARE(files().size(), pruned ? 1 : 3);
    }

    // Without a birth time the modification time stands in: a file is not kept forever.
    void withoutBirthTimeTheModificationTimeCounts()
    {
        const QDateTime now = QDateTime::currentDateTime();
        touch(QStringLiteral("stale.json"), now.addSecs(-kWeek - 1));
        touch(QStringLiteral("recent.json"), now.addSecs(-kWeek + 24 * 3600));
        DiagnosticsCache withoutBirth(dir(), &QDateTime::currentDateTime, &noBirthTime);
        withoutBirth.pruneOldFiles();
        QCOMPARE(files(), (QStringList{QStringLiteral("recent.json")}));

        // Where the file system keeps a birth time, it decides: this file was made just now.
        touch(QStringLiteral("rewound.json"), now.addSecs(-2 * kWeek));
        DiagnosticsCache withBirth(dir());
        QVERIFY(DiagnosticsCache::fileSystemBirthTime(QFileInfo(dir() + QStringLiteral("/rewound.json"))).isValid());
        withBirth.pruneOldFiles();
        QVERIFY(QFile::exists(dir() + QStringLiteral("/rewound.json")));
    }

    void unwritableCacheLosesTheReportWithALogLine()
    {
        QFile blocker(dir()); // a file where the folder should be
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        DiagnosticsCache cache(dir());
        LogCapture log;

        QCOMPARE(cache.write({{QStringLiteral("n"), 1}}, QStringLiteral("diagnostic")), std::nullopt);
        const QStringList errors = log.messages(QStringLiteral("MetricsKitObserver"), QtCriticalMsg);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith(QLatin1String("Failed to cache diagnostic payload: ")), qPrintable(errors.first()));
    }
};

QTEST_GUILESS_MAIN(TestDiagnosticsCache)
#include "tst_diagnosticscache.moc"
