// test-labels: audio
// Failures the sound server cannot be made to produce on demand (a sample rate of 0, no
// converter, an engine that does not start), played over the real PulseAudio engine.
#include "audio/AudioCaptureEngine.h"
#include "platform/Platform.h"

#include "LogCapture.h"
#include "Pactl.h"
#include "PipeSource.h"
#include "ScriptedAudioSystem.h"

#include <QtTest>

using State = AudioCaptureEngine::State;

class TestAudioCaptureFailures : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::shared_ptr<ScriptedAudioSystem> m_system;
    std::unique_ptr<AudioCaptureEngine> m_engine;
    int m_module = -1;

    static void applyScript(AudioScript &script, const QString &failure)
    {
        script.zeroSampleRate = failure == QLatin1String("sample rate 0");
        script.refuseConverter = failure == QLatin1String("no converter");
        script.startFailure = failure == QLatin1String("start fails") ? QStringLiteral("Connection terminated") : QString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!PipeSource::fifoPath().isEmpty(), "no pipe source: run the tests through scripts/harness.sh");
        QVERIFY(m_dir.isValid());
    }

    void init()
    {
        m_system = std::make_shared<ScriptedAudioSystem>(Platform::audioSystem());
        auto settings = std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        m_engine = std::make_unique<AudioCaptureEngine>(
            m_system, Platform::microphonePermission(m_system, std::move(settings)));
    }

    void cleanup()
    {
        m_engine.reset();
        m_system.reset();
        if (m_module >= 0)
            Pactl::unloadModule(m_module);
        m_module = -1;
        Pactl::setDefaultSource(PipeSource::sourceName());
    }

    // Each failure once at the start of a capture, then once when a device change rebuilds it.
    void failuresShowOnlyInTheState_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("startLog");
        QTest::addColumn<QString>("startMessage");
        QTest::addColumn<QString>("rebuildLog");
        QTest::addColumn<QString>("rebuildMessage");
        QTest::newRow("sample rate 0") << QStringLiteral("sample rate 0")
                                       << QStringLiteral("startCapture: invalid input format (sampleRate=0)")
                                       << QStringLiteral("麦克风格式无效")
                                       << QStringLiteral("new device has invalid sampleRate=0, marking interrupted")
                                       << QStringLiteral("音频设备格式无效(sampleRate=0)");
        QTest::newRow("no converter")
            << QStringLiteral("no converter")
            << QStringLiteral("startCapture: failed to build converter for 2 ch, 48000 Hz, Int16, interleaved")
            << QStringLiteral("无法构建音频转换器") << QStringLiteral("failed to rebuild converter for new device")
            << QStringLiteral("无法构建新设备的音频转换器");
        QTest::newRow("start fails") << QStringLiteral("start fails")
                                     << QStringLiteral("startCapture: engine.start failed: Connection terminated")
                                     << QStringLiteral("引擎启动失败: Connection terminated")
                                     << QStringLiteral("engine restart failed: Connection terminated")
                                     << QStringLiteral("引擎重启失败: Connection terminated");
    }

    void failuresShowOnlyInTheState()
    {
        QFETCH(QString, failure);
        QFETCH(QString, startLog);
        QFETCH(QString, startMessage);
        QFETCH(QString, rebuildLog);
        QFETCH(QString, rebuildMessage);
        LogCapture log;
        QSignalSpy states(m_engine.get(), &AudioCaptureEngine::stateChanged);
        int deviceChanges = 0;
        m_engine->setOnDeviceChangedDuringCapture([&] { ++deviceChanges; });
        m_module = Pactl::loadPipeSource(QStringLiteral("murlex_dock"), m_dir.filePath(QStringLiteral("dock.fifo")),
                                         QStringLiteral("s16le"), 44100, 1);
        QVERIFY(m_module >= 0);
        applyScript(*m_system->script, failure);

        m_engine->startCapture();
        QCOMPARE(m_engine->state(), State{AudioCaptureEngine::Interrupted{startMessage}});
        QCOMPARE(states.size(), 1);
        QVERIFY(log.contains(QStringLiteral("audio"), QtCriticalMsg, startLog));
        QVERIFY(Pactl::recordingSources().isEmpty());
        // Stopping an engine that never started does nothing.
        m_engine->stopCapture();
        QCOMPARE(states.size(), 1);
        QCOMPARE(deviceChanges, 0);

        // The next start simply tries again.
        *m_system->script = AudioScript{};
        m_engine->startCapture();
        QCOMPARE(m_engine->state(), State{AudioCaptureEngine::Capturing{}});
        QCOMPARE(Pactl::recordingSources().size(), 1);

        // A new default source in another format makes the engine rebuild, and that fails.
        applyScript(*m_system->script, failure);
        QVERIFY(Pactl::setDefaultSource(QStringLiteral("murlex_dock")));
        QTRY_COMPARE(deviceChanges, 1);
        QCOMPARE(m_engine->state(), State{AudioCaptureEngine::Interrupted{rebuildMessage}});
        QVERIFY(log.contains(QStringLiteral("audio"), QtCriticalMsg, rebuildLog));
        QVERIFY(log.contains(QStringLiteral("audio"), QtInfoMsg,
                             QStringLiteral("audio device configuration changed (wasCapturing=true)")));
        QVERIFY(!log.contains(QStringLiteral("audio"), QtInfoMsg, QStringLiteral("new device starts; engine released until the next capture")));
        QTRY_VERIFY(Pactl::recordingSources().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAudioCaptureFailures)
#include "tst_audio_capture_failures.moc"
