#pragma once

#include "ScriptedAudioEngine.h"

#include "platform/AudioSystem.h"

// The real sound system with the failures of an AudioScript on top; change `script` at any time.
class ScriptedAudioSystem final : public AudioSystem {
public:
    explicit ScriptedAudioSystem(std::shared_ptr<AudioSystem> real);

    std::shared_ptr<AudioScript> script = std::make_shared<AudioScript>();

    std::unique_ptr<AudioEngine> createEngine() override;
    std::unique_ptr<AudioConverter> createConverter(const AudioFormat &from, const AudioFormat &to) override;
    std::optional<QList<AudioDevice>> inputDevices() override { return m_real->inputDevices(); }
    std::optional<AudioDeviceID> defaultInputDevice() override { return m_real->defaultInputDevice(); }

private:
    std::shared_ptr<AudioSystem> m_real;
};
