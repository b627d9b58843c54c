#include "platform/linux/pulse/PulseAudioSystem.h"

#include "platform/linux/pulse/PulseAudioEngine.h"
#include "platform/linux/pulse/SoxrAudioConverter.h"

PulseAudioSystem::PulseAudioSystem(QString server, std::chrono::milliseconds operationTimeout)
    : m_connection(std::make_shared<PulseConnection>(std::move(server), operationTimeout))
{
}

std::unique_ptr<AudioEngine> PulseAudioSystem::createEngine()
{
    return std::make_unique<PulseAudioEngine>(m_connection);
}

std::unique_ptr<AudioConverter> PulseAudioSystem::createConverter(const AudioFormat &from, const AudioFormat &to)
{
    return SoxrAudioConverter::create(from, to);
}

std::optional<QList<AudioDevice>> PulseAudioSystem::inputDevices()
{
    const std::optional<QList<PulseSourceInfo>> sources = m_connection->sources();
    if (!sources)
        return std::nullopt;
    QList<AudioDevice> devices;
    for (const PulseSourceInfo &source : *sources) {
        if (!source.isMonitor)
            devices.append(AudioDevice{source.index, source.name, source.isBuiltIn});
    }
    return devices;
}

std::optional<AudioDeviceID> PulseAudioSystem::defaultInputDevice()
{
    const std::optional<QString> name = m_connection->defaultSourceName();
    if (!name || name->isEmpty())
        return std::nullopt;
    const std::optional<PulseSourceInfo> source = m_connection->source(*name);
    if (!source)
        return std::nullopt;
    return source->index;
}
