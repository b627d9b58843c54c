// test-labels: diagnostics
#include "HelperProcess.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace Qt::Literals::StringLiterals;

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

    QString cacheDir() const { return m_dataHome->path() + u"/quillfen.MurlexMac/diagnostics_cache"_s; }

    QStringList diagnosticFiles() const { return QDir(cacheDir()).entryList({u"*-diagnostic.json"_s}, QDir::Files, QDir::Name); }
    QJsonObject onlyReport()
    {
        QFile file(cacheDir() + u'/' + diagnosticFiles().value(0));
        return diagnosticFiles().size() == 1 && file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    }
    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_DATA_HOME"_s, m_dataHome->path());
        return environment;
    }

    // Runs the child in `mode` to its end.
    ChildRun run(const QString &mode)
    {
        HelperProcess child(u"crash_child"_s, {mode}, environment());
        QProcess &process = child.process();
        if (!process.waitForStarted(childTimeoutMs))
            return {};
        const qint64 pid = process.processId();
        process.waitForFinished(childTimeoutMs);
        return {pid, process.exitStatus(), process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
    }

    // A child in "wait" mode that has begun its record.
    std::unique_ptr<HelperProcess> startWaiting()
    {
        auto child = std::make_unique<HelperProcess>(u"crash_child"_s, QStringList{u"wait"_s}, environment());
        return child->waitForLine(u"ready"_s, childTimeoutMs) ? std::move(child) : nullptr;
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
        m_dataHome = std::make_unique<QTemporaryDir>(qEnvironmentVariable("XDG_DATA_HOME") + u"/crash-reports-XXXXXX"_s);
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
        QTest::newRow("memory fault") << u"fault"_s << int(SIGSEGV) << u"SIGSEGV"_s << u"recording"_s << u"0x10"_s;
        QTest::newRow("abort") << u"abort"_s << int(SIGABRT) << u"SIGABRT"_s << u"injecting"_s << QString();
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
        QVERIFY2(!crashed.log.contains("still alive"_L1), "the signal did not end the child");
        QVERIFY(diagnosticFiles().isEmpty()); // a first start has nothing to report
        const ChildRun next = run(u"exit"_s);
        QCOMPARE(next.exitStatus, QProcess::NormalExit);
        QCOMPARE(next.exitCode, 0);
        QVERIFY2(next.log.contains("MetricsKitObserver registered"_L1), qPrintable(next.log));
        QCOMPARE(diagnosticFiles().size(), 1);
        QVERIFY(next.log.contains(u"Cached diagnostic payload: "_s + diagnosticFiles().first()));
        const QJsonObject report = onlyReport();
        const QStringList texts{u"crash"_s, signalName, phase, faultAddress, u"0.1.0"_s};
        QCOMPARE((QStringList{report.value("report_type"_L1).toString(), report.value("signal_name"_L1).toString(), report.value("last_phase"_L1).toString(),
                              report.value("fault_address"_L1).toString(), report.value("app_version"_L1).toString()}), texts);
        QCOMPARE(report.value("signal"_L1).toInt(), signal);
        QCOMPARE(report.value("pid"_L1).toInteger(), crashed.pid);
        const QDateTime crashTime = QDateTime::fromString(report.value("crash_time"_L1).toString(), Qt::ISODateWithMs);
        QVERIFY(crashTime >= before.addSecs(-1) && crashTime <= QDateTime::currentDateTimeUtc());
        const double uptime = report.value("uptime_seconds"_L1).toDouble();
        QVERIFY2(uptime > 0 && uptime < childTimeoutMs / 1000.0, qPrintable(QString::number(uptime)));
        // Symbolised from the child's own binary: the function that crashed, with its source line.
        const QJsonArray frames = report.value("backtrace"_L1).toArray();
        QVERIFY(!frames.isEmpty());
        const auto crashing = std::find_if(frames.begin(), frames.end(), [](const QJsonValue &frame) {
            return frame.toObject().value("symbol"_L1).toString().contains("crashInsideDictation"_L1);
        });
        QVERIFY2(crashing != frames.end(), QJsonDocument(frames).toJson().constData());
        const QJsonObject frame = crashing->toObject();
        QVERIFY(frame.value("image"_L1).toString().endsWith("/crash_child"_L1) && frame.value("file"_L1).toString().endsWith("crash_child.cpp"_L1));
        QVERIFY(frame.value("line"_L1).toInt() > 0);
        // The handler's own frames are not part of it: the backtrace starts where the signal struck.
        QVERIFY(!QJsonDocument(frames).toJson().contains("onFatalSignal"));
        if (!faultAddress.isEmpty())
            QCOMPARE(crashing, frames.begin());
        // A clean run is not reported, and the crash is not reported twice.
        QCOMPARE(run(u"exit"_s).exitCode, 0);
        QCOMPARE(diagnosticFiles().size(), 1);
    }

    void killedRunIsReportedAsAbnormalEnd()
    {
        const std::unique_ptr<HelperProcess> child = startWaiting();
        QVERIFY(child);
        const qint64 pid = child->process().processId();
        QVERIFY(ended(*child, SIGKILL));
        QCOMPARE(run(u"exit"_s).exitCode, 0);
        QCOMPARE(diagnosticFiles().size(), 1);
        const QJsonObject report = onlyReport();
        QCOMPARE(report.value("report_type"_L1).toString(), u"abnormal_end"_s);
        QCOMPARE(report.value("last_phase"_L1).toString(), u"polishing"_s);
        QCOMPARE(report.value("pid"_L1).toInteger(), pid);
        QVERIFY(!report.contains("signal"_L1) && !report.contains("backtrace"_L1));
    }

    void requestedEndAndSecondInstanceAreNotReported()
    {
        // SIGTERM (a logout, a service manager) is an end on request, not an abnormal one.
        const std::unique_ptr<HelperProcess> terminated = startWaiting();
        QVERIFY(terminated);
        QVERIFY(ended(*terminated, SIGTERM));
        QCOMPARE(terminated->process().exitStatus(), QProcess::CrashExit);
        QCOMPARE(run(u"exit"_s).exitCode, 0);
        QVERIFY(diagnosticFiles().isEmpty());
        // A second instance started while the first runs must not take the first's live record
        // for an abnormal end.
        const std::unique_ptr<HelperProcess> first = startWaiting();
        QVERIFY(first);
        const ChildRun second = run(u"exit"_s);
        QCOMPARE(second.exitCode, 0);
        QVERIFY(second.log.contains("Another instance holds the run record"_L1));
        QVERIFY(diagnosticFiles().isEmpty());
        QVERIFY(ended(*first, SIGTERM));
        QCOMPARE(run(u"exit"_s).exitCode, 0);
        QVERIFY(diagnosticFiles().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCrashReports)
#include "tst_crashreports.moc"
