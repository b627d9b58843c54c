#include "platform/linux/pulse/LinuxMicrophonePermission.h"

#include <algorithm>

LinuxMicrophonePermission::LinuxMicrophonePermission(std::shared_ptr<AudioSystem> system,
                                                     std::unique_ptr<QSettings> settings)
    : m_system(std::move(system)), m_settings(settings ? std::move(settings) : std::make_unique<QSettings>())
{
}

bool LinuxMicrophonePermission::hasUsableInput()
{
    // With its last microphone gone the sound server makes an output's monitor the default
    // source; that records what the machine plays, not the user. Only an input device counts.
    const std::optional<AudioDeviceID> device = m_system->defaultInputDevice();
    const std::optional<QList<AudioDevice>> devices = m_system->inputDevices();
    if (!device || !devices
        || std::none_of(devices->cbegin(), devices->cend(), [&](const AudioDevice &d) { return d.id == *device; }))
        return false;
    // An engine that is bound to nothing reads the system's default input.
    return m_system->createEngine()->inputFormat().isUsable();
}

MicStatus LinuxMicrophonePermission::status()
{
    if (!m_settings->value(QLatin1String(kRequestedKey), false).toBool())
        return MicStatus::undetermined;
    return hasUsableInput() ? MicStatus::granted : MicStatus::denied;
}

QCoro::Task<MicStatus> LinuxMicrophonePermission::request()
{
    m_settings->setValue(QLatin1String(kRequestedKey), true);
    m_settings->sync();
    co_return status();
}
