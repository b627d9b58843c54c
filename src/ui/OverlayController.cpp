#include "ui/OverlayController.h"

#include "app/AppLogger.h"
#include "app/AppState.h"
#include "ui/RecordingOverlayPanel.h"

OverlayController::OverlayController(std::chrono::milliseconds hideAfter, QObject *parent)
    : QObject(parent)
{
    m_hideTimer.setSingleShot(true);
    m_hideTimer.setTimerType(Qt::PreciseTimer);
    m_hideTimer.setInterval(hideAfter);
    connect(&m_hideTimer, &QTimer::timeout, this, [this] {
        if (m_panel)
            m_panel->dismiss();
        qCDebug(AppLogger::app, "overlay: hidden");
    });
}

OverlayController::~OverlayController() = default;

void OverlayController::bind(AppState &state)
{
    m_state = &state;
    m_bound = true;
    connect(&state, &AppState::phaseChanged, this, &OverlayController::onPhase);
    onPhase(state.phase());
}

void OverlayController::onPhase(const Phase &phase)
{
    m_hideTimer.stop();
    if (phase.kind() == Phase::Kind::idle) {
        if (m_panel && m_panel->isVisible())
            m_hideTimer.start();
        return;
    }
    show();
}

void OverlayController::show()
{
    RecordingOverlayPanel *panel = obtainPanel();
    if (!panel || panel->isVisible())
        return;
    panel->moveToPlace();
    panel->present();
    qCDebug(AppLogger::app, "overlay: shown");
}

RecordingOverlayPanel *OverlayController::obtainPanel()
{
    if (m_panel)
        return m_panel.get();
    if (!m_bound || !m_state) {
        // A programming error; the overlay is not worth ending a dictation over.
        qCCritical(AppLogger::app, "OverlayController.bind(to:) must run before show()");
        return nullptr;
    }
    m_panel = std::make_unique<RecordingOverlayPanel>(*m_state);
    return m_panel.get();
}
