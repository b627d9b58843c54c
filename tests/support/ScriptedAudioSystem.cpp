#include "ScriptedAudioSystem.h"

ScriptedAudioSystem::ScriptedAudioSystem(std::shared_ptr<AudioSystem> real) : m_real(std::move(real)) {}

std::unique_ptr<AudioEngine> ScriptedAudioSystem::createEngine()
{
    return std::make_unique<ScriptedAudioEngine>(m_real->createEngine(), script);
}

std::unique_ptr<AudioConverter> ScriptedAudioSystem::createConverter(const AudioFormat &from, const AudioFormat &to)
{
    return script->refuseConverter ? nullptr : m_real->createConverter(from, to);
}
