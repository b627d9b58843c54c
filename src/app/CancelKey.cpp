#include "app/CancelKey.h"

#include "app/AppLogger.h"
#include "app/AppState.h"
#include "platform/KeyGrab.h"

CancelKey::CancelKey(AppState &state, std::unique_ptr<KeyGrab> grab, QObject *parent)
    : QObject(parent), m_state(&state), m_grab(std::move(grab))
{
    if (!m_grab)
        return;
    connect(&state, &AppState::phaseChanged, this, &CancelKey::follow);
    // After the key event: the cancel changes the phase, which gives the key back.
    connect(m_grab.get(), &KeyGrab::pressed, this, &CancelKey::cancel, Qt::QueuedConnection);
    follow(state.phase());
}

CancelKey::~CancelKey() = default;

void CancelKey::follow(const Phase &phase)
{
    if (phase.kind() != Phase::Kind::recording) {
        m_grab->release();
        return;
    }
    if (!m_grab->isGrabbed() && !m_grab->grab())
        qCWarning(AppLogger::hotkey, "Escape cannot cancel this dictation: another program holds the key");
}

void CancelKey::cancel()
{
    if (!m_state || m_state->phase().kind() != Phase::Kind::recording)
        return;
    qCInfo(AppLogger::dictation, "Escape pressed: cancelling the dictation");
    m_state->dictation().cancel();
}
