#include "platform/linux/x11/X11FloatingWindow.h"

#include "app/AppLogger.h"
#include "platform/linux/x11/XcbConnectionHandle.h"
#include "platform/linux/x11/XcbReply.h"

#include <QGuiApplication>
#include <QSocketNotifier>
#include <QWindow>

#include <xcb/shape.h>

namespace {
// The display Qt runs on; none when it does not run on X11.
QByteArray displayOfQt()
{
    const bool x11 = qGuiApp && qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? qgetenv("DISPLAY") : QByteArray();
}
} // namespace

X11FloatingWindow::X11FloatingWindow(QByteArray displayName)
    : m_displayName(std::move(displayName))
{
}

X11FloatingWindow::~X11FloatingWindow()
{
    stopKeepingOnTop();
}

bool X11FloatingWindow::passPointerThrough(WId window)
{
    const XcbConnectionHandle x(m_displayName);
    xcb_connection_t *c = x.connection();
    if (!c || !window)
        return false;
    const xcb_query_extension_reply_t *shape = xcb_get_extension_data(c, &xcb_shape_id);
    if (!shape || !shape->present) {
        qCCritical(AppLogger::app, "the X server has no SHAPE extension: the overlay catches pointer input");
        return false;
    }
    // No rectangles: an input region of zero area.
    const xcb_void_cookie_t cookie = xcb_shape_rectangles_checked(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT,
                                                                  XCB_CLIP_ORDERING_UNSORTED,
                                                                  static_cast<xcb_window_t>(window), 0, 0, 0, nullptr);
    const XcbReply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
    return !error;
}

void X11FloatingWindow::keepOnTop(WId window)
{
    stopKeepingOnTop();
    m_window = static_cast<xcb_window_t>(window);
    const QByteArray display = m_displayName.isEmpty() ? displayOfQt() : m_displayName;
    if (display.isEmpty() || !m_window)
        return;
    m_watch = std::make_unique<XcbConnectionHandle>(display);
    xcb_connection_t *c = m_watch->connection();
    if (!c) {
        m_watch.reset();
        return;
    }
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, m_watch->root(), XCB_CW_EVENT_MASK, &mask);
    m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { readWatchEvents(); });
    raise();
}

void X11FloatingWindow::stopKeepingOnTop()
{
    // Closing the connection ends its event selection: nothing is delivered while not watching.
    m_notifier.reset();
    m_watch.reset();
    m_window = XCB_NONE;
}

void X11FloatingWindow::raise()
{
    if (!m_watch || !m_watch->connection())
        return;
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(m_watch->connection(), m_window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_flush(m_watch->connection());
}

bool X11FloatingWindow::isOwnWindow(xcb_window_t window) const
{
    if (window == m_window)
        return true;
    // This application's own windows (its menus, for one) may go above the overlay.
    const auto windows = QGuiApplication::allWindows();
    return std::any_of(windows.begin(), windows.end(), [window](const QWindow *w) {
        return w->handle() && static_cast<xcb_window_t>(w->winId()) == window;
    });
}

void X11FloatingWindow::readWatchEvents()
{
    xcb_connection_t *c = m_watch ? m_watch->connection() : nullptr;
    if (!c) {
        stopKeepingOnTop();
        return;
    }
    bool raiseNeeded = false;
    while (xcb_generic_event_t *raw = xcb_poll_for_event(c)) {
        const XcbReply<xcb_generic_event_t> event(raw);
        switch (event->response_type & 0x7f) {
        case XCB_MAP_NOTIFY: {
            const auto *map = reinterpret_cast<const xcb_map_notify_event_t *>(raw);
            raiseNeeded |= !isOwnWindow(map->window);
            break;
        }
        case XCB_CONFIGURE_NOTIFY: {
            const auto *configure = reinterpret_cast<const xcb_configure_notify_event_t *>(raw);
            raiseNeeded |= configure->above_sibling == m_window && !isOwnWindow(configure->window);
            break;
        }
        default:
            break;
        }
    }
    if (raiseNeeded)
        raise();
}

bool X11FloatingWindow::isCompositing()
{
    const XcbConnectionHandle x(m_displayName);
    xcb_connection_t *c = x.connection();
    if (!c)
        return false;
    // A compositing manager owns the selection _NET_WM_CM_S<screen>.
    const QByteArray name = QByteArrayLiteral("_NET_WM_CM_S0");
    const XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, name.size(), name.constData()), nullptr));
    if (!atom)
        return false;
    const XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr));
    return owner && owner->owner != XCB_NONE;
}
