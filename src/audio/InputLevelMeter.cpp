#include "audio/InputLevelMeter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// Buffers of this many frames reach the tap.
constexpr quint32 kTapFrames = 1024;

template <typename Sample>
float peakOf(const void *data, size_t count, double fullScale)
{
    float peak = 0;
    const auto *samples = static_cast<const char *>(data);
    for (size_t i = 0; i < count; ++i) {
        Sample value;
        std::memcpy(&value, samples + i * sizeof(Sample), sizeof(Sample));
        peak = std::max(peak, float(std::fabs(double(value)) / fullScale));
    }
    return peak;
}

} // namespace

InputLevelMeter::InputLevelMeter(std::shared_ptr<AudioSystem> system, std::chrono::milliseconds refreshInterval,
                                 QObject *parent)
    : QObject(parent)
    , m_system(std::move(system))
{
    m_refresh.setInterval(refreshInterval);
    connect(&m_refresh, &QTimer::timeout, this, &InputLevelMeter::refresh);
}

InputLevelMeter::~InputLevelMeter()
{
    // After removeTap() no tap call reaches this object any more.
    if (m_engine)
        m_engine->removeTap();
}

double InputLevelMeter::levelOfPeak(double peak)
{
    if (!(peak > 0))
        return 0;
    const double db = 20.0 * std::log10(peak);
    return std::clamp((db - kFloorDb) / -kFloorDb, 0.0, 1.0);
}

std::optional<AudioDeviceID> InputLevelMeter::deviceFor(const QString &inputName)
{
    const std::optional<QList<AudioDevice>> devices = m_system->inputDevices();
    if (!devices)
        return std::nullopt;
    if (!inputName.isEmpty()) {
        for (const AudioDevice &device : *devices) {
            if (device.name == inputName)
                return device.id;
        }
    }
    // The automatic choice of a dictation: the first built-in microphone, else the default input.
    for (const AudioDevice &device : *devices) {
        if (device.isBuiltIn)
            return device.id;
    }
    return std::nullopt;
}

bool InputLevelMeter::start(const QString &inputName)
{
    stop();
    m_inputName = inputName;
    auto engine = m_system->createEngine();
    if (!engine->hasInputUnit())
        return false;
    if (const std::optional<AudioDeviceID> device = deviceFor(inputName); device && engine->setCurrentDevice(*device) != 0)
        return false;
    const AudioFormat format = engine->inputFormat();
    if (!format.isUsable() || engine->start())
        return false;
    m_peak = 0;
    engine->installTap(kTapFrames, format, [this](const AudioBuffer &buffer) { tap(buffer); });
    // The input went away or the default changed: measure what would record now.
    // Restarted from the loop, not from inside the engine's own signal, since a restart destroys it.
    connect(
        engine.get(), &AudioEngine::configurationChanged, this,
        [this] {
            if (m_engine && !m_engine->isRunning())
                start(m_inputName);
        },
        Qt::QueuedConnection);
    m_engine = std::move(engine);
    m_refresh.start();
    return true;
}

void InputLevelMeter::stop()
{
    m_refresh.stop();
    if (m_engine) {
        m_engine->removeTap();
        m_engine->stop();
        m_engine.reset();
    }
    setLevel(0);
}

void InputLevelMeter::tap(const AudioBuffer &buffer)
{
    const size_t count = size_t(buffer.frameLength) * buffer.format.channelCount;
    float peak = 0;
    switch (buffer.format.sampleType) {
    case AudioSampleType::int16:
        peak = peakOf<int16_t>(buffer.data, count, 32768.0);
        break;
    case AudioSampleType::int32:
        peak = peakOf<int32_t>(buffer.data, count, 2147483648.0);
        break;
    case AudioSampleType::float32:
        peak = peakOf<float>(buffer.data, count, 1.0);
        break;
    }
    float seen = m_peak.load(std::memory_order_relaxed);
    while (peak > seen && !m_peak.compare_exchange_weak(seen, peak, std::memory_order_relaxed)) {
    }
}

void InputLevelMeter::refresh()
{
    const double measured = levelOfPeak(double(m_peak.exchange(0, std::memory_order_relaxed)));
    setLevel(measured >= m_level ? measured : std::max(measured, m_level - kFallPerRefresh));
}

void InputLevelMeter::setLevel(double level)
{
    if (level == m_level)
        return;
    m_level = level;
    Q_EMIT levelChanged(level);
}
