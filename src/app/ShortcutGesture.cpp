#include "app/ShortcutGesture.h"

#include "app/AppLogger.h"
#include "app/AppState.h"
#include "store/DictationPreferences.h"

ShortcutGesture::ShortcutGesture(AppState &state, DictationAccess dictation, std::chrono::milliseconds shortPress,
                                 QObject *parent)
    : QObject(parent), m_state(&state), m_dictation(std::move(dictation)), m_shortPress(shortPress)
{
    m_clock.start();
}

DictationController &ShortcutGesture::dictation()
{
    return m_dictation ? m_dictation() : m_state->dictation();
}

void ShortcutGesture::pressed()
{
    if (!m_state)
        return;
    if (m_state->preferences().shortcutMode() == DictationPreferences::ShortcutMode::toggle) {
        m_state->requestToggle();
        return;
    }
    // Timed now, at the key event, not when the loop comes to it.
    const qint64 at = m_clock.elapsed();
    QMetaObject::invokeMethod(this, [this, at] { handlePress(at); }, Qt::QueuedConnection);
}

void ShortcutGesture::released()
{
    const qint64 at = m_clock.elapsed();
    QMetaObject::invokeMethod(this, [this, at] { handleRelease(at); }, Qt::QueuedConnection);
}

void ShortcutGesture::handlePress(qint64 atMs)
{
    if (!m_state)
        return;
    DictationController &dictation = this->dictation();
    const Phase::Kind phase = m_state->phase().kind();
    if (phase == Phase::Kind::idle && !dictation.isStarting()) {
        m_holding = true;
        m_pressedAtMs = atMs;
        dictation.toggle();
        return;
    }
    m_holding = false;
    if (phase == Phase::Kind::idle)
        dictation.finish(); // a short press started it; this press ends it once it records
    else
        dictation.toggle();
}

void ShortcutGesture::handleRelease(qint64 atMs)
{
    if (!m_holding || !m_state)
        return;
    m_holding = false;
    if (atMs - m_pressedAtMs < m_shortPress.count()) {
        qCInfo(AppLogger::dictation, "short press: the dictation goes on until the next press");
        return;
    }
    dictation().finish();
}
