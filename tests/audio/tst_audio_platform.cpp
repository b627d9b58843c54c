// test-labels: audio
// The PulseAudio side of capture: device queries, the microphone permission stand-in, the
// permission step of the capture engine, and a server that does not answer.
#include "audio/AudioCaptureEngine.h"
#include "platform/AudioSystem.h"
#include "platform/MicrophonePermission.h"
#include "platform/Platform.h"

#include "LogCapture.h"
#include "Pactl.h"
#include "PipeSource.h"

#include <QCoro/QCoroTask>
#include <QLocalServer>
#include <QtTest>

using State = AudioCaptureEngine::State;

class TestAudioPlatform : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QList<int> m_modules;

    std::unique_ptr<QSettings> settings(const QString &name)
    {
        return std::make_unique<QSettings>(m_dir.filePath(name + QStringLiteral(".ini")), QSettings::IniFormat);
    }

    QString unreachableServer() const { return QStringLiteral("unix:") + m_dir.filePath(QStringLiteral("no-server")); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!PipeSource::fifoPath().isEmpty(), "no pipe source: run the tests through scripts/harness.sh");
        QVERIFY(m_dir.isValid());
    }

    void cleanup()
    {
        for (int module : std::as_const(m_modules))
            Pactl::unloadModule(module);
        m_modules.clear();
    }

    void devicesAreTheSourcesWithoutMonitors()
    {
        const auto load = [this](const QString &name, const QString &properties) {
            m_modules << Pactl::loadPipeSource(name, m_dir.filePath(name + QStringLiteral(".fifo")),
                                               QStringLiteral("s16le"), 48000, 2, properties);
            return AudioDeviceID(Pactl::sourceIndex(name));
        };
        const AudioDeviceID internal = load(QStringLiteral("murlex_laptop"), QStringLiteral("device.form_factor=internal"));
        const AudioDeviceID pci = load(QStringLiteral("murlex_card"), QStringLiteral("device.bus=pci"));
        const AudioDeviceID usb = load(QStringLiteral("murlex_usb"), QStringLiteral("device.bus=usb device.form_factor=webcam"));

        const std::shared_ptr<AudioSystem> system = Platform::audioSystem();
        const std::optional<QList<AudioDevice>> devices = system->inputDevices();
        QVERIFY(devices);
        const auto mic = AudioDeviceID(Pactl::sourceIndex(PipeSource::sourceName()));
        // The null sink's monitor is a source too, but no microphone.
        QCOMPARE(*devices, (QList<AudioDevice>{{mic, PipeSource::sourceName(), false},
                                               {internal, QStringLiteral("murlex_laptop"), true},
                                               {pci, QStringLiteral("murlex_card"), true},
                                               {usb, QStringLiteral("murlex_usb"), false}}));
        QCOMPARE(system->defaultInputDevice(), std::optional<AudioDeviceID>(mic));
    }

    void permissionIsUndeterminedUntilAsked()
    {
        auto system = Platform::audioSystem();
        auto permission = Platform::microphonePermission(system, settings(QStringLiteral("asked")));
        QCOMPARE(permission->status(), MicStatus::undetermined);
        QCOMPARE(QCoro::waitFor(permission->request()), MicStatus::granted);
        QCOMPARE(permission->status(), MicStatus::granted);

        // The answer is remembered across runs.
        QCOMPARE(Platform::microphonePermission(system, settings(QStringLiteral("asked")))->status(), MicStatus::granted);
        QVERIFY(settings(QStringLiteral("asked"))->value(QStringLiteral("microphoneAccessRequested")).toBool());

        // With no usable source the same question is answered "denied".
        QCOMPARE(Platform::microphonePermission(Platform::audioSystem(unreachableServer()), settings(QStringLiteral("asked")))->status(),
                 MicStatus::denied);
    }

    void prepareConfirmsThePermissionOnlyFromIdle()
    {
        LogCapture log;
        auto system = Platform::audioSystem();
        auto permission = Platform::microphonePermission(system, settings(QStringLiteral("prepare")));
        AudioCaptureEngine engine(system, permission);
        QSignalSpy states(&engine, &AudioCaptureEngine::stateChanged);

        QCOMPARE(QCoro::waitFor(engine.prepare()), std::nullopt);
        QCOMPARE(engine.state(), State{AudioCaptureEngine::EnginePrepared{}});
        QVERIFY(log.contains(QStringLiteral("audio"), QtInfoMsg,
                             QStringLiteral("prepared (engine on-demand, mic released until startCapture)")));
        // Preparing does not open the microphone.
        QVERIFY(Pactl::recordingSources().isEmpty());
        QCOMPARE(QCoro::waitFor(engine.prepare()), std::nullopt);
        QCOMPARE(states.size(), 1);

        // A capture started from idle: prepare() returns without asking.
        auto unasked = Platform::microphonePermission(system, settings(QStringLiteral("unasked")));
        AudioCaptureEngine capturing(system, unasked);
        capturing.startCapture();
        QCOMPARE(capturing.state(), State{AudioCaptureEngine::Capturing{}});
        QCOMPARE(QCoro::waitFor(capturing.prepare()), std::nullopt);
        QCOMPARE(capturing.state(), State{AudioCaptureEngine::Capturing{}});
        QCOMPARE(unasked->status(), MicStatus::undetermined);
        capturing.stopCapture();
    }

    void noSoundServerMeansNoMicrophone()
    {
        LogCapture log;
        auto system = Platform::audioSystem(unreachableServer());
        AudioCaptureEngine engine(system, Platform::microphonePermission(system, settings(QStringLiteral("cut"))));
        QSignalSpy states(&engine, &AudioCaptureEngine::stateChanged);

        const std::optional<PlatformError> error = QCoro::waitFor(engine.prepare());
        QCOMPARE(error, std::optional<PlatformError>(PlatformError{QStringLiteral("Murlex.Audio"), 1, QStringLiteral("麦克风权限被拒绝")}));
        QCOMPARE(engine.state(), State{AudioCaptureEngine::Idle{}});
        QCOMPARE(states.size(), 0);

        // Started anyway, the capture finds no usable input.
        engine.startCapture();
        QCOMPARE(engine.state(), State{AudioCaptureEngine::Interrupted{QStringLiteral("麦克风格式无效")}});
        QVERIFY(log.contains(QStringLiteral("audio"), QtCriticalMsg,
                             QStringLiteral("no builtin input device found, falling back to system default")));
        QVERIFY(log.contains(QStringLiteral("audio"), QtCriticalMsg, QStringLiteral("startCapture: invalid input format (sampleRate=0)")));
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
        QVERIFY(log.contains(QStringLiteral("audio"), QtDebugMsg, QStringLiteral("PulseAudio: cannot connect: Timeout")));

        // The real limit is a few seconds: long enough for a busy server, short enough for a user.
        timer.restart();
        QCOMPARE(Platform::audioSystem(server)->inputDevices(), std::nullopt);
        QVERIFY2(timer.elapsed() >= 1000 && timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestAudioPlatform)
#include "tst_audio_platform.moc"
