#pragma once

#include "platform/FocusedWindow.h"
#include "platform/linux/x11/XcbConnectionHandle.h"

// The window with the X input focus, named by the WM_CLASS of its top-level window.
class X11FocusedWindow : public FocusedWindow {
public:
    // Without a display name, on Qt's own X connection (none when the application does not run on X11).
    explicit X11FocusedWindow(const QByteArray &displayName = {});

    WindowClass windowClass() override;

private:
    XcbConnectionHandle m_x;
};
