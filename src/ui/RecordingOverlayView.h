#pragma once

#include "app/Phase.h"
#include "injection/TextInjection.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class AppState;
class OverlaySpinner;
class PulsingDot;
class StatusGlyph;

// The content of the recording overlay, drawn with QPainter: a dark capsule with a status indicator
// and one line of white text, both following the state's phase (the live transcript while recording
// in debug mode). While injecting, what the injection did (the state's textDelivered) once it is known.
// While the phase is idle (the overlay is on its way out) it keeps what it showed last.
class RecordingOverlayView : public QWidget {
    Q_OBJECT
public:
    // The view's logical size and its geometry inside it.
    static constexpr int width = 320;
    static constexpr int height = 56;
    static constexpr int outerPadding = 4;
    static constexpr int horizontalPadding = 16;
    static constexpr int verticalPadding = 12;
    static constexpr int cornerRadius = 24;
    static constexpr int indicatorSize = 14;
    static constexpr int spacing = 12;
    static constexpr int fontPixelSize = 13;

    explicit RecordingOverlayView(AppState &state, QWidget *parent = nullptr);
    ~RecordingOverlayView() override;

    // The text for the phase as it stands (the whole of it), and the one line drawn for it.
    QString text() const { return m_text; }
    QString displayedText() const;
    // The indicator on show, none while the last phase shown is idle.
    enum class Indicator { none, pulsingDot, spinner, check, warning };
    Indicator indicator() const { return m_indicator; }
    // Whether any of its animations runs (only while it is on screen).
    bool isAnimating() const;

    // The capsule's outline in view coordinates.
    static QRectF capsuleRect();
    static QFont textFont();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void refresh();
    QRect textRect() const;

    QPointer<AppState> m_state;
    QString m_text;
    Indicator m_indicator = Indicator::none;
    // What the injection of the current injecting phase did, once it has answered.
    std::optional<TextInjection::Outcome> m_outcome;
    PulsingDot *m_dot;
    OverlaySpinner *m_spinner;
    StatusGlyph *m_check;
    StatusGlyph *m_warning;
};
