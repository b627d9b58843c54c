#pragma once

#include "app/Phase.h"

#include <QObject>

#include <functional>
#include <memory>

class AppState;
class DictationPreferences;
class SamplePlayer;

// The start and stop sounds ("提示音"): while the preference is on, a short sound when a recording
// starts and another when it ends, however it ends. The sounds go to the sound server once (when
// the preference turns on, or at launch when it is on); each cue after that is one message to the
// server, sent without waiting, so it never holds up the capture that starts right after it. With
// the preference off nothing of this touches the sound server.
class SoundCueController : public QObject {
    Q_OBJECT
public:
    // Names of the sounds in the sound server.
    static constexpr const char *startSoundName = "quillfen.MurlexMac.start";
    static constexpr const char *stopSoundName = "quillfen.MurlexMac.stop";

    using PlayerFactory = std::function<std::unique_ptr<SamplePlayer>()>;

    // Both must outlive this object. `makePlayer` is called once, when the sounds are first needed.
    SoundCueController(AppState &state, DictationPreferences &preferences, PlayerFactory makePlayer,
                       QObject *parent = nullptr);
    ~SoundCueController() override;

    // Whether the server has the sounds (as far as this object knows).
    bool isLoaded() const { return m_loaded; }

private:
    void load();
    void onPhase(const Phase &phase);
    void play(const char *name);

    DictationPreferences &m_preferences;
    PlayerFactory m_makePlayer;
    std::unique_ptr<SamplePlayer> m_player;
    bool m_loaded = false;
    bool m_recording = false;
};
