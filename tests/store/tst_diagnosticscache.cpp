// test-labels: diagnostics
#include "store/DiagnosticsCache.h"
#include "store/MetricsKitObserver.h"

#include "LogCapture.h"

#include <QDir>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::Literals::StringLiterals;

namespace {
// A clock standing still at `now`.
DiagnosticsCache::Clock at(const QDateTime &now) { return [now] { return now; }; }
QDateTime noBirthTime(const QFileInfo &) { return {}; }
constexpr qint64 kWeek = 7 * 24 * 3600;
const QString kCategory = u"MetricsKitObserver"_s;
} // namespace

class TestDiagnosticsCache : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_root;
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
        options.usageStatePath = m_root->path() + u"/usage.json"_s;
        MetricsKitObserver observer(options);
        LogCapture log;
        observer.cache(report, MetricsKitObserver::ReportKind::metric);
        observer.cache(report, MetricsKitObserver::ReportKind::diagnostic);
        QCOMPARE(log.messages(kCategory, QtCriticalMsg), (QStringList{u"Could not deserialize MXMetricPayload"_s, u"Could not deserialize MXDiagnosticPayload"_s}));
        QVERIFY(files().isEmpty());
        observer.cache("{\"ok\":true}", MetricsKitObserver::ReportKind::diagnostic);
        QCOMPARE(files().size(), 1);
        QVERIFY(files().first().endsWith("-diagnostic.json"_L1));
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
        touch(u"old-metric.json"_s);
        touch(u"notes.txt"_s);
        QVERIFY(QDir().mkpath(dir() + u"/folder"_s));
        DiagnosticsCache cache(dir(), at(QDateTime::currentDateTime().addSecs(ageSeconds)));
        QVERIFY(cache.write({{u"n"_s, 1}}, u"metric"_s));
        QCOMPARE(QFile::exists(dir() + u"/old-metric.json"_s) || QFile::exists(dir() + u"/notes.txt"_s), !pruned);
        QVERIFY(QFileInfo(dir() + u"/folder"_s).isDir());
        QCOMPARE(files().size(), pruned ? 1 : 3);
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

QTEST_GUILESS_MAIN(TestDiagnosticsCache)
#include "tst_diagnosticscache.moc"
