// test-labels: audio
// The capture engine against the harness's real PulseAudio: known signals written into pipe
// sources come back as 16 kHz mono chunks, device changes end a capture, the device list and the
// microphone permission come from the server, and a server that is gone or silent is given up.
// Failures the server cannot be made to produce on demand (no converter, an engine that does not
// start) are played over the real engine by a scripted sound system.
#include "audio/AudioCaptureEngine.h"
#include "platform/AudioSystem.h"
#include "platform/Platform.h"

#include "ChunkRecorder.h"
#include "LogCapture.h"
#include "Pactl.h"
#include "PipeSource.h"

#include <QCoro/QCoroTask>
#include <QLocalServer>
#include <QtTest>

#include <cmath>

using State = AudioCaptureEngine::State;

namespace {

// Time for audio written into a pipe source to reach the tap after the writer finished.
constexpr int kDeliveryMs = 500;
// How long a test watches for a reaction that must not come.
constexpr int kQuietMs = 600;

const QString kAudio = QStringLiteral("audio");

bool logged(const LogCapture &log, const QString &prefix)
{
    return !log.messages(kAudio).filter(QRegularExpression(u'^' + QRegularExpression::escape(prefix))).isEmpty();
}

// The sound server's clients that are this process (pactl lists itself as one too).
QStringList ownSoundServerClients()
{
    const QString binary = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    QStringList own;
    for (const QString &line : Pactl::run({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("clients")})
                                   .split(u'\n', Qt::SkipEmptyParts))
        if (line.section(u'\t', 2, 2) == binary)
            own << line.section(u'\t', 0, 0);
    return own;
}

// Interleaved float32 samples of a sine tone on every channel.
QByteArray floatTone(double frequency, double seconds, double amplitude, int rate, int channels)
{
    const auto frames = qsizetype(std::llround(seconds * rate));
    QByteArray out(frames * channels * 4, Qt::Uninitialized);
    auto *samples = reinterpret_cast<float *>(out.data());
    for (qsizetype i = 0; i < frames * channels; ++i)
        samples[i] = float(amplitude * std::sin(2.0 * M_PI * frequency * double(i / channels) / rate));
    return out;
}

// The real sound system with what it cannot be made to do on demand played over it: no converter
// for any pair, or engines whose start fails with `startFailure`. Everything else, the tap and the
// configuration changes included, is the real engine's.
class ScriptedAudioSystem final : public AudioSystem {
public:
    explicit ScriptedAudioSystem(std::shared_ptr<AudioSystem> real) : m_real(std::move(real)) {}
    bool refuseConverter = false;
    QString startFailure;

    std::unique_ptr<AudioEngine> createEngine() override { return std::make_unique<Engine>(m_real->createEngine(), *this); }
    std::unique_ptr<AudioConverter> createConverter(const AudioFormat &from, const AudioFormat &to) override
    {
        return refuseConverter ? nullptr : m_real->createConverter(from, to);
    }
    std::optional<QList<AudioDevice>> inputDevices() override { return m_real->inputDevices(); }
    std::optional<AudioDeviceID> defaultInputDevice() override { return m_real->defaultInputDevice(); }

private:
    struct Engine final : AudioEngine {
        Engine(std::unique_ptr<AudioEngine> engine, const ScriptedAudioSystem &system) : real(std::move(engine)), script(system)
        {
            connect(real.get(), &AudioEngine::configurationChanged, this, &AudioEngine::configurationChanged);
        }
        bool hasInputUnit() override { return real->hasInputUnit(); }
        int setCurrentDevice(AudioDeviceID device) override { return real->setCurrentDevice(device); }
        AudioFormat inputFormat() override { return real->inputFormat(); }
        void prepare() override { real->prepare(); }
        std::optional<PlatformError> start() override
        {
            if (!script.startFailure.isEmpty())
                return PlatformError{QStringLiteral("PulseAudio"), 1, script.startFailure};
            return real->start();
        }
        void stop() override { real->stop(); }
        bool isRunning() override { return real->isRunning(); }
        void installTap(quint32 frames, const AudioFormat &format, TapBlock block) override { real->installTap(frames, format, std::move(block)); }
        void removeTap() override { real->removeTap(); }

        std::unique_ptr<AudioEngine> real;
        const ScriptedAudioSystem &script; // outlives its engines: the capture engine holds it
    };
    std::shared_ptr<AudioSystem> m_real;
};

} // namespace

class TestAudioCapture : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::shared_ptr<AudioSystem> m_system;
    QList<int> m_modules;

    std::unique_ptr<QSettings> settings(const QString &name = QStringLiteral("settings"))
    {
        return std::make_unique<QSettings>(m_dir.filePath(name + QStringLiteral(".ini")), QSettings::IniFormat);
    }

    // An engine on the sound system (the real one unless given); chunks go to `chunks`, and device
    // changes that end a capture are counted in `deviceChanges`.
    std::unique_ptr<AudioCaptureEngine> makeEngine(ChunkRecorder *chunks = nullptr, int *deviceChanges = nullptr,
                                                   std::shared_ptr<AudioSystem> system = {})
    {
        system = system ? system : m_system;
        auto engine = std::make_unique<AudioCaptureEngine>(system, Platform::microphonePermission(system, settings()));
        if (chunks)
            engine->setOnPCMFrame(chunks->handler());
        if (deviceChanges)
            engine->setOnDeviceChangedDuringCapture([deviceChanges] { ++*deviceChanges; });
        return engine;
    }

    QString fifo(const QString &name) const { return m_dir.filePath(name + QStringLiteral(".fifo")); }

    // Loads a pipe source (unloaded after the test) and answers its index.
    int loadPipeSource(const QString &name, const QString &properties = {}, const QString &format = QStringLiteral("s16le"),
                       int rate = 48000, int channels = 2)
    {
        const int module = Pactl::loadPipeSource(name, fifo(name), format, rate, channels, properties);
        if (module >= 0)
            m_modules << module;
        return Pactl::sourceIndex(name);
    }

    QString unreachableServer() const { return QStringLiteral("unix:") + m_dir.filePath(QStringLiteral("no-server")); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!PipeSource::fifoPath().isEmpty(), "no pipe source: run the tests through scripts/harness.sh");
        QVERIFY(m_dir.isValid());
        QLoggingCategory::setFilterRules(QStringLiteral("quillfen.*=true"));
        m_system = Platform::audioSystem();
    }

    void cleanup()
    {
        for (int module : std::as_const(m_modules))
            Pactl::unloadModule(module);
        m_modules.clear();
        Pactl::setDefaultSource(PipeSource::sourceName());
    }

    // Full 100 ms chunks while capturing, the remainder at the stop; no bytes, no chunk.
    void chunksWhileCapturingAndTheRemainderAtTheStop()
    {
        LogCapture log;
        auto engine = makeEngine();
        QSignalSpy states(engine.get(), &AudioCaptureEngine::stateChanged);
        const int mic = Pactl::sourceIndex(PipeSource::sourceName());
        QStringList connection;
        const struct {
            double seconds;
            QList<qsizetype> sizes;
            QString stopped;
        } captures[] = {{0.25, {3200, 3200, 1600}, QStringLiteral("sent 8000 bytes (~0.25s of audio)")},
                        {0.05, {1600}, QStringLiteral("sent 1600 bytes (~0.05s of audio)")},
                        {0.0, {}, QStringLiteral("sent 0 bytes (~0.00s of audio)")},
                        {0.25, {3200, 3200, 1600}, QStringLiteral("sent 8000 bytes (~0.25s of audio)")}};
        for (const auto &capture : captures) {
            ChunkRecorder chunks;
            engine->setOnPCMFrame(chunks.handler());
            engine->startCapture();
            QCOMPARE(engine->state(), State{AudioCaptureEngine::Capturing{}});
            QCOMPARE(Pactl::recordingSources(), QList<int>{mic});
            if (capture.seconds > 0)
                PipeSource::play(PipeSource::tone(440, capture.seconds));
            const qsizetype full = std::max<qsizetype>(0, capture.sizes.size() - 1);
            QTRY_COMPARE(chunks.count(), full);
            QTest::qWait(kDeliveryMs);
            QCOMPARE(chunks.count(), full); // the remainder waits for the stop

            engine->stopCapture();
            QCOMPARE(chunks.sizes(), capture.sizes);
            const QStringList stops = log.messages(kAudio, QtInfoMsg).filter(QStringLiteral("capture stopped, engine destroyed (mic released)"));
            QVERIFY2(stops.last().endsWith(capture.stopped), qPrintable(stops.last()));
            // The microphone is released between captures, while the connection to the sound
            // server stays open for the next one.
            QTRY_VERIFY(Pactl::recordingSources().isEmpty());
            if (connection.isEmpty())
                connection = ownSoundServerClients();
            QCOMPARE(connection.size(), 1);
            QCOMPARE(ownSoundServerClients(), connection);
        }
        QCOMPARE(log.count(kAudio, QtInfoMsg, QStringLiteral("first PCM chunk flushed (3200 bytes)")), 2); // once a capture
        QVERIFY(!logged(log, QStringLiteral("first PCM chunk flushed (1600")));
        QCOMPARE(log.count(kAudio, QtInfoMsg, QStringLiteral("capture started (input 48000.000000Hz 2ch, deviceID=%1)").arg(mic)), 4);
        // The harness has no built-in microphone: the default source is used, and that is logged.
        QCOMPARE(log.count(kAudio, QtCriticalMsg, QStringLiteral("no builtin input device found, falling back to system default")), 4);
        QCOMPARE(states.size(), 8);
        QCOMPARE(states.at(1).at(0).value<State>(), State{AudioCaptureEngine::EnginePrepared{}});
        QCOMPARE(engine->state(), State{AudioCaptureEngine::EnginePrepared{}});
    }

    // A source in another rate, sample format and channel count than the recording's (44.1 kHz
    // float stereo) comes out as the same tone at the same level.
    void toneKeepsItsFrequencyAndLevel()
    {
        constexpr double frequency = 440;
        constexpr double amplitude = 0.5;
        constexpr int rate = 44100;
        QVERIFY(loadPipeSource(QStringLiteral("murlex_float_mic"), {}, QStringLiteral("float32le"), rate, 2) >= 0);
        QVERIFY(Pactl::setDefaultSource(QStringLiteral("murlex_float_mic")));

        ChunkRecorder chunks;
        auto engine = makeEngine(&chunks);
        engine->startCapture();
        QCOMPARE(engine->state(), State{AudioCaptureEngine::Capturing{}});
        PipeSource::play(floatTone(frequency, 1.0, amplitude, rate, 2), fifo(QStringLiteral("murlex_float_mic")), rate * 2 * 4);
        QTRY_COMPARE(chunks.count(), 9);
        QTest::qWait(kDeliveryMs);
        engine->stopCapture();

        // One second in, one second out: 16000 samples, nothing lost at either end.
        const QList<qint16> samples = chunks.samples();
        QCOMPARE(samples.size(), 16000);
        // Away from the edges: count upward zero crossings and measure the level.
        const qsizetype from = 1600, to = 14400;
        int crossings = 0;
        double energy = 0;
        for (qsizetype i = from; i < to; ++i) {
            crossings += samples[i - 1] < 0 && samples[i] >= 0;
            energy += double(samples[i]) * samples[i];
        }
        const double measured = crossings / (double(to - from) / 16000.0);
        QVERIFY2(std::abs(measured - frequency) <= 4.0, qPrintable(QStringLiteral("%1 Hz").arg(measured)));
        const double db = 20.0 * std::log10(std::sqrt(energy / double(to - from)) / (amplitude * 32767.0 / std::sqrt(2.0)));
        QVERIFY2(std::abs(db) <= 1.0, qPrintable(QStringLiteral("level off by %1 dB").arg(db)));
    }

    // A new default source ends a capture unless its format is the same; once the capture ended,
    // changes go unheard, and the next capture reads the new format. Starting twice and stopping
    // twice change nothing.
    void defaultSourceChangeEndsTheCapture()
    {
        LogCapture log;
        ChunkRecorder chunks;
        int deviceChanges = 0;
        auto engine = makeEngine(&chunks, &deviceChanges);
        // A pipe source gives nothing unless written to, so whatever arrives came from the microphone.
        const int headset = loadPipeSource(QStringLiteral("murlex_headset"), {}, QStringLiteral("s16le"), 44100, 1);
        QVERIFY(headset >= 0);
        QVERIFY(loadPipeSource(QStringLiteral("murlex_twin")) >= 0);

        engine->startCapture();
        PipeSource::play(PipeSource::tone(440, 0.15));
        QTRY_COMPARE(chunks.count(), 1);
        QTest::qWait(kDeliveryMs);

        // A new default in the same format is no change.
        QVERIFY(Pactl::setDefaultSource(QStringLiteral("murlex_twin")));
        QTRY_VERIFY(log.contains(kAudio, QtDebugMsg, QStringLiteral("config change: format unchanged (2 ch, 48000 Hz, Int16, interleaved), no-op")));
        QCOMPARE(engine->state(), State{AudioCaptureEngine::Capturing{}});
        QCOMPARE(deviceChanges, 0);
        QVERIFY(!logged(log, QStringLiteral("audio device configuration changed")));

        QVERIFY(Pactl::setDefaultSource(QStringLiteral("murlex_headset")));
        QTRY_COMPARE(deviceChanges, 1);
        QCOMPARE(engine->state(), State{AudioCaptureEngine::EnginePrepared{}});
        for (const char *line : {"audio device configuration changed (wasCapturing=true)", "new input format: 1 ch, 44100 Hz, Int16, interleaved",
                                 "new device starts; engine released until the next capture"})
            QVERIFY2(log.contains(kAudio, QtInfoMsg, QLatin1String(line)), line);
        // Nothing is held after the capture ended.
        QTRY_VERIFY(Pactl::recordingSources().isEmpty());

        // The remainder is discarded; stopping now does nothing.
        engine->stopCapture();
        QCOMPARE(chunks.count(), 1);
        QVERIFY(!logged(log, QStringLiteral("capture stopped")));

        QSignalSpy states(engine.get(), &AudioCaptureEngine::stateChanged);
        QVERIFY(Pactl::setDefaultSource(QStringLiteral("murlex_twin")));
        QVERIFY(Pactl::setDefaultSource(QStringLiteral("murlex_headset")));
        QTest::qWait(kQuietMs);
        QCOMPARE(deviceChanges, 1);
        engine->startCapture();
        engine->startCapture();
        QCOMPARE(log.count(kAudio, QtCriticalMsg, QStringLiteral("startCapture called while already capturing")), 1);
        QVERIFY(log.contains(kAudio, QtInfoMsg, QStringLiteral("capture started (input 44100.000000Hz 1ch, deviceID=%1)").arg(headset)));
        QCOMPARE(Pactl::recordingSources(), QList<int>{headset});
        QCOMPARE(states.size(), 1);
        engine->stopCapture();
        const qsizetype entries = log.entries().size();
        engine->stopCapture();
        QCOMPARE(log.entries().size(), entries);
        QCOMPARE(states.size(), 2);
        QCOMPARE(engine->state(), State{AudioCaptureEngine::EnginePrepared{}});
    }

    // The first built-in source is preferred over the default (and a later built-in one); its
    // vanishing ends the capture.
    void builtInSourceIsPreferredAndItsVanishingEndsTheCapture()
    {
        LogCapture log;
        ChunkRecorder chunks;
        int deviceChanges = 0;
        auto engine = makeEngine(&chunks, &deviceChanges);
        const int usb = loadPipeSource(QStringLiteral("murlex_usb"), QStringLiteral("device.bus=usb device.form_factor=webcam"));
        const int builtin = loadPipeSource(QStringLiteral("murlex_builtin"), QStringLiteral("device.form_factor=internal"));
        const int pci = loadPipeSource(QStringLiteral("murlex_pci"), QStringLiteral("device.bus=pci"));
        QVERIFY(usb >= 0 && builtin >= 0 && pci >= 0);
        // The device list: every source but the null sink's monitor, which is no microphone.
        const auto mic = AudioDeviceID(Pactl::sourceIndex(PipeSource::sourceName()));
        QCOMPARE(m_system->inputDevices(), std::optional(QList<AudioDevice>{{mic, PipeSource::sourceName(), false},
                                                                            {AudioDeviceID(usb), QStringLiteral("murlex_usb"), false},
                                                                            {AudioDeviceID(builtin), QStringLiteral("murlex_builtin"), true},
                                                                            {AudioDeviceID(pci), QStringLiteral("murlex_pci"), true}}));
        QCOMPARE(m_system->defaultInputDevice(), std::optional<AudioDeviceID>(mic));

        engine->startCapture();
        QCOMPARE(Pactl::recordingSources(), QList<int>{builtin});
        QVERIFY(log.contains(kAudio, QtInfoMsg, QStringLiteral("bound inputNode to builtin mic deviceID=%1").arg(builtin)));
        QVERIFY(log.contains(kAudio, QtInfoMsg, QStringLiteral("capture started (input 48000.000000Hz 2ch, deviceID=%1)").arg(builtin)));
        PipeSource::play(PipeSource::tone(440, 0.15), fifo(QStringLiteral("murlex_builtin"))); // done before its source goes away
        QTRY_COMPARE(chunks.sizes(), QList<qsizetype>{3200});

        QVERIFY(Pactl::unloadModule(m_modules.takeAt(1)));
        QTRY_COMPARE(deviceChanges, 1);
        QCOMPARE(engine->state(), State{AudioCaptureEngine::Interrupted{QStringLiteral("音频设备格式无效(sampleRate=0)")}});
        QVERIFY(log.contains(kAudio, QtCriticalMsg, QStringLiteral("new device has invalid sampleRate=0, marking interrupted")));
        QTest::qWait(kQuietMs);
        QCOMPARE(deviceChanges, 1);
        QCOMPARE(chunks.count(), 1);

        // The next capture takes the built-in source that is left.
        engine->startCapture();
        QCOMPARE(engine->state(), State{AudioCaptureEngine::Capturing{}});
        QCOMPARE(Pactl::recordingSources(), QList<int>{pci});
        engine->stopCapture();
    }

    // Each failure once at the start of a capture, then once when a new default source in another
    // format rebuilds it (a sample rate of 0, the real server's, on both paths: see
    // noSoundServerMeansNoMicrophone and builtInSourceIsPreferredAndItsVanishingEndsTheCapture).
    // The next start simply tries again.
    void failuresShowOnlyInTheState()
    {
        const struct {
            bool refuseConverter;
            QString startLog, startMessage, rebuildLog, rebuildMessage, newDefault;
        } failures[] = {{true, QStringLiteral("startCapture: failed to build converter for 2 ch, 48000 Hz, Int16, interleaved"),
                         QStringLiteral("无法构建音频转换器"), QStringLiteral("failed to rebuild converter for new device"),
                         QStringLiteral("无法构建新设备的音频转换器"), QStringLiteral("murlex_dock")},
                        {false, QStringLiteral("startCapture: engine.start failed: Connection terminated"),
                         QStringLiteral("引擎启动失败: Connection terminated"), QStringLiteral("engine restart failed: Connection terminated"),
                         QStringLiteral("引擎重启失败: Connection terminated"), PipeSource::sourceName()}};
        const auto scripted = std::make_shared<ScriptedAudioSystem>(m_system);
        LogCapture log;
        int deviceChanges = 0;
        auto engine = makeEngine(nullptr, &deviceChanges, scripted);
        QSignalSpy states(engine.get(), &AudioCaptureEngine::stateChanged);
        QVERIFY(loadPipeSource(QStringLiteral("murlex_dock"), {}, QStringLiteral("s16le"), 44100, 1) >= 0);
        for (const auto &failure : failures) {
            const auto fail = [&] {
                scripted->refuseConverter = failure.refuseConverter;
                scripted->startFailure = failure.refuseConverter ? QString() : QStringLiteral("Connection terminated");
            };
            fail();
            states.clear();
            deviceChanges = 0;
            engine->startCapture();
            QCOMPARE(engine->state(), State{AudioCaptureEngine::Interrupted{failure.startMessage}});
            QCOMPARE(states.size(), 1);
            QVERIFY(log.contains(kAudio, QtCriticalMsg, failure.startLog));
            QVERIFY(Pactl::recordingSources().isEmpty());
            // Stopping an engine that never started does nothing.
            engine->stopCapture();
            QCOMPARE(states.size(), 1);
            QCOMPARE(deviceChanges, 0);

            scripted->refuseConverter = false;
            scripted->startFailure.clear();
            engine->startCapture();
            QCOMPARE(engine->state(), State{AudioCaptureEngine::Capturing{}});
            QCOMPARE(Pactl::recordingSources().size(), 1);

            log.clear();
            fail();
            QVERIFY(Pactl::setDefaultSource(failure.newDefault));
            QTRY_COMPARE(deviceChanges, 1);
            QCOMPARE(engine->state(), State{AudioCaptureEngine::Interrupted{failure.rebuildMessage}});
            QVERIFY(log.contains(kAudio, QtCriticalMsg, failure.rebuildLog));
            QVERIFY(log.contains(kAudio, QtInfoMsg, QStringLiteral("audio device configuration changed (wasCapturing=true)")));
            QVERIFY(!logged(log, QStringLiteral("new device starts")));
            QTRY_VERIFY(Pactl::recordingSources().isEmpty());
        }
    }

    // The permission is undetermined until asked, then remembered. Preparing confirms it only
    // from idle and does not open the microphone; a capture started from idle asks nothing.
    void permissionIsAskedOnceAndPreparingOnlyConfirmsIt()
    {
        auto permission = Platform::microphonePermission(m_system, settings(QStringLiteral("asked")));
        QCOMPARE(permission->status(), MicStatus::undetermined);
        QCOMPARE(QCoro::waitFor(permission->request()), MicStatus::granted);
        QCOMPARE(permission->status(), MicStatus::granted);
        QCOMPARE(Platform::microphonePermission(m_system, settings(QStringLiteral("asked")))->status(), MicStatus::granted);
        QVERIFY(settings(QStringLiteral("asked"))->value(QStringLiteral("microphoneAccessRequested")).toBool());
        // With no usable source the same question is answered "denied".
        QCOMPARE(Platform::microphonePermission(Platform::audioSystem(unreachableServer()), settings(QStringLiteral("asked")))->status(),
                 MicStatus::denied);

        LogCapture log;
        auto engine = std::make_unique<AudioCaptureEngine>(m_system, Platform::microphonePermission(m_system, settings(QStringLiteral("prepare"))));
        QSignalSpy states(engine.get(), &AudioCaptureEngine::stateChanged);
        QCOMPARE(QCoro::waitFor(engine->prepare()), std::nullopt);
        QCOMPARE(engine->state(), State{AudioCaptureEngine::EnginePrepared{}});
        QVERIFY(log.contains(kAudio, QtInfoMsg, QStringLiteral("prepared (engine on-demand, mic released until startCapture)")));
        QVERIFY(Pactl::recordingSources().isEmpty());
        QCOMPARE(QCoro::waitFor(engine->prepare()), std::nullopt);
        QCOMPARE(states.size(), 1);

        auto unasked = Platform::microphonePermission(m_system, settings(QStringLiteral("unasked")));
        AudioCaptureEngine capturing(m_system, unasked);
        capturing.startCapture();
        QCOMPARE(QCoro::waitFor(capturing.prepare()), std::nullopt);
        QCOMPARE(capturing.state(), State{AudioCaptureEngine::Capturing{}});
        QCOMPARE(unasked->status(), MicStatus::undetermined);
        capturing.stopCapture();
    }

    void noSoundServerMeansNoMicrophone()
    {
        LogCapture log;
        auto engine = makeEngine(nullptr, nullptr, Platform::audioSystem(unreachableServer()));
        QSignalSpy states(engine.get(), &AudioCaptureEngine::stateChanged);
        QCOMPARE(QCoro::waitFor(engine->prepare()),
                 std::optional(PlatformError{QStringLiteral("Murlex.Audio"), 1, QStringLiteral("麦克风权限被拒绝")}));
        QCOMPARE(engine->state(), State{AudioCaptureEngine::Idle{}});
        QCOMPARE(states.size(), 0);

        // Started anyway, the capture finds no usable input.
        engine->startCapture();
        QCOMPARE(engine->state(), State{AudioCaptureEngine::Interrupted{QStringLiteral("麦克风格式无效")}});
        QVERIFY(log.contains(kAudio, QtCriticalMsg, QStringLiteral("no builtin input device found, falling back to system default")));
        QVERIFY(log.contains(kAudio, QtCriticalMsg, QStringLiteral("startCapture: invalid input format (sampleRate=0)")));
    }

    void aServerThatNeverAnswersIsGivenUp()
    {
        // Accepts connections (the kernel does, with nobody reading) and never says a word.
        QLocalServer silent;
        QVERIFY(silent.listen(m_dir.filePath(QStringLiteral("silent"))));
        const QString server = QStringLiteral("unix:") + silent.fullServerName();
        LogCapture log;
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(Platform::audioSystem(server, std::chrono::milliseconds(200))->inputDevices(), std::nullopt);
        QVERIFY2(timer.elapsed() >= 150 && timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(log.contains(kAudio, QtDebugMsg, QStringLiteral("PulseAudio: cannot connect: Timeout")));

        // The real limit is a few seconds: long enough for a busy server, short enough for a user.
        timer.restart();
        QCOMPARE(Platform::audioSystem(server)->inputDevices(), std::nullopt);
        QVERIFY2(timer.elapsed() >= 1000 && timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestAudioCapture)
#include "tst_audio_capture.moc"
