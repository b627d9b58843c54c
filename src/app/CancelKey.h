#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

class AppState;
class KeyGrab;
class Phase;

// Escape as the way out of a recording: the key is taken from the display when a recording
// starts and given back when it ends, for whatever reason; a press meanwhile cancels the
// dictation (DictationController::cancel). At every other time the key belongs to the focused
// application. When another program holds the key, the recording goes on without it (logged).
class CancelKey : public QObject {
    Q_OBJECT
public:
    // The state is held weakly. Without a grab (no display) nothing happens.
    CancelKey(AppState &state, std::unique_ptr<KeyGrab> grab, QObject *parent = nullptr);
    ~CancelKey() override;

private:
    void follow(const Phase &phase);
    void cancel();

    QPointer<AppState> m_state;
    std::unique_ptr<KeyGrab> m_grab;
};
