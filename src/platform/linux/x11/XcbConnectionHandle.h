#pragma once

#include <QByteArray>

#include <xcb/xcb.h>

// A connection to an X server for the platform services. Without a display name it is the
// connection Qt itself uses when the application runs on X11 (so requests are ordered with Qt's
// clipboard traffic), and no connection at all on any other platform (Wayland, offscreen).
// With a display name it is a connection of its own to that server.
class XcbConnectionHandle {
public:
    explicit XcbConnectionHandle(const QByteArray &displayName = {});
    ~XcbConnectionHandle();
    XcbConnectionHandle(const XcbConnectionHandle &) = delete;
    XcbConnectionHandle &operator=(const XcbConnectionHandle &) = delete;

    // nullptr when no X server is reachable, or the connection has broken since.
    xcb_connection_t *connection() const;
    // The root window of the first screen.
    xcb_window_t root() const { return m_root; }

private:
    xcb_connection_t *m_connection = nullptr;
    bool m_owned = false;
    xcb_window_t m_root = XCB_NONE;
};
