#pragma once

#include "platform/FloatingWindow.h"

#include <QRect>
#include <QWidget>

#include <memory>

class AppState;
class RecordingOverlayView;

// The floating window of the recording overlay: frameless and translucent, above every other window
// on every virtual desktop, never in a taskbar or window switcher, never activated or focused, and
// transparent to the pointer so clicks reach the window below. It is override-redirect (a window
// manager would frame it, and the frame would catch clicks), has an input region of zero area, and
// is raised each time it is shown and whenever another window goes above it while shown.
class RecordingOverlayPanel : public QWidget {
    Q_OBJECT
public:
    // How far the panel's bottom edge sits above the bottom of the screen's available area.
    static constexpr int bottomMargin = 120;

    explicit RecordingOverlayPanel(AppState &state, std::unique_ptr<FloatingWindow> floating = {},
                                   QWidget *parent = nullptr);
    ~RecordingOverlayPanel() override;

    RecordingOverlayView *view() const { return m_view; }

    // The panel's place on a screen whose available area is `available`: centred horizontally, its
    // bottom `bottomMargin` above the area's bottom.
    static QRect placement(const QRect &available);
    // Moves the panel to its place on the primary screen (nothing without one).
    void moveToPlace();
    // Shows it without activating it and puts it above every other window; hides it.
    void present();
    void dismiss();

private:
    RecordingOverlayView *m_view;
    std::unique_ptr<FloatingWindow> m_floating;
};
