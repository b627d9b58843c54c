#pragma once

#include "audio/AudioCapture.h"
#include "platform/AudioSystem.h"
#include "platform/MicrophonePermission.h"

#include <QByteArray>
#include <QObject>

#include <memory>
#include <variant>

// Turns the microphone into 3200-byte chunks of 16 kHz mono signed 16-bit little-endian PCM,
// handed to onPCMFrame on the audio thread. It records only between startCapture() and
// stopCapture(): every stop discards the platform engine object for a fresh, unstarted one, so
// the microphone is released between dictations. It records from the input the person chose, when
// one is chosen and present, and otherwise prefers the built-in microphone to the system's
// default input. Failures to start or to follow a device change show only in `state`.
//
// Threads: everything but the tap runs on the main thread. The tap (handleInputBuffer) runs on the
// platform's audio thread while it is installed and is the only writer of the pending bytes,
// the counters and the converter then; the main thread touches them before the tap is installed
// and after it was removed, so there is no lock.
class AudioCaptureEngine : public QObject, public AudioCapture {
    Q_OBJECT
public:
    struct Idle {
        bool operator==(const Idle &) const = default;
    };
    struct EnginePrepared {
        bool operator==(const EnginePrepared &) const = default;
    };
    struct Capturing {
        bool operator==(const Capturing &) const = default;
    };
    struct Interrupted {
        QString message; // user-facing
        bool operator==(const Interrupted &) const = default;
    };
    using State = std::variant<Idle, EnginePrepared, Capturing, Interrupted>;

    // The streaming PCM format and its chunk: 1600 samples, 100 ms.
    static constexpr double kOutputSampleRate = 16000;
    static constexpr qsizetype kPcmChunkBytes = 3200;
    static constexpr qint64 kOutputBytesPerSecond = 32000;
    // The tap asks for buffers of this many frames.
    static constexpr quint32 kTapBufferFrames = 1024;
    // Slack in every callback's output buffer, in frames.
    static constexpr quint32 kOutputSlackFrames = 256;

    AudioCaptureEngine(std::shared_ptr<AudioSystem> system, std::shared_ptr<MicrophonePermission> permission,
                       QObject *parent = nullptr);
    ~AudioCaptureEngine() override;

    QCoro::Task<std::optional<PlatformError>> prepare() override;
    void startCapture() override;
    void stopCapture() override;
    // Set before a capture starts; called on the audio thread (and on the main thread for the
    // short last chunk at stop). The audio thread holds the sound system's loop while it calls
    // the handler, so the handler must never wait for the main thread.
    void setOnPCMFrame(PCMFrameHandler handler) override;
    // Called on the main thread after a device change ended a running capture.
    void setOnDeviceChangedDuringCapture(std::function<void()> handler);
    // Asked at every start for the name of the input the person chose (empty: the automatic
    // choice). A chosen input that is not there at the start is logged and the automatic choice
    // records instead; the choice itself is left alone, since the input may come back.
    void setChosenInput(std::function<QString()> chosenInputName);

    const State &state() const { return m_state; }
    // Device of the current or last capture; counters since the last start. Read them on the
    // main thread while no capture runs.
    AudioDeviceID lastInputDeviceID() const { return m_lastInputDeviceID; }
    qint64 sentBytesThisSession() const { return m_sentBytesThisSession; }
    qint64 tapInvocationCount() const { return m_tapInvocationCount; }

Q_SIGNALS:
    // Emitted on every assignment of the state, also when it does not change.
    void stateChanged(const AudioCaptureEngine::State &state);

private:
    void setState(State state);
    std::optional<AudioDeviceID> bindInputDevice();
    std::optional<AudioDeviceID> bindChosenInput(const QString &name);
    std::optional<AudioDeviceID> bindBuiltinMicrophone();
    std::optional<AudioDeviceID> findBuiltinInputDevice();
    AudioDeviceID defaultInputDeviceID();
    void installConfigChangeObserver();
    void removeConfigChangeObserver();
    void handleInputBuffer(const AudioBuffer &buffer);
    void flushFullChunks();
    void handleConfigurationChange();
    void drainConverter();
    void releaseEngine();

    const std::shared_ptr<AudioSystem> m_system;
    const std::shared_ptr<MicrophonePermission> m_permission;
    const AudioFormat m_outputFormat{kOutputSampleRate, 1, AudioSampleType::int16};

    State m_state = Idle{};
    PCMFrameHandler m_onPCMFrame;
    std::function<void()> m_onDeviceChangedDuringCapture;
    std::function<QString()> m_chosenInput;
    std::unique_ptr<AudioEngine> m_engine;
    std::unique_ptr<AudioConverter> m_converter;
    std::optional<AudioFormat> m_inputFormat;
    AudioDeviceID m_lastInputDeviceID = 0;
    QByteArray m_pendingPCM;
    qint64 m_sentBytesThisSession = 0;
    qint64 m_tapInvocationCount = 0;
    QMetaObject::Connection m_configChangeObserver;
};

Q_DECLARE_METATYPE(AudioCaptureEngine::State)
