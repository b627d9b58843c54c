#include "ScriptedAudioEngine.h"

ScriptedAudioEngine::ScriptedAudioEngine(std::unique_ptr<AudioEngine> real, std::shared_ptr<const AudioScript> script)
    : m_real(std::move(real)), m_script(std::move(script))
{
    connect(m_real.get(), &AudioEngine::configurationChanged, this, &AudioEngine::configurationChanged);
}

AudioFormat ScriptedAudioEngine::inputFormat()
{
    AudioFormat format = m_real->inputFormat();
    if (m_script->zeroSampleRate)
        format.sampleRate = 0;
    return format;
}

std::optional<PlatformError> ScriptedAudioEngine::start()
{
    if (!m_script->startFailure.isEmpty())
        return PlatformError{QStringLiteral("PulseAudio"), 1, m_script->startFailure};
    return m_real->start();
}
