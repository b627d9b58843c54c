#pragma once

#include "platform/AudioSystem.h"
#include "platform/linux/pulse/PulseConnection.h"

#include <memory>

// The sound system over PulseAudio (also PipeWire through pipewire-pulse): engines record from
// sources, converters are soxr resamplers, the devices are the sources without the monitors of
// sinks, and the built-in microphone is a source whose device.form_factor is "internal" or whose
// device.bus is "pci".
class PulseAudioSystem final : public AudioSystem {
public:
    // `server`: a PulseAudio server string; empty means the client configuration's default.
    explicit PulseAudioSystem(QString server = {},
                              std::chrono::milliseconds operationTimeout = PulseConnection::kOperationTimeout);

    std::unique_ptr<AudioEngine> createEngine() override;
    std::unique_ptr<AudioConverter> createConverter(const AudioFormat &from, const AudioFormat &to) override;
    std::optional<QList<AudioDevice>> inputDevices() override;
    std::optional<AudioDeviceID> defaultInputDevice() override;

private:
    std::shared_ptr<PulseConnection> m_connection;
};
