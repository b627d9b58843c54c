// test-labels: desktop
// The murlex command as a desktop and a person use it around the running application:
// murlex --toggle over the session bus (what desktop shortcuts and the desktop entry's action
// run), the help text, and a start where no X11 display can be had.
#include "EndToEndRig.h"
#include "PipeSource.h"
#include "app/SessionBusService.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {
struct Outcome {
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QString output;
};

// The shipped program of this build.
QString murlexPath()
{
    return QStringLiteral(MURLEX_TEST_HELPERS_DIR "/../src/murlex");
}

std::optional<Outcome> run(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(20000))
        return std::nullopt;
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    return Outcome{process.exitCode(), process.exitStatus(), QString::fromUtf8(process.readAll())};
}

QStringList nonEmptyLines(const QString &output)
{
    return output.split(u'\n', Qt::SkipEmptyParts);
}

bool nameHasOwner()
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(QLatin1String(SessionBusService::serviceName));
}
} // namespace

class TestMurlexCommandLine : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;

    // A fresh home and session of its own, on the harness's display and bus.
    QProcessEnvironment ownEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"})
            environment.insert(QLatin1String(name), m_home.filePath(QLatin1String(name)));
        return environment;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        QVERIFY(QDBusConnection::sessionBus().isConnected());
    }

    void helpNamesTheProgramAndTheToggle()
    {
        const auto help = run(murlexPath(), {QStringLiteral("--help")}, ownEnvironment());
        QVERIFY(help);
        QCOMPARE(help->exitCode, 0);
        QVERIFY2(help->output.contains(QStringLiteral("Usage: murlex [options]")), qPrintable(help->output));
        QVERIFY(!help->output.contains(QStringLiteral("<executable_name>")));
        QVERIFY(help->output.contains(QStringLiteral("--toggle")));
    }

    void withoutADisplayItSaysWhatIsMissingAndEndsCleanly()
    {
        QProcessEnvironment environment = ownEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        const auto none = run(murlexPath(), {}, environment);
        QVERIFY(none);
        QCOMPARE(none->exitStatus, QProcess::NormalExit);
        QCOMPARE(none->exitCode, 1);
        QCOMPARE(nonEmptyLines(none->output),
                 QStringList{QStringLiteral("Murlex cannot start: no X11 display (DISPLAY is not set).")});

        // Under Wayland the line says that XWayland is needed for now.
        environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-0"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        const auto wayland = run(murlexPath(), {}, environment);
        QVERIFY(wayland);
        QCOMPARE(wayland->exitCode, 1);
        QCOMPARE(nonEmptyLines(wayland->output).size(), 1);
        QVERIFY2(wayland->output.contains(QStringLiteral("XWayland")), qPrintable(wayland->output));

        // A display that does not answer.
        environment = ownEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":97"));
        const auto unreachable = run(murlexPath(), {}, environment);
        QVERIFY(unreachable);
        QCOMPARE(unreachable->exitStatus, QProcess::NormalExit);
        QCOMPARE(unreachable->exitCode, 1);
        QCOMPARE(nonEmptyLines(unreachable->output),
                 QStringList{QStringLiteral("Murlex cannot start: the X11 display :97 cannot be opened.")});

        // No crash report, no run record, nothing else was left behind.
        QDirIterator left(m_home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        QVERIFY2(!left.hasNext(), qPrintable(left.hasNext() ? left.next() : QString()));
    }

    void toggleWithoutARunningInstanceSaysSoAndFails()
    {
        QVERIFY(!nameHasOwner());
        const auto toggle = run(murlexPath(), {QStringLiteral("--toggle")}, ownEnvironment());
        QVERIFY(toggle);
        QCOMPARE(toggle->exitCode, 1);
        QCOMPARE(nonEmptyLines(toggle->output),
                 QStringList{QStringLiteral("Murlex is not running: start it first, then murlex --toggle starts or ends a dictation.")});
    }

    void toggleStartsAndEndsADictationInTheRunningInstance()
    {
        EndToEndRig rig;
        QVERIFY2(rig.start({}), qPrintable(rig.failure()));
        QVERIFY(rig.app().waitForCount(QStringLiteral("listening on the session bus as quillfen.MurlexMac"), 1));
        QVERIFY(nameHasOwner());

        // Started from another session's directories, as a desktop's shortcut daemon would.
        const auto first = run(murlexPath(), {QStringLiteral("--toggle")}, ownEnvironment());
        QVERIFY(first);
        QCOMPARE(first->exitCode, 0);
        QVERIFY2(first->output.isEmpty(), qPrintable(first->output));
        QVERIFY(rig.app().waitForCount(QStringLiteral("capture started"), 1));
        QCOMPARE(rig.app().count(QStringLiteral("toggle requested on the session bus")), 1);
        PipeSource microphone;
        microphone.start(PipeSource::tone(440.0, 1.0));
        microphone.wait();

        const int changes = rig.fieldChanges();
        const auto second = run(murlexPath(), {QStringLiteral("--toggle")}, ownEnvironment());
        QVERIFY(second);
        QCOMPARE(second->exitCode, 0);
        QVERIFY2(rig.app().waitForCount(QStringLiteral("endDictation()"), 1), qPrintable(rig.app().lines().join(u'\n')));
        QTRY_VERIFY_WITH_TIMEOUT(rig.fieldChanges() > changes, 20000);
        QVERIFY2(rig.fieldText().startsWith(QStringLiteral("Duration ")), qPrintable(rig.fieldText()));

        // The stand-in recorded the one dictation the two calls made.
        const QJsonArray connections = rig.server().socketRecording();
        QCOMPARE(connections.size(), 1);
        const QJsonArray dictations = connections.first().toObject().value(QStringLiteral("dictations")).toArray();
        QCOMPARE(dictations.size(), 1);
        QCOMPARE(dictations.first().toObject().value(QStringLiteral("polish_text")).toString(), rig.fieldText());

        // Once the instance has gone, so has its name.
        QCOMPARE(rig.app().terminate(), std::optional(0));
        QTRY_VERIFY(!nameHasOwner());
    }
};

QTEST_MAIN(TestMurlexCommandLine)
#include "tst_murlex_commandline.moc"
