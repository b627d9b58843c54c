#pragma once

#include "app/Phase.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <memory>

class AppState;
class RecordingOverlayPanel;

// Decides when the recording overlay is on screen: from the first phase that is not idle until
// hideDelay after the phase returns to idle (a new phase inside that time keeps it up where it is).
// The panel is made at the first phase that shows it and kept for the rest of the run.
class OverlayController : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds hideDelay{200};

    explicit OverlayController(std::chrono::milliseconds hideAfter = hideDelay, QObject *parent = nullptr);
    ~OverlayController() override;

    // Watches the state's phase from now on, starting with the current one. Called once.
    void bind(AppState &state);

    // The panel once made (null before the first phase that shows it).
    RecordingOverlayPanel *panel() const { return m_panel.get(); }
    // Whether a hide is pending.
    bool isHiding() const { return m_hideTimer.isActive(); }

private:
    void onPhase(const Phase &phase);
    void show();
    RecordingOverlayPanel *obtainPanel();

    QPointer<AppState> m_state;
    bool m_bound = false;
    std::unique_ptr<RecordingOverlayPanel> m_panel;
    QTimer m_hideTimer;
};
