// test-labels: beyond
// The start and stop sounds against the harness's real PulseAudio: with the preference off
// nothing reaches the sound server; on, the two sounds are uploaded once and every start and end
// of a recording plays one (a new sink input on the server); a sound the server lost is uploaded
// again. (The application end to end with the cues on: the end-to-end suite.)
#include "app/AppState.h"
#include "app/SoundCueController.h"
#include "platform/Platform.h"
#include "platform/SamplePlayer.h"
#include "store/DictationPreferences.h"

#include "Pactl.h"
#include "PipeSource.h"

#include <QtTest>

namespace {

// How long a test watches for a sound that must not play.
constexpr int kQuietMs = 700;

const QString startSound = QLatin1String(SoundCueController::startSoundName);
const QString stopSound = QLatin1String(SoundCueController::stopSoundName);

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
        QVERIFY(!Pactl::hasSample(startSound) && !Pactl::hasSample(stopSound));

        m_state->preferences().setSoundCues(true);
        QVERIFY(cues->isLoaded());
        QVERIFY(Pactl::hasSample(startSound) && Pactl::hasSample(stopSound));

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
        QVERIFY(cues->isLoaded() && Pactl::hasSample(startSound));
        m_state->preferences().setSoundCues(false);
        m_state->preferences().setSoundCues(true);
        QCOMPARE(m_playersMade, 1);
        Pactl::run({QStringLiteral("remove-sample"), startSound});
        QVERIFY(!Pactl::hasSample(startSound));

        m_state->setPhase(Phase::recording()); // the server answers that it has no such sound
        m_state->setPhase(Phase::finalizing());
        QTRY_COMPARE(sounds.count(), 1);
        m_state->setPhase(Phase::idle());
        m_state->setPhase(Phase::recording()); // skipped, and the sounds go up again
        QTRY_VERIFY(Pactl::hasSample(startSound));
        QVERIFY(cues->isLoaded());
        m_state->setPhase(Phase::finalizing());
        QTRY_COMPARE(sounds.count(), 2);
        m_state->setPhase(Phase::idle());
        m_state->setPhase(Phase::recording());
        QTRY_COMPARE(sounds.count(), 3);
    }
};

QTEST_MAIN(TestSoundCues)
#include "tst_sound_cues.moc"
