// test-labels: audio
// The capture engine against the harness's real PulseAudio: known signals written into pipe
// sources come back as 16 kHz mono chunks, and device changes end a capture.
#include "audio/AudioCaptureEngine.h"
#include "platform/Platform.h"

#include "ChunkRecorder.h"
#include "LogCapture.h"
#include "Pactl.h"
#include "PipeSource.h"

#include <QtTest>

#include <cmath>

using State = AudioCaptureEngine::State;

namespace {

// Time for audio written into a pipe source to reach the tap after the writer finished.
constexpr int kDeliveryMs = 500;
// How long a test watches for a reaction that must not come.
constexpr int kQuietMs = 600;

const QString kAudio = QStringLiteral("audio");

QString audioMessage(const LogCapture &log, const QString &prefix)
{
    for (const QString &message : log.messages(kAudio))
        if (message.startsWith(prefix))
            return message;
    return {};
}

// Writes `pcm` into a pipe source in real time; returns once it is all written.
void play(const QByteArray &pcm, const QString &fifo = PipeSource::fifoPath(), int bytesPerSecond = PipeSource::sampleRate() * PipeSource::channels() * 2)
{
    PipeSource source(fifo, bytesPerSecond);
    source.start(pcm);
    source.wait();
}

// Interleaved float32 samples of a sine tone on every channel.
QByteArray floatTone(double frequency, double seconds, double amplitude, int rate, int channels)
{
    const auto frames = qsizetype(std::llround(seconds * rate));
    QByteArray out(frames * channels * 4, Qt::Uninitialized);
    auto *samples = reinterpret_cast<float *>(out.data());
    for (qsizetype i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples[i * channels + c] = float(amplitude * std::sin(2.0 * M_PI * frequency * double(i) / rate));
    return out;
}

} // namespace

class TestAudioCapture : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::shared_ptr<AudioSystem> m_system;
    QList<int> m_modules;

    // An engine on the real sound system; chunks go to `chunks` and device changes that end a
    // capture are counted in `deviceChanges` when given.
    std::unique_ptr<AudioCaptureEngine> makeEngine(ChunkRecorder *chunks = nullptr, int *deviceChanges = nullptr)
    {
        auto settings = std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        auto permission = Platform::microphonePermission(m_system, std::move(settings));
        auto engine = std::make_unique<AudioCaptureEngine>(m_system, permission);
        if (chunks)
            engine->setOnPCMFrame(chunks->handler());
        if (deviceChanges)
            engine->setOnDeviceChangedDuringCapture([deviceChanges] { ++*deviceChanges; });
        return engine;
    }

    QString fifo(const QString &name) const { return m_dir.filePath(name + QStringLiteral(".fifo")); }

    int loadPipeSource(const QString &name, const QString &properties = {}, const QString &format = QStringLiteral("s16le"),
                       int rate = 48000, int channels = 2)
    {
        const int module = Pactl::loadPipeSource(name, fifo(name), format, rate, channels, properties);
        if (module >= 0)
            m_modules << module;
        return Pactl::sourceIndex(name);
    }

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

    void quarterSecondGivesTwoFullChunksAndAShortOne()
    {
        LogCapture log;
        auto engine = makeEngine();
        QSignalSpy states(engine.get(), &AudioCaptureEngine::stateChanged);
        const int mic = Pactl::sourceIndex(PipeSource::sourceName());

        for (int capture = 1; capture <= 2; ++capture) {
            ChunkRecorder chunks;
            engine->setOnPCMFrame(chunks.handler());
            engine->startCapture();
            QCOMPARE(engine->state(), State{AudioCaptureEngine::Capturing{}});
            QCOMPARE(Pactl::recordingSources(), QList<int>{mic});

            play(PipeSource::tone(440, 0.25));
            QTRY_COMPARE(chunks.count(), 2);
            QTest::qWait(kDeliveryMs);
            QCOMPARE(chunks.count(), 2); // the remainder waits for the stop

            engine->stopCapture();
            QCOMPARE(chunks.sizes(), (QList<qsizetype>{3200, 3200, 1600}));
            QCOMPARE(engine->sentBytesThisSession(), 8000);
            QCOMPARE(log.count(kAudio, QtInfoMsg, QStringLiteral("first PCM chunk flushed (3200 bytes)")), capture);
            // The microphone is released between captures.
            QTRY_VERIFY(Pactl::recordingSources().isEmpty());
        }

        const QRegularExpression stopLine(QStringLiteral(
            R"(^capture stopped, engine destroyed \(mic released\): tap fired [1-9]\d* times, sent 8000 bytes \(~0\.25s of audio\)$)"));
        QCOMPARE(log.messages(kAudio, QtInfoMsg).filter(stopLine).size(), 2);
        QCOMPARE(log.count(kAudio, QtInfoMsg, QStringLiteral("capture started (input 48000.000000Hz 2ch, deviceID=%1)").arg(mic)), 2);
        // The harness has no built-in microphone: the default source is used, and that is logged.
        QCOMPARE(log.count(kAudio, QtCriticalMsg, QStringLiteral("no builtin input device found, falling back to system default")), 2);
        QCOMPARE(states.size(), 4);
        QCOMPARE(states.at(1).at(0).value<State>(), State{AudioCaptureEngine::EnginePrepared{}});
        QCOMPARE(engine->state(), State{AudioCaptureEngine::EnginePrepared{}});
    }

    void toneKeepsItsFrequencyAndLevel_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::newRow("48 kHz s16 stereo (the harness microphone)") << QString() << 48000 << 2;
        QTest::newRow("44.1 kHz float mono") << QStringLiteral("float32le") << 44100 << 1;
    }

    void toneKeepsItsFrequencyAndLevel()
    {
        QFETCH(QString, format);
        QFETCH(int, rate);
        QFETCH(int, channels);
        constexpr double frequency = 440;
        constexpr double amplitude = 0.5;

        QString fifoPath = PipeSource::fifoPath();
        int bytesPerSecond = rate * channels * 2;
        QByteArray signal = PipeSource::tone(frequency, 1.0, amplitude);
        if (!format.isEmpty()) {
            const QString name = QStringLiteral("murlex_float_mic");
            QVERIFY(loadPipeSource(name, {}, format, rate, channels) >= 0);
            QVERIFY(Pactl::setDefaultSource(name));
            fifoPath = fifo(name);
            bytesPerSecond = rate * channels * 4;
            signal = floatTone(frequency, 1.0, amplitude, rate, channels);
        }

        ChunkRecorder chunks;
        auto engine = makeEngine(&chunks);
        engine->startCapture();
        QCOMPARE(engine->state(), State{AudioCaptureEngine::Capturing{}});
        play(signal, fifoPath, bytesPerSecond);
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
            if (samples[i - 1] < 0 && samples[i] >= 0)
                ++crossings;
            energy += double(samples[i]) * samples[i];
        }
        const double seconds = double(to - from) / 16000.0;
        const double measured = crossings / seconds;
        QVERIFY2(std::abs(measured - frequency) <= 4.0, qPrintable(QStringLiteral("%1 Hz").arg(measured)));
        const double rms = std::sqrt(energy / double(to - from));
        const double expected = amplitude * 32767.0 / std::sqrt(2.0);
        const double db = 20.0 * std::log10(rms / expected);
        QVERIFY2(std::abs(db) <= 1.0, qPrintable(QStringLiteral("level off by %1 dB").arg(db)));
    }

    void shortAndSilentCaptures()
    {
        LogCapture log;
        auto engine = makeEngine();
        for (const double seconds : {0.05, 0.0}) {
            ChunkRecorder chunks;
            engine->setOnPCMFrame(chunks.handler());
            engine->startCapture();
            if (seconds > 0)
                play(PipeSource::tone(440, seconds));
            QTest::qWait(kDeliveryMs);
            QCOMPARE(chunks.count(), 0); // under 100 ms: nothing before the stop
            engine->stopCapture();
            // A short capture yields one short chunk at stop; no bytes, nothing.
            QCOMPARE(chunks.sizes(), seconds > 0 ? QList<qsizetype>{1600} : QList<qsizetype>{});
        }
        QVERIFY(audioMessage(log, QStringLiteral("capture stopped")).endsWith(QStringLiteral("sent 1600 bytes (~0.05s of audio)")));
        QCOMPARE(log.messages(kAudio, QtInfoMsg).filter(QRegularExpression(QStringLiteral(R"(sent 0 bytes \(~0\.00s of audio\)$)"))).size(), 1);
        QCOMPARE(log.count(kAudio, QtInfoMsg, QStringLiteral("first PCM chunk flushed (3200 bytes)")), 0);
    }

    // Starting twice and stopping twice change nothing; once stopped, a change of the default
    // source goes unheard, and the next capture reads the new format.
    void repeatedStartsAndStopsAndChangesAfterStop()
    {
        LogCapture log;
        int deviceChanges = 0;
        auto engine = makeEngine(nullptr, &deviceChanges);
        QSignalSpy states(engine.get(), &AudioCaptureEngine::stateChanged);

        engine->startCapture();
        engine->startCapture();
        QCOMPARE(log.count(kAudio, QtCriticalMsg, QStringLiteral("startCapture called while already capturing")), 1);
        QCOMPARE(engine->state(), State{AudioCaptureEngine::Capturing{}});
        QCOMPARE(states.size(), 1);
        QCOMPARE(Pactl::recordingSources().size(), 1);

        engine->stopCapture();
        const qsizetype logged = log.entries().size();
        engine->stopCapture();
        QCOMPARE(log.entries().size(), logged);
        QCOMPARE(states.size(), 2);
        QCOMPARE(engine->state(), State{AudioCaptureEngine::EnginePrepared{}});

        const int other = loadPipeSource(QStringLiteral("murlex_other"), {}, QStringLiteral("s16le"), 44100, 1);
        QVERIFY(other >= 0);
        QVERIFY(Pactl::setDefaultSource(QStringLiteral("murlex_other")));
        QTest::qWait(kQuietMs);
        QCOMPARE(deviceChanges, 0);
        QCOMPARE(states.size(), 2);
        QVERIFY(audioMessage(log, QStringLiteral("audio device configuration changed")).isEmpty());

        engine->startCapture();
        QVERIFY(log.contains(kAudio, QtInfoMsg, QStringLiteral("capture started (input 44100.000000Hz 1ch, deviceID=%1)").arg(other)));
        QCOMPARE(Pactl::recordingSources(), QList<int>{other});
        engine->stopCapture();
    }

    void defaultSourceChangeEndsTheCapture()
    {
        LogCapture log;
        ChunkRecorder chunks;
        int deviceChanges = 0;
        auto engine = makeEngine(&chunks, &deviceChanges);
        // A pipe source gives nothing unless written to, so whatever arrives came from the microphone.
        QVERIFY(loadPipeSource(QStringLiteral("murlex_headset"), {}, QStringLiteral("s16le"), 44100, 1) >= 0);
        QVERIFY(loadPipeSource(QStringLiteral("murlex_twin")) >= 0);

        engine->startCapture();
        play(PipeSource::tone(440, 0.15));
        QTRY_COMPARE(chunks.count(), 1);
        QTest::qWait(kDeliveryMs);

        // A new default in the same format is no change.
        QVERIFY(Pactl::setDefaultSource(QStringLiteral("murlex_twin")));
        QTRY_VERIFY(log.contains(kAudio, QtDebugMsg, QStringLiteral("config change: format unchanged (2 ch, 48000 Hz, Int16, interleaved), no-op")));
        QCOMPARE(engine->state(), State{AudioCaptureEngine::Capturing{}});
        QCOMPARE(deviceChanges, 0);
        QVERIFY(audioMessage(log, QStringLiteral("audio device configuration changed")).isEmpty());

        QVERIFY(Pactl::setDefaultSource(QStringLiteral("murlex_headset")));
        QTRY_COMPARE(deviceChanges, 1);
        QCOMPARE(engine->state(), State{AudioCaptureEngine::EnginePrepared{}});
        QVERIFY(log.contains(kAudio, QtInfoMsg, QStringLiteral("audio device configuration changed (wasCapturing=true)")));
        QVERIFY(log.contains(kAudio, QtInfoMsg, QStringLiteral("new input format: 1 ch, 44100 Hz, Int16, interleaved")));
        QVERIFY(log.contains(kAudio, QtInfoMsg, QStringLiteral("new device starts; engine released until the next capture")));
        // Nothing is held after the capture ended.
        QTRY_VERIFY(Pactl::recordingSources().isEmpty());

        // The remainder is discarded; stopping now does nothing.
        engine->stopCapture();
        QCOMPARE(chunks.count(), 1);
        QVERIFY(audioMessage(log, QStringLiteral("capture stopped")).isEmpty());

        // Once the capture ended, further changes go unheard.
        QVERIFY(Pactl::setDefaultSource(PipeSource::sourceName()));
        QTest::qWait(kQuietMs);
        QCOMPARE(deviceChanges, 1);
    }

    // The first built-in source is preferred over the default (and a later built-in one); its
    // vanishing ends the capture.
    void builtInSourceIsPreferredAndItsVanishingEndsTheCapture()
    {
        LogCapture log;
        ChunkRecorder chunks;
        int deviceChanges = 0;
        auto engine = makeEngine(&chunks, &deviceChanges);
        QVERIFY(loadPipeSource(QStringLiteral("murlex_usb")) >= 0);
        const QString name = QStringLiteral("murlex_builtin");
        const int builtin = loadPipeSource(name, QStringLiteral("device.form_factor=internal"));
        QVERIFY(builtin >= 0);
        const int pci = loadPipeSource(QStringLiteral("murlex_pci"), QStringLiteral("device.bus=pci"));
        QVERIFY(pci >= 0);

        engine->startCapture();
        QCOMPARE(Pactl::recordingSources(), QList<int>{builtin});
        QVERIFY(log.contains(kAudio, QtInfoMsg, QStringLiteral("bound inputNode to builtin mic deviceID=%1").arg(builtin)));
        QVERIFY(log.contains(kAudio, QtInfoMsg, QStringLiteral("capture started (input 48000.000000Hz 2ch, deviceID=%1)").arg(builtin)));
        play(PipeSource::tone(440, 0.15), fifo(name)); // done writing before its source goes away
        QTRY_COMPARE(chunks.count(), 1);
        QCOMPARE(chunks.sizes(), QList<qsizetype>{3200});

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
};

QTEST_GUILESS_MAIN(TestAudioCapture)
#include "tst_audio_capture.moc"
