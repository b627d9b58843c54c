// test-labels: desktop
// The murlex command as a desktop and a person use it around the running application:
// murlex --toggle over the session bus (what desktop shortcuts and the desktop entry's action
// run), the help text, and a start where no X11 display can be had.
#include "EndToEndRig.h"
#include "MurlexProcess.h"
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
// The shipped program of this build, run to its end.
std::optional<MurlexProcess::Outcome> run(const QStringList &arguments, const QProcessEnvironment &environment)
{
    return MurlexProcess::runToEnd(arguments, environment, 20000, QStringLiteral(MURLEX_TEST_HELPERS_DIR "/../src/murlex"));
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
        const auto help = run({QStringLiteral("--help")}, ownEnvironment());
        QVERIFY(help);
        QCOMPARE(help->exitCode, 0);
        QVERIFY2(help->output.contains(QStringLiteral("Usage: murlex [options]")), qPrintable(help->output));
        QVERIFY(!help->output.contains(QStringLiteral("<executable_name>")));
        QVERIFY(help->output.contains(QStringLiteral("--toggle")));
    }

    void withoutADisplayItSaysWhatIsMissingAndEndsCleanly()
    {
        // No display at all, a Wayland session without one, and a display that does not answer.
        const struct {
            const char *display;
            bool wayland;
            const char *line;
        } cases[] = {
            {nullptr, false, "Murlex cannot start: no X11 display (DISPLAY is not set)."},
            {nullptr, true, "Murlex cannot start: no X11 display (DISPLAY is not set). This is a Wayland session: for now Murlex needs its X11 display through XWayland."},
            {":97", false, "Murlex cannot start: the X11 display :97 cannot be opened."},
        };
        for (const auto &c : cases) {
            QProcessEnvironment environment = ownEnvironment();
            environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
            if (c.display)
                environment.insert(QStringLiteral("DISPLAY"), QLatin1String(c.display));
            else
                environment.remove(QStringLiteral("DISPLAY"));
            if (c.wayland) {
                environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-0"));
                environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
            }
            const auto outcome = run({}, environment);
            QVERIFY2(outcome, c.line); // ended by itself, without a crash
            QCOMPARE(outcome->exitCode, 1);
            QCOMPARE(nonEmptyLines(outcome->output), QStringList{QString::fromUtf8(c.line)});
        }

        // No crash report, no run record, nothing else was left behind.
        QDirIterator left(m_home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        QVERIFY2(!left.hasNext(), qPrintable(left.hasNext() ? left.next() : QString()));
    }

    void toggleWithoutARunningInstanceSaysSoAndFails()
    {
        QVERIFY(!nameHasOwner());
        const auto toggle = run({QStringLiteral("--toggle")}, ownEnvironment());
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
        const auto first = run({QStringLiteral("--toggle")}, ownEnvironment());
        QVERIFY(first);
        QCOMPARE(first->exitCode, 0);
        QVERIFY2(first->output.isEmpty(), qPrintable(first->output));
        QVERIFY(rig.app().waitForCount(QStringLiteral("capture started"), 1));
        QCOMPARE(rig.app().count(QStringLiteral("toggle requested on the session bus")), 1);
        PipeSource microphone;
        microphone.start(PipeSource::tone(440.0, 1.0));
        microphone.wait();

        const int changes = rig.fieldChanges();
        const auto second = run({QStringLiteral("--toggle")}, ownEnvironment());
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
