#pragma once

#include "platform/AudioEngine.h"

#include <memory>

// What the real sound system cannot be made to do on demand, played over a real engine.
struct AudioScript {
    bool zeroSampleRate = false;  // the input node reports a sample rate of 0
    bool refuseConverter = false; // no converter for any pair
    QString startFailure;         // when set, start() fails with this description
};

// A real engine object whose input format and start can be made to fail by an AudioScript;
// everything else, the tap and the configuration changes included, is the real engine's.
class ScriptedAudioEngine final : public AudioEngine {
    Q_OBJECT
public:
    ScriptedAudioEngine(std::unique_ptr<AudioEngine> real, std::shared_ptr<const AudioScript> script);

    bool hasInputUnit() override { return m_real->hasInputUnit(); }
    int setCurrentDevice(AudioDeviceID device) override { return m_real->setCurrentDevice(device); }
    AudioFormat inputFormat() override;
    void prepare() override { m_real->prepare(); }
    std::optional<PlatformError> start() override;
    void stop() override { m_real->stop(); }
    bool isRunning() override { return m_real->isRunning(); }
    void installTap(quint32 bufferFrames, const AudioFormat &format, TapBlock block) override
    {
        m_real->installTap(bufferFrames, format, std::move(block));
    }
    void removeTap() override { m_real->removeTap(); }

private:
    std::unique_ptr<AudioEngine> m_real;
    std::shared_ptr<const AudioScript> m_script;
};
