#include "app/SoundCueController.h"

#include "app/AppState.h"
#include "audio/CueSounds.h"
#include "platform/SamplePlayer.h"
#include "store/DictationPreferences.h"

#include <QLatin1StringView>
#include <QMetaObject>

SoundCueController::SoundCueController(AppState &state, DictationPreferences &preferences, PlayerFactory makePlayer,
                                       QObject *parent)
    : QObject(parent)
    , m_preferences(preferences)
    , m_makePlayer(std::move(makePlayer))
    , m_recording(state.phase().kind() == Phase::Kind::recording)
{
    connect(&state, &AppState::phaseChanged, this, &SoundCueController::onPhase);
    connect(&preferences, &DictationPreferences::soundCuesChanged, this, [this](bool on) {
        if (on)
            load();
    });
    if (preferences.soundCues())
        load();
}

SoundCueController::~SoundCueController() = default;

void SoundCueController::load()
{
    if (m_loaded)
        return;
    if (!m_player)
        m_player = m_makePlayer();
    const AudioFormat format = CueSounds::format();
    m_loaded = m_player->upload(QLatin1StringView(startSoundName), CueSounds::start(), format)
               && m_player->upload(QLatin1StringView(stopSoundName), CueSounds::stop(), format);
}

void SoundCueController::onPhase(const Phase &phase)
{
    const bool recording = phase.kind() == Phase::Kind::recording;
    if (recording == m_recording)
        return;
    m_recording = recording;
    if (m_preferences.soundCues())
        play(recording ? startSoundName : stopSoundName);
}

void SoundCueController::play(const char *name)
{
    if (m_loaded && m_player->play(QLatin1StringView(name)))
        return;
    // Not loaded, or the server went away since: this cue is skipped, and the sounds are loaded
    // again once the dictation's own work of this moment is done.
    m_loaded = false;
    QMetaObject::invokeMethod(this, &SoundCueController::load, Qt::QueuedConnection);
}
