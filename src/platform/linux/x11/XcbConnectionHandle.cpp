#include "platform/linux/x11/XcbConnectionHandle.h"

#include "app/AppLogger.h"

#include <QGuiApplication>

XcbConnectionHandle::XcbConnectionHandle(const QByteArray &displayName)
{
    if (displayName.isEmpty()) {
        if (auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr)
            m_connection = x11->connection();
    } else {
        xcb_connection_t *own = xcb_connect(displayName.constData(), nullptr);
        if (xcb_connection_has_error(own)) {
            qCDebug(AppLogger::injection, "X display %s is not reachable", displayName.constData());
            xcb_disconnect(own);
        } else {
            m_connection = own;
            m_owned = true;
        }
    }
    if (m_connection) {
        const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        if (screens.rem > 0)
            m_root = screens.data->root;
    }
}

XcbConnectionHandle::~XcbConnectionHandle()
{
    if (m_owned)
        xcb_disconnect(m_connection);
}

xcb_connection_t *XcbConnectionHandle::connection() const
{
    return m_connection && !xcb_connection_has_error(m_connection) ? m_connection : nullptr;
}
