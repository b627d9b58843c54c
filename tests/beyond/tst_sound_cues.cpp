// test-labels: beyond
// test-services: desktop
// The start and stop sounds against the harness's real PulseAudio: with the preference off
// nothing reaches the sound server; on, the two sounds are uploaded once and every start and end
// of a recording plays one (a new sink input on the server); a sound the server lost is uploaded
// again. And the application end to end with both options on: the shortcut pressed on the X
// server, the chosen microphone recorded while another input is the default, the cues played.
#include "app/AppState.h"
#include "app/SoundCueController.h"
#include "platform/Platform.h"
#include "platform/SamplePlayer.h"
#include "store/DictationPreferences.h"

#include "EndToEndRig.h"
#include "Pactl.h"
#include "PipeSource.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QtTest>

namespace {

// How long a test watches for a sound that must not play.
constexpr int kQuietMs = 700;

const QString startSound = QLatin1String(SoundCueController::startSoundName);
const QString stopSound = QLatin1String(SoundCueController::stopSoundName);

// Counts the sink inputs (sounds playing) that appear on the server, as `pactl subscribe` sees them.
class SinkInputWatch {
public:
    SinkInputWatch()
    {
        m_pactl.start(QStringLiteral("pactl"), {QStringLiteral("subscribe")});
        m_pactl.waitForStarted();
        // pactl prints nothing before its subscription stands; give it a moment.
        QTest::qWait(300);
    }
    ~SinkInputWatch()
    {
        m_pactl.kill();
        m_pactl.waitForFinished();
    }
    int count()
    {
        m_seen += QString::fromUtf8(m_pactl.readAllStandardOutput());
        return int(m_seen.count(QStringLiteral("Event 'new' on sink-input")));
    }

private:
    QProcess m_pactl;
    QString m_seen;
};

// Whether the sound server keeps a sample of this name (lines of index, name, sample spec, ...).
bool serverHas(const QString &sound)
{
    return Pactl::run({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("samples")}).contains(u'\t' + sound + u'\t');
}

} // namespace

class TestSoundCues : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<AppState> m_state;
    int m_playersMade = 0;

    std::unique_ptr<SoundCueController> makeCues()
    {
        return std::make_unique<SoundCueController>(*m_state, m_state->preferences(), [this] {
            ++m_playersMade;
            return Platform::samplePlayer();
        });
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!PipeSource::fifoPath().isEmpty(), "no sound server: run the tests through scripts/harness.sh");
        QVERIFY(m_dir.isValid());
    }

    void init()
    {
        AppState::Options options;
        options.settingsPath = m_dir.filePath(QStringLiteral("settings.ini"));
        QFile::remove(options.settingsPath);
        m_state = std::make_unique<AppState>(options);
        m_playersMade = 0;
        for (const QString &sound : {startSound, stopSound})
            Pactl::run({QStringLiteral("remove-sample"), sound});
    }

    void cleanup() { m_state.reset(); }

    // Off (the default): no connection, no upload, no sound. On: the sounds are uploaded at once,
    // and each start and each end of a recording (however it ends) plays one. Off again: silence.
    void cuesPlayOnlyWhileOn()
    {
        SinkInputWatch sounds;
        auto cues = makeCues();
        m_state->setPhase(Phase::recording());
        m_state->setPhase(Phase::finalizing());
        m_state->setPhase(Phase::idle());
        QTest::qWait(kQuietMs);
        QCOMPARE(sounds.count(), 0);
        QCOMPARE(m_playersMade, 0);
        QVERIFY(!serverHas(startSound) && !serverHas(stopSound));

        m_state->preferences().setSoundCues(true);
        QVERIFY(cues->isLoaded());
        QVERIFY(serverHas(startSound) && serverHas(stopSound));

        m_state->setPhase(Phase::recording());
        QTRY_COMPARE(sounds.count(), 1);
        m_state->setPhase(Phase::finalizing());
        QTRY_COMPARE(sounds.count(), 2);
        m_state->setPhase(Phase::polishing()); // not a recording's start or end
        m_state->setPhase(Phase::idle());
        m_state->setPhase(Phase::recording());
        QTRY_COMPARE(sounds.count(), 3);
        m_state->setPhase(Phase::error(QStringLiteral("网络错误"))); // a recording that fails ends too
        QTRY_COMPARE(sounds.count(), 4);
        QTest::qWait(kQuietMs);
        QCOMPARE(sounds.count(), 4);

        m_state->preferences().setSoundCues(false);
        m_state->setPhase(Phase::recording());
        m_state->setPhase(Phase::finalizing());
        QTest::qWait(kQuietMs);
        QCOMPARE(sounds.count(), 4);
        QCOMPARE(m_playersMade, 1);
    }

    // Stored on, the sounds are uploaded as the controller starts (at launch), once. A sound the
    // server no longer has (evicted, or the server started afresh) costs at most one cue: it is
    // uploaded again and plays from then on.
    void storedOnLoadsAtLaunchAndALostSoundIsUploadedAgain()
    {
        SinkInputWatch sounds;
        m_state->preferences().setSoundCues(true);
        auto cues = makeCues();
        QVERIFY(cues->isLoaded() && serverHas(startSound));
        m_state->preferences().setSoundCues(false);
        m_state->preferences().setSoundCues(true);
        QCOMPARE(m_playersMade, 1);
        Pactl::run({QStringLiteral("remove-sample"), startSound});
        QVERIFY(!serverHas(startSound));

        m_state->setPhase(Phase::recording()); // the server answers that it has no such sound
        m_state->setPhase(Phase::finalizing());
        QTRY_COMPARE(sounds.count(), 1);
        m_state->setPhase(Phase::idle());
        m_state->setPhase(Phase::recording()); // skipped, and the sounds go up again
        QTRY_VERIFY(serverHas(startSound));
        QVERIFY(cues->isLoaded());
        m_state->setPhase(Phase::finalizing());
        QTRY_COMPARE(sounds.count(), 2);
        m_state->setPhase(Phase::idle());
        m_state->setPhase(Phase::recording());
        QTRY_COMPARE(sounds.count(), 3);
    }

    // The application as a person runs it, with a microphone chosen (while another input is the
    // default) and the cues on: the shortcut starts and ends the dictation, the chosen input's
    // tone reaches the stand-in, and the two cues play.
    void dictationWithChosenMicrophoneAndCues()
    {
        const QString other = QStringLiteral("murlex_other");
        const int module = Pactl::loadPipeSource(other, m_dir.filePath(QStringLiteral("other.fifo")), QStringLiteral("s16le"),
                                                 48000, 2);
        QVERIFY(module >= 0);
        QVERIFY(Pactl::setDefaultSource(other));
        const auto restore = qScopeGuard([module] {
            Pactl::unloadModule(module);
            Pactl::setDefaultSource(PipeSource::sourceName());
        });

        EndToEndRig rig;
        {
            QSettings settings(rig.appEnvironment().value(QStringLiteral("XDG_CONFIG_HOME")) + QStringLiteral("/quillfen/MurlexMac.conf"),
                               QSettings::IniFormat);
            settings.setValue(QLatin1String(DictationPreferences::inputSourceKey), PipeSource::sourceName());
            settings.setValue(QLatin1String(DictationPreferences::soundCuesKey), true);
        }
        QVERIFY2(rig.start({QStringLiteral("Murlex")}), qPrintable(rig.failure()));
        QTRY_VERIFY_WITH_TIMEOUT(serverHas(startSound) && serverHas(stopSound), 10000);
        SinkInputWatch sounds;

        const auto dictation = rig.dictate(PipeSource::tone(440, 1.0));
        QVERIFY2(dictation, qPrintable(rig.failure()));
        static const QRegularExpression frequency(QStringLiteral("frequency (\\d+) Hz"));
        const auto match = frequency.match(dictation->inserted);
        QVERIFY2(match.hasMatch(), qPrintable(dictation->inserted));
        QVERIFY2(std::abs(match.captured(1).toInt() - 440) <= 10, qPrintable(dictation->inserted));
        QCOMPARE(rig.app().count(QStringLiteral("bound inputNode to chosen input ") + PipeSource::sourceName()), 1);
        QTRY_COMPARE(sounds.count(), 2);
    }
};

QTEST_MAIN(TestSoundCues)
#include "tst_sound_cues.moc"
