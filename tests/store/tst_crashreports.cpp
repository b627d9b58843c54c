// test-labels: diagnostics
// Diagnostic reports from real processes: a child that keeps the crash record like the application
// crashes, is killed or ends, and its next start must report exactly what happened, once.
#include "HelperProcess.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

constexpr int childTimeoutMs = 60000; // a sanitizer build on a busy machine starts slowly

struct ChildRun {
    qint64 pid = 0;
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    int exitCode = -1;
    QString log;
};

} // namespace

class TestCrashReports : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dataHome; // the children's XDG_DATA_HOME

    QString cacheDir() const { return m_dataHome->path() + QStringLiteral("/quillfen.MurlexMac/diagnostics_cache"); }

    QStringList diagnosticFiles() const
    {
        return QDir(cacheDir()).entryList({QStringLiteral("*-diagnostic.json")}, QDir::Files, QDir::Name);
    }

    QJsonObject onlyReport()
    {
        const QStringList files = diagnosticFiles();
        if (files.size() != 1)
            return {};
        QFile file(cacheDir() + QLatin1Char('/') + files.first());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll()).object();
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), m_dataHome->path());
        return environment;
    }

    // Runs the child in `mode` to its end.
    ChildRun run(const QString &mode)
    {
        HelperProcess child(QStringLiteral("crash_child"), {mode}, environment());
        ChildRun result;
        if (!child.process().waitForStarted(childTimeoutMs))
            return result;
        result.pid = child.process().processId();
        child.process().waitForFinished(childTimeoutMs);
        result.exitStatus = child.process().exitStatus();
        result.exitCode = child.process().exitCode();
        result.log = QString::fromUtf8(child.process().readAllStandardError());
        return result;
    }

    // A child in "wait" mode that has begun its record.
    std::unique_ptr<HelperProcess> startWaiting()
    {
        auto child = std::make_unique<HelperProcess>(QStringLiteral("crash_child"), QStringList{QStringLiteral("wait")}, environment());
        return child->waitForLine(QStringLiteral("ready"), childTimeoutMs) ? std::move(child) : nullptr;
    }

    static bool ended(HelperProcess &child, int signal)
    {
        ::kill(pid_t(child.process().processId()), signal);
        return child.process().waitForFinished(childTimeoutMs);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"), "run the tests through scripts/harness.sh");
        m_dataHome = std::make_unique<QTemporaryDir>(qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/crash-reports-XXXXXX"));
        QVERIFY(m_dataHome->isValid());
    }
    void init()
    {
        QDir(m_dataHome->path()).removeRecursively();
        QDir().mkpath(m_dataHome->path());
    }

    void crashYieldsOneReportAtTheNextStart_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("signalName");
        QTest::addColumn<QString>("phase");
        QTest::addColumn<QString>("faultAddress"); // empty: none reported
        QTest::newRow("raised SIGSEGV") << QStringLiteral("segv") << int(SIGSEGV) << QStringLiteral("SIGSEGV")
                                        << QStringLiteral("recording") << QString();
        QTest::newRow("memory fault") << QStringLiteral("fault") << int(SIGSEGV) << QStringLiteral("SIGSEGV")
                                      << QStringLiteral("recording") << QStringLiteral("0x10");
        QTest::newRow("abort") << QStringLiteral("abort") << int(SIGABRT) << QStringLiteral("SIGABRT")
                               << QStringLiteral("injecting") << QString();
    }
    void crashYieldsOneReportAtTheNextStart()
    {
        QFETCH(QString, mode);
        QFETCH(int, signal);
        QFETCH(QString, signalName);
        QFETCH(QString, phase);
        QFETCH(QString, faultAddress);

        const QDateTime before = QDateTime::currentDateTimeUtc();
        const ChildRun crashed = run(mode);
        QVERIFY2(crashed.exitStatus == QProcess::CrashExit || crashed.exitCode != 0, qPrintable(crashed.log));
        QVERIFY2(!crashed.log.contains(QLatin1String("still alive")), "the signal did not end the child");
        QVERIFY(diagnosticFiles().isEmpty()); // a first start has nothing to report

        const ChildRun next = run(QStringLiteral("exit"));
        QCOMPARE(next.exitStatus, QProcess::NormalExit);
        QCOMPARE(next.exitCode, 0);
        QVERIFY2(next.log.contains(QLatin1String("MetricsKitObserver registered")), qPrintable(next.log));
        QCOMPARE(diagnosticFiles().size(), 1);
        QVERIFY(next.log.contains(QStringLiteral("Cached diagnostic payload: ") + diagnosticFiles().first()));

        const QJsonObject report = onlyReport();
        QCOMPARE(report.value(QLatin1String("report_type")).toString(), QStringLiteral("crash"));
        QCOMPARE(report.value(QLatin1String("signal")).toInt(), signal);
        QCOMPARE(report.value(QLatin1String("signal_name")).toString(), signalName);
        QCOMPARE(report.value(QLatin1String("last_phase")).toString(), phase);
        QCOMPARE(report.value(QLatin1String("fault_address")).toString(), faultAddress);
        QCOMPARE(report.value(QLatin1String("app_version")).toString(), QStringLiteral("0.1.0"));
        QCOMPARE(report.value(QLatin1String("pid")).toInteger(), crashed.pid);
        const QDateTime crashTime = QDateTime::fromString(report.value(QLatin1String("crash_time")).toString(), Qt::ISODateWithMs);
        QVERIFY(crashTime >= before.addSecs(-1) && crashTime <= QDateTime::currentDateTimeUtc());
        const double uptime = report.value(QLatin1String("uptime_seconds")).toDouble();
        QVERIFY2(uptime > 0 && uptime < childTimeoutMs / 1000.0, qPrintable(QString::number(uptime)));

        // Symbolised from the child's own binary: the function that crashed, with its source line.
        const QJsonArray frames = report.value(QLatin1String("backtrace")).toArray();
        QVERIFY(!frames.isEmpty());
        const auto crashing = std::find_if(frames.begin(), frames.end(), [](const QJsonValue &frame) {
            return frame.toObject().value(QLatin1String("symbol")).toString().contains(QLatin1String("crashInsideDictation"));
        });
        QVERIFY2(crashing != frames.end(), QJsonDocument(frames).toJson().constData());
        const QJsonObject frame = crashing->toObject();
        QVERIFY(frame.value(QLatin1String("image")).toString().endsWith(QLatin1String("/crash_child")));
        QVERIFY(frame.value(QLatin1String("file")).toString().endsWith(QLatin1String("crash_child.cpp")));
        QVERIFY(frame.value(QLatin1String("line")).toInt() > 0);
        // The handler's own frames are not part of it: the backtrace starts where the signal struck.
        QVERIFY(!QJsonDocument(frames).toJson().contains("onFatalSignal"));
        if (!faultAddress.isEmpty())
            QCOMPARE(crashing, frames.begin());

        // A clean run is not reported, and the crash is not reported twice.
        QCOMPARE(run(QStringLiteral("exit")).exitCode, 0);
        QCOMPARE(diagnosticFiles().size(), 1);
    }

    void killedRunIsReportedAsAbnormalEnd()
    {
        const std::unique_ptr<HelperProcess> child = startWaiting();
        QVERIFY(child);
        const qint64 pid = child->process().processId();
        QVERIFY(ended(*child, SIGKILL));

        QCOMPARE(run(QStringLiteral("exit")).exitCode, 0);
        QCOMPARE(diagnosticFiles().size(), 1);
        const QJsonObject report = onlyReport();
        QCOMPARE(report.value(QLatin1String("report_type")).toString(), QStringLiteral("abnormal_end"));
        QCOMPARE(report.value(QLatin1String("last_phase")).toString(), QStringLiteral("polishing"));
        QCOMPARE(report.value(QLatin1String("pid")).toInteger(), pid);
        QVERIFY(!report.contains(QLatin1String("signal")));
        QVERIFY(!report.contains(QLatin1String("backtrace")));
    }

    void requestedEndAndSecondInstanceAreNotReported()
    {
        // SIGTERM (a logout, a service manager) is an end on request, not an abnormal one.
        const std::unique_ptr<HelperProcess> terminated = startWaiting();
        QVERIFY(terminated);
        QVERIFY(ended(*terminated, SIGTERM));
        QCOMPARE(terminated->process().exitStatus(), QProcess::CrashExit);
        QCOMPARE(run(QStringLiteral("exit")).exitCode, 0);
        QVERIFY(diagnosticFiles().isEmpty());

        // A second instance started while the first runs must not take the first's live record
        // for an abnormal end.
        const std::unique_ptr<HelperProcess> first = startWaiting();
        QVERIFY(first);
        const ChildRun second = run(QStringLiteral("exit"));
        QCOMPARE(second.exitCode, 0);
        QVERIFY(second.log.contains(QLatin1String("Another instance holds the run record")));
        QVERIFY(diagnosticFiles().isEmpty());
        QVERIFY(ended(*first, SIGTERM));
        QCOMPARE(run(QStringLiteral("exit")).exitCode, 0);
        QVERIFY(diagnosticFiles().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCrashReports)
#include "tst_crashreports.moc"
