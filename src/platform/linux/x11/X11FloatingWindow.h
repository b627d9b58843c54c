#pragma once

#include "platform/FloatingWindow.h"

#include <QByteArray>

#include <memory>

#include <xcb/xcb.h>

class QSocketNotifier;
class XcbConnectionHandle;

// The X11 side of a floating window. The input region is set through the SHAPE extension. Staying on
// top is watched on a connection of its own (opened only while watching), which selects the root
// window's substructure events: another client's window mapped, or restacked directly above this one,
// raises this one again. An override-redirect window is not kept on top by the window manager.
class X11FloatingWindow : public FloatingWindow {
public:
    // Without a display name, on the display Qt uses.
    explicit X11FloatingWindow(QByteArray displayName = {});
    ~X11FloatingWindow() override;

    bool passPointerThrough(WId window) override;
    void keepOnTop(WId window) override;
    void stopKeepingOnTop() override;
    bool isCompositing() override;

private:
    void readWatchEvents();
    bool isOwnWindow(xcb_window_t window) const;
    void raise();

    QByteArray m_displayName;
    std::unique_ptr<XcbConnectionHandle> m_watch;
    std::unique_ptr<QSocketNotifier> m_notifier;
    xcb_window_t m_window = XCB_NONE;
};
