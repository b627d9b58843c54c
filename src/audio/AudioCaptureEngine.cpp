#include "audio/AudioCaptureEngine.h"

#include "app/AppLogger.h"
#include "core/TimingPoint.h"

#include <cstring>
#include <new>

namespace {

// Room for the pending bytes: under one chunk between callbacks plus one callback's output.
constexpr qsizetype kPendingCapacity = 4 * AudioCaptureEngine::kPcmChunkBytes;
// Frames taken at a time from the converter's held-back tail at stop.
constexpr quint32 kDrainFrames = 4096;

} // namespace

AudioCaptureEngine::AudioCaptureEngine(std::shared_ptr<AudioSystem> system,
                                       std::shared_ptr<MicrophonePermission> permission, QObject *parent)
    : QObject(parent), m_system(std::move(system)), m_permission(std::move(permission))
{
    m_engine = m_system->createEngine();
    m_pendingPCM.reserve(kPendingCapacity);
}

AudioCaptureEngine::~AudioCaptureEngine()
{
    removeConfigChangeObserver();
    // After this no tap call reaches the object any more.
    if (m_engine)
        m_engine->removeTap();
}

void AudioCaptureEngine::setState(State state)
{
    m_state = std::move(state);
    Q_EMIT stateChanged(m_state);
}

void AudioCaptureEngine::setOnPCMFrame(PCMFrameHandler handler) { m_onPCMFrame = std::move(handler); }

void AudioCaptureEngine::setOnDeviceChangedDuringCapture(std::function<void()> handler)
{
    m_onDeviceChangedDuringCapture = std::move(handler);
}

void AudioCaptureEngine::setChosenInput(std::function<QString()> chosenInputName)
{
    m_chosenInput = std::move(chosenInputName);
}

QCoro::Task<std::optional<PlatformError>> AudioCaptureEngine::prepare()
{
    if (!std::holds_alternative<Idle>(m_state))
        co_return std::nullopt;
    MicStatus status = MicStatus::denied;
    try {
        status = co_await m_permission->request();
    } catch (...) {
        status = MicStatus::denied;
    }
    if (status != MicStatus::granted)
        co_return PlatformError{QStringLiteral("Murlex.Audio"), 1, QStringLiteral("麦克风权限被拒绝")};
    // A capture may have been started while the answer was awaited; it is not undone here.
    if (std::holds_alternative<Idle>(m_state)) {
        setState(EnginePrepared{});
        qCInfo(AppLogger::audio, "prepared (engine on-demand, mic released until startCapture)");
    }
    co_return std::nullopt;
}

void AudioCaptureEngine::startCapture()
{
    if (std::holds_alternative<Capturing>(m_state)) {
        qCCritical(AppLogger::audio, "startCapture called while already capturing");
        return;
    }
    const std::optional<AudioDeviceID> boundDevice = bindInputDevice();

    const AudioFormat format = m_engine->inputFormat();
    if (!format.isUsable()) {
        qCCritical(AppLogger::audio, "startCapture: invalid input format (sampleRate=0)");
        setState(Interrupted{QStringLiteral("麦克风格式无效")});
        return;
    }
    m_inputFormat = format;
    m_converter = m_system->createConverter(format, m_outputFormat);
    if (!m_converter) {
        qCCritical(AppLogger::audio, "startCapture: failed to build converter for %s", qUtf8Printable(format.description()));
        setState(Interrupted{QStringLiteral("无法构建音频转换器")});
        return;
    }
    m_engine->prepare();
    if (const std::optional<PlatformError> error = m_engine->start()) {
        qCCritical(AppLogger::audio, "startCapture: engine.start failed: %s", qUtf8Printable(error->localizedDescription));
        setState(Interrupted{QStringLiteral("引擎启动失败: ") + error->localizedDescription});
        return;
    }
    TimingPoint::mark(AppLogger::audio, "stream_ready");
    m_lastInputDeviceID = boundDevice ? *boundDevice : defaultInputDeviceID();
    installConfigChangeObserver();
    m_pendingPCM.resize(0);
    m_sentBytesThisSession = 0;
    m_tapInvocationCount = 0;
    // The tap dies with the engine object, which this object owns: it never outlives `this`.
    m_engine->installTap(kTapBufferFrames, format, [this](const AudioBuffer &buffer) { handleInputBuffer(buffer); });
    setState(Capturing{});
    qCInfo(AppLogger::audio, "capture started (input %fHz %uch, deviceID=%u)", format.sampleRate,
           unsigned(format.channelCount), unsigned(m_lastInputDeviceID));
}

std::optional<AudioDeviceID> AudioCaptureEngine::bindInputDevice()
{
    const QString chosen = m_chosenInput ? m_chosenInput() : QString();
    if (!chosen.isEmpty()) {
        if (const std::optional<AudioDeviceID> device = bindChosenInput(chosen))
            return device;
    }
    return bindBuiltinMicrophone();
}

std::optional<AudioDeviceID> AudioCaptureEngine::bindChosenInput(const QString &name)
{
    std::optional<AudioDeviceID> device;
    if (const std::optional<QList<AudioDevice>> devices = m_system->inputDevices()) {
        for (const AudioDevice &candidate : *devices) {
            if (candidate.name == name) {
                device = candidate.id;
                break;
            }
        }
    }
    if (!device) {
        qCInfo(AppLogger::audio, "chosen input %s is not available, using the automatic choice", qUtf8Printable(name));
        return std::nullopt;
    }
    const int status = m_engine->hasInputUnit() ? m_engine->setCurrentDevice(*device) : -1;
    if (status != 0) {
        qCInfo(AppLogger::audio, "cannot bind chosen input %s (status=%d), using the automatic choice",
               qUtf8Printable(name), status);
        return std::nullopt;
    }
    qCInfo(AppLogger::audio, "bound inputNode to chosen input %s deviceID=%u", qUtf8Printable(name), unsigned(*device));
    return device;
}

std::optional<AudioDeviceID> AudioCaptureEngine::bindBuiltinMicrophone()
{
    const std::optional<AudioDeviceID> device = findBuiltinInputDevice();
    if (!device) {
        qCCritical(AppLogger::audio, "no builtin input device found, falling back to system default");
        return std::nullopt;
    }
    if (!m_engine->hasInputUnit()) {
        qCCritical(AppLogger::audio, "inputNode.audioUnit is nil, cannot bind builtin");
        return std::nullopt;
    }
    const int status = m_engine->setCurrentDevice(*device);
    if (status != 0) {
        qCCritical(AppLogger::audio, "failed to bind builtin input: status=%d", status);
        return std::nullopt;
    }
    qCInfo(AppLogger::audio, "bound inputNode to builtin mic deviceID=%u", unsigned(*device));
    return device;
}

std::optional<AudioDeviceID> AudioCaptureEngine::findBuiltinInputDevice()
{
    const std::optional<QList<AudioDevice>> devices = m_system->inputDevices();
    if (!devices)
        return std::nullopt;
    for (const AudioDevice &device : *devices) {
        if (device.isBuiltIn)
            return device.id;
    }
    return std::nullopt;
}

AudioDeviceID AudioCaptureEngine::defaultInputDeviceID() { return m_system->defaultInputDevice().value_or(0); }

void AudioCaptureEngine::installConfigChangeObserver()
{
    removeConfigChangeObserver();
    // The connection names the current engine object; a new engine needs a new registration.
    m_configChangeObserver = connect(m_engine.get(), &AudioEngine::configurationChanged, this,
                                     &AudioCaptureEngine::handleConfigurationChange);
}

void AudioCaptureEngine::removeConfigChangeObserver()
{
    if (m_configChangeObserver) {
        disconnect(m_configChangeObserver);
        m_configChangeObserver = {};
    }
}

void AudioCaptureEngine::handleInputBuffer(const AudioBuffer &buffer)
{
    if (++m_tapInvocationCount == 1)
        TimingPoint::mark(AppLogger::audio, "first_samples");
    if (!m_converter) {
        if (m_tapInvocationCount == 1)
            qCCritical(AppLogger::audio, "handleInputBuffer: converter is nil");
        return;
    }
    if (!(buffer.format.sampleRate > 0))
        return;
    const auto capacity =
        quint32(double(buffer.frameLength) / buffer.format.sampleRate * kOutputSampleRate) + kOutputSlackFrames;
    const std::unique_ptr<qint16[]> output(new (std::nothrow) qint16[capacity]);
    if (!output)
        return;
    const AudioConverter::Result result = m_converter->convert(buffer, output.get(), capacity);
    if (result.error) {
        qCCritical(AppLogger::audio, "converter error: %s", qUtf8Printable(*result.error));
        return;
    }
    if (result.status == AudioConverter::Status::error || result.frameLength == 0)
        return;
    m_pendingPCM.append(reinterpret_cast<const char *>(output.get()), qsizetype(result.frameLength) * 2);
    flushFullChunks();
}

void AudioCaptureEngine::flushFullChunks()
{
    while (m_pendingPCM.size() >= kPcmChunkBytes) {
        const QByteArray chunk(m_pendingPCM.constData(), kPcmChunkBytes);
        m_sentBytesThisSession += kPcmChunkBytes;
        if (m_sentBytesThisSession == kPcmChunkBytes)
            qCInfo(AppLogger::audio, "first PCM chunk flushed (%ld bytes)", long(kPcmChunkBytes));
        if (m_onPCMFrame)
            m_onPCMFrame(chunk);
        // Remove from the front in place, so the buffer keeps its storage.
        const qsizetype rest = m_pendingPCM.size() - kPcmChunkBytes;
        std::memmove(m_pendingPCM.data(), m_pendingPCM.constData() + kPcmChunkBytes, size_t(rest));
        m_pendingPCM.resize(rest);
    }
}

void AudioCaptureEngine::drainConverter()
{
    if (!m_converter)
        return;
    const std::unique_ptr<qint16[]> output(new (std::nothrow) qint16[kDrainFrames]);
    if (!output)
        return;
    for (;;) {
        const AudioConverter::Result result = m_converter->drain(output.get(), kDrainFrames);
        if (result.error) {
            qCCritical(AppLogger::audio, "converter error: %s", qUtf8Printable(*result.error));
            return;
        }
        m_pendingPCM.append(reinterpret_cast<const char *>(output.get()), qsizetype(result.frameLength) * 2);
        if (result.frameLength < kDrainFrames)
            break;
    }
    flushFullChunks();
}

void AudioCaptureEngine::stopCapture()
{
    if (!std::holds_alternative<Capturing>(m_state))
        return;
    m_engine->removeTap();
    // The converter holds back the last few dozen milliseconds until it knows the input ended.
    drainConverter();
    if (!m_pendingPCM.isEmpty()) {
        m_sentBytesThisSession += m_pendingPCM.size();
        if (m_onPCMFrame)
            m_onPCMFrame(QByteArray(m_pendingPCM.constData(), m_pendingPCM.size()));
        m_pendingPCM.resize(0);
    }
    releaseEngine();
    setState(EnginePrepared{});
    const double seconds = double(m_sentBytesThisSession) / double(kOutputBytesPerSecond);
    qCInfo(AppLogger::audio,
           "capture stopped, engine destroyed (mic released): tap fired %ld times, sent %ld bytes (~%.*fs of audio)",
           long(m_tapInvocationCount), long(m_sentBytesThisSession), 2, seconds);
}

void AudioCaptureEngine::releaseEngine()
{
    removeConfigChangeObserver();
    if (m_engine->isRunning())
        m_engine->stop();
    m_engine = m_system->createEngine();
    m_converter.reset();
    m_inputFormat.reset();
}

void AudioCaptureEngine::handleConfigurationChange()
{
    const bool wasCapturing = std::holds_alternative<Capturing>(m_state);
    const AudioFormat current = m_engine->inputFormat();
    // Unchanged only when the capture's stream is still alive: a stream the system ended (its
    // source went away) must not pass for a running capture.
    if (m_inputFormat && current.sampleRate == m_inputFormat->sampleRate
        && current.channelCount == m_inputFormat->channelCount && (!wasCapturing || m_engine->isRunning())) {
        qCDebug(AppLogger::audio, "config change: format unchanged (%s), no-op", qUtf8Printable(current.description()));
        return;
    }
    qCInfo(AppLogger::audio, "audio device configuration changed (wasCapturing=%s)", wasCapturing ? "true" : "false");
    if (wasCapturing) {
        m_engine->removeTap();
        m_pendingPCM.resize(0); // the unsent remainder is discarded
    }
    if (m_engine->isRunning())
        m_engine->stop();

    const AudioFormat format = m_engine->inputFormat();
    qCInfo(AppLogger::audio, "new input format: %s", qUtf8Printable(format.description()));
    if (!format.isUsable()) {
        qCCritical(AppLogger::audio, "new device has invalid sampleRate=0, marking interrupted");
        setState(Interrupted{QStringLiteral("音频设备格式无效(sampleRate=0)")});
    } else {
        m_inputFormat = format;
        m_converter = m_system->createConverter(format, m_outputFormat);
        if (!m_converter) {
            qCCritical(AppLogger::audio, "failed to rebuild converter for new device");
            setState(Interrupted{QStringLiteral("无法构建新设备的音频转换器")});
        } else {
            m_engine->prepare();
            if (const std::optional<PlatformError> error = m_engine->start()) {
                qCCritical(AppLogger::audio, "engine restart failed: %s", qUtf8Printable(error->localizedDescription));
                setState(Interrupted{QStringLiteral("引擎重启失败: ") + error->localizedDescription});
            } else {
                // The restart proves the new device records; the engine is released right below.
                setState(EnginePrepared{});
                qCInfo(AppLogger::audio, "new device starts; engine released until the next capture");
            }
        }
    }
    // No capture runs now: give the microphone back until the next start, which sets up a
    // fresh engine object, converter, observer and tap.
    releaseEngine();
    if (wasCapturing && m_onDeviceChangedDuringCapture)
        m_onDeviceChangedDuringCapture();
}
