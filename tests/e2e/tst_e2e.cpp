// test-labels: e2e desktop
// The application end to end, as a person uses it: the murlex program (the shipped main over the
// test transport, tests/helpers/murlex_e2e.cpp) signed in against the stand-in, a text field with
// the focus in another program, the shortcut pressed on the X server (or murlex --toggle run as a
// desktop's shortcut daemon would), a tone spoken into the harness's microphone, and the
// stand-in's polished text arriving in the field. The person chose that microphone while another
// input is the default, and the start and stop sounds. Also the murlex command's answers around it.
#include "EndToEndRig.h"
#include "Pactl.h"
#include "PipeSource.h"
#include "app/AppState.h"
#include "app/SessionBusService.h"
#include "app/SoundCueController.h"
#include "store/DictationPreferences.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

namespace {
const QStringList serverHotWords = {QStringLiteral("Murlex"), QStringLiteral("Qt")};

bool clipboardRestored()
{
    return QTest::qWaitFor([] { return EndToEndRig::clipboardNow() == EndToEndRig::clipboardText(); }, 3000);
}

// A fresh home and session of its own below `root`, on the harness's display and bus.
QProcessEnvironment sessionBelow(const QString &root)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"})
        environment.insert(QLatin1String(name), root + u'/' + QLatin1String(name));
    return environment;
}

bool nameHasOwner()
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(QLatin1String(SessionBusService::serviceName));
}
} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

    EndToEndRig m_rig;
    QTemporaryDir m_home;
    int m_otherInput = -1;

    QProcessEnvironment ownEnvironment() const { return sessionBelow(m_home.path()); }

    void checkTone(const QString &inserted)
    {
        const auto measured = EndToEndRig::heard(inserted);
        QVERIFY2(measured && measured->hotWords == serverHotWords.join(QStringLiteral(", ")), qPrintable(inserted));
        QVERIFY2(qAbs(measured->seconds - 2.0) <= 0.1, qPrintable(inserted));
        QVERIFY2(qAbs(measured->hertz - 440.0) <= 440.0 * 0.02, qPrintable(inserted));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        m_otherInput = Pactl::loadPipeSource(QStringLiteral("murlex_other"), m_home.filePath(QStringLiteral("other.fifo")),
                                             QStringLiteral("s16le"), 48000, 2);
        QVERIFY(m_otherInput >= 0 && Pactl::setDefaultSource(QStringLiteral("murlex_other")));
        {
            QSettings settings(m_rig.appEnvironment().value(QStringLiteral("XDG_CONFIG_HOME")) + QStringLiteral("/quillfen/MurlexMac.conf"),
                               QSettings::IniFormat);
            settings.setValue(QLatin1String(DictationPreferences::inputSourceKey), PipeSource::sourceName());
            settings.setValue(QLatin1String(DictationPreferences::soundCuesKey), true);
        }
        QVERIFY2(m_rig.start(serverHotWords), qPrintable(m_rig.failure()));
        QVERIFY(m_rig.app().waitForCount(QStringLiteral("listening on the session bus as quillfen.MurlexMac"), 1));
        QVERIFY(nameHasOwner());
    }

    void commandLineAnswersAndASecondLaunchLeavesTheFirstAlone()
    {
        const struct {
            const char *option;
            int exitCode;
            QStringList output; // contained in what the program writes
        } answers[] = {{"--version", 0, {QStringLiteral("Murlex 0.")}},
                       {"--help", 0, {QStringLiteral("Usage: murlex [options]"), QStringLiteral("Control+Alt+Space"), QStringLiteral("--toggle")}},
                       {"--no-such-option", 1, {}}};
        for (const auto &answer : answers) {
            const auto run = MurlexProcess::runShipped({QLatin1String(answer.option)}, ownEnvironment());
            QVERIFY(run);
            QCOMPARE(run->exitCode, answer.exitCode);
            for (const QString &part : answer.output)
                QVERIFY2(run->output.contains(part), qPrintable(run->output));
            QVERIFY(!run->output.contains(QStringLiteral("<executable_name>")));
        }

        // Same session (same runtime directory): the second launch has the running one bring up its
        // window, says so and goes.
        const auto second = MurlexProcess::runToEnd({}, m_rig.appEnvironment());
        QVERIFY(second);
        QCOMPARE(second->exitCode, 0);
        QVERIFY2(second->output.contains(QStringLiteral("Murlex is already running")), qPrintable(second->output));
        QVERIFY2(second->output.contains(QStringLiteral("its window is brought up")), qPrintable(second->output));
        QVERIFY2(second->output.contains(QString::number(m_rig.app().pid())), qPrintable(second->output));
        QVERIFY(!second->output.contains(QStringLiteral("bootstrapping")));
        QVERIFY(m_rig.app().isRunning());
        QCOMPARE(m_rig.app().count(QStringLiteral("main window requested on the session bus")), 1);
        QCOMPARE(m_rig.app().count(QStringLiteral("bootstrapping")), 1);
    }

    // The next dictation (the following case) signs in again and reconnects.
    void aRejectedTokenShowsItsMessageAndLeavesFieldAndClipboardAlone()
    {
        // No connection is open yet: the first one is closed for its token as the dictation starts.
        QCOMPARE(m_rig.server().socketRecording().size(), 0);
        QVERIFY(m_rig.server().setSocketFault({.action = DevServer::SocketFault::Action::Close,
                                               .when = DevServer::SocketFault::When::Start,
                                               .closeCode = 1008,
                                               .closeReason = QStringLiteral("invalid token")}));
        QVERIFY(m_rig.focusField());
        const QString message = QStringLiteral("Token 失效，请重新登录");
        QVERIFY(EndToEndRig::pressShortcut());
        QVERIFY2(m_rig.app().waitForCount(message, 1), qPrintable(m_rig.app().lines().join(u'\n')));
        QTRY_COMPARE(m_rig.server().socketRecording().size(), 1);
        QCOMPARE(m_rig.server().socketRecording().first().toObject().value(QStringLiteral("close_code")).toInt(), 1008);
        QCOMPARE(m_rig.fieldChanges(), 0);
        QCOMPARE(EndToEndRig::clipboardNow(), EndToEndRig::clipboardText());

        // The message goes by itself; the user signs in again.
        QTest::qWait(int((AppState::errorDisplayTime + std::chrono::milliseconds(500)).count()));
        QVERIFY(m_rig.signIn());
    }

    void dictationsPutThePolishedTextIntoTheFocusedFieldOverOneConnection()
    {
        QCOMPARE(EndToEndRig::clipboardNow(), EndToEndRig::clipboardText());
        QTRY_VERIFY(Pactl::hasSample(QLatin1String(SoundCueController::startSoundName))
                    && Pactl::hasSample(QLatin1String(SoundCueController::stopSoundName)));
        SinkInputWatch sounds;
        const QByteArray tone = PipeSource::tone(440.0, 2.0);

        const qsizetype from = m_rig.app().lines().size();
        const auto first = m_rig.dictate(tone);
        QVERIFY2(first, qPrintable(m_rig.failure()));
        checkTone(first->inserted);
        QVERIFY(clipboardRestored());

        // The road of the dictation, step by step on later lines of the log.
        QStringList road{QStringLiteral("beginDictation()"), QStringLiteral("capture started"), QStringLiteral("endDictation()"),
                         QStringLiteral("asr_done"), QStringLiteral("polish_done"),
                         QStringLiteral("injected %1 chars via pasteboard").arg(first->inserted.size())};
        for (QString &step : road)
            step = QRegularExpression::escape(step);
        const QString log = m_rig.app().lines().mid(from).join(u'\n');
        QVERIFY2(QRegularExpression(road.join(QStringLiteral(".*\\n(?:.*\\n)*.*"))).match(log).hasMatch(), qPrintable(log));

        // The second dictation goes over the connection the first one opened, started and ended by
        // murlex --toggle run from another session's directories, as a desktop's shortcut daemon would.
        const int toggles = m_rig.app().count(QStringLiteral("toggle requested on the session bus"));
        const auto second = m_rig.dictate(tone, [this] {
            const auto toggle = MurlexProcess::runShipped({QStringLiteral("--toggle")}, ownEnvironment());
            return toggle && toggle->exitCode == 0 && toggle->output.isEmpty();
        });
        QVERIFY2(second, qPrintable(m_rig.failure()));
        checkTone(second->inserted);
        QVERIFY(clipboardRestored());
        QCOMPARE(m_rig.app().count(QStringLiteral("toggle requested on the session bus")), toggles + 2);
        // Every capture recorded the chosen input (the tones above came through it), and each
        // start and end of a recording played its sound.
        QCOMPARE(m_rig.app().count(QStringLiteral("bound inputNode to chosen input ") + PipeSource::sourceName()),
                 m_rig.app().count(QStringLiteral("capture started")));
        QTRY_COMPARE(sounds.count(), 4);
        // The first dictation opened a new connection (the server closed the previous one), the
        // second used it.
        QCOMPARE(m_rig.app().count(QStringLiteral("socket connected")), 2);
        QCOMPARE(m_rig.app().lines().mid(from).filter(QStringLiteral("connecting to")).size(), 1);

        const QJsonArray connections = m_rig.server().socketRecording();
        QCOMPARE(connections.size(), 2); // the one the server closed, and the one still open
        const QJsonObject connection = connections.last().toObject();
        QCOMPARE(connection.value(QStringLiteral("subject")).toString(), QString::fromLatin1(EndToEndRig::subject));
        const QJsonArray dictations = connection.value(QStringLiteral("dictations")).toArray();
        QCOMPARE(dictations.size(), 2);
        for (const auto &dictation : dictations) {
            // The launch sync brought the server's words; every start sends them.
            QCOMPARE(dictation.toObject().value(QStringLiteral("hotwords")).toArray(), QJsonArray::fromStringList(serverHotWords));
            QVERIFY(dictation.toObject().value(QStringLiteral("first_frame_ns")).toInteger() > 0);
        }
        QCOMPARE(dictations.at(1).toObject().value(QStringLiteral("polish_text")).toString(), second->inserted);
    }

    // Without an X11 display: a Wayland session without one, a display that does not answer.
    // The program says what is missing, ends by itself and leaves nothing behind.
    void withoutADisplayItSaysWhatIsMissingAndEndsCleanly()
    {
        const struct {
            const char *display;
            bool wayland;
            const char *line;
        } cases[] = {
            {nullptr, true, "Murlex cannot start: no X11 display (DISPLAY is not set). This is a Wayland session: for now Murlex needs its X11 display through XWayland."},
            {":97", false, "Murlex cannot start: the X11 display :97 cannot be opened."},
        };
        QTemporaryDir home;
        for (const auto &c : cases) {
            QProcessEnvironment environment = sessionBelow(home.path());
            environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
            environment.remove(QStringLiteral("DISPLAY"));
            if (c.display)
                environment.insert(QStringLiteral("DISPLAY"), QLatin1String(c.display));
            if (c.wayland) {
                environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-0"));
                environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland")); // the harness's says x11
                environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
            }
            const auto outcome = MurlexProcess::runShipped({}, environment);
            QVERIFY2(outcome, c.line); // ended by itself, without a crash
            QCOMPARE(outcome->exitCode, 1);
            QCOMPARE(outcome->output.split(u'\n', Qt::SkipEmptyParts), QStringList{QString::fromUtf8(c.line)});
        }
        // No crash report, no run record, nothing else was left behind.
        QDirIterator left(home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        QVERIFY2(!left.hasNext(), qPrintable(left.hasNext() ? left.next() : QString()));
    }

    void cleanupTestCase()
    {
        Pactl::unloadModule(m_otherInput);
        Pactl::setDefaultSource(PipeSource::sourceName());
        const auto status = m_rig.app().terminate();
        QVERIFY2(status, qPrintable(m_rig.app().lines().join(u'\n')));
        QCOMPARE(*status, 0);
        QCOMPARE(m_rig.app().count(QStringLiteral("Murlex exiting")), 1);
        // The instance's name went with it: murlex --toggle has nobody to ask.
        QTRY_VERIFY(!nameHasOwner());
        const auto toggle = MurlexProcess::runShipped({QStringLiteral("--toggle")}, ownEnvironment());
        QVERIFY(toggle);
        QCOMPARE(toggle->exitCode, 1);
        // What the person reads is the one line; log lines (with their time stamps) aside.
        QStringList said = toggle->output.split(u'\n', Qt::SkipEmptyParts);
        said.removeIf([](const QString &line) { return QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d ")).match(line).hasMatch(); });
        QCOMPARE(said, QStringList{QStringLiteral("Murlex is not running: start it first, then murlex --toggle starts or ends a dictation.")});

        // Diagnostics followed the run in the application's own data directory.
        const QString data = m_rig.appEnvironment().value(QStringLiteral("XDG_DATA_HOME")) + QStringLiteral("/quillfen.MurlexMac/");
        QVERIFY(QFile::exists(data + QStringLiteral("run-record")));
        QFile usageFile(data + QStringLiteral("usage-metrics.json"));
        QVERIFY(usageFile.open(QIODevice::ReadOnly));
        const QJsonObject usage = QJsonDocument::fromJson(usageFile.readAll()).object();
        QCOMPARE(usage.value(QStringLiteral("dictations")).toInt(), 3); // the rejected one recorded too
        QCOMPARE(usage.value(QStringLiteral("failures")).toObject().keys(), QStringList{QStringLiteral("Token 失效，请重新登录")});
        const QStringList latencies = usage.value(QStringLiteral("latencies")).toObject().keys();
        for (const char *name : {"asr_time", "polish_time", "total_time"})
            QVERIFY2(latencies.contains(QLatin1String(name)), qPrintable(latencies.join(u' ')));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
