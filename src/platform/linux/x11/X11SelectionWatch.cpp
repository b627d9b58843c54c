#include "platform/linux/x11/X11SelectionWatch.h"
#include "platform/linux/x11/XcbConnectionHandle.h"
#include "platform/linux/x11/XcbReply.h"

#include "app/AppLogger.h"

#include <QSocketNotifier>

#include <xcb/xfixes.h>

#include <cstdlib>

X11SelectionWatch::X11SelectionWatch(const QByteArray &displayName, const QByteArray &selection)
{
    // A connection of its own, never Qt's: its events are read here, not by Qt's event loop.
    const QByteArray display = displayName.isEmpty() ? qgetenv("DISPLAY") : displayName;
    if (display.isEmpty())
        return;
    auto x = std::make_unique<XcbConnectionHandle>(display);
    xcb_connection_t *c = x->connection();
    if (!c)
        return;
    const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (!xfixes || !xfixes->present || x->root() == XCB_NONE) {
        qCDebug(AppLogger::injection, "the X server offers no XFIXES: clipboard changes are not watched");
        return;
    }
    // The extension answers only clients that have told it their version first.
    const xcb_xfixes_query_version_cookie_t version = xcb_xfixes_query_version(c, XCB_XFIXES_MAJOR_VERSION, 0);
    const xcb_intern_atom_cookie_t atomCookie = xcb_intern_atom(c, 0, uint16_t(selection.size()), selection.constData());
    XcbReply<xcb_xfixes_query_version_reply_t> versionReply(xcb_xfixes_query_version_reply(c, version, nullptr));
    XcbReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(c, atomCookie, nullptr));
    if (!versionReply || !atom)
        return;
    xcb_xfixes_select_selection_input(c, x->root(), atom->atom,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER
                                          | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY
                                          | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    xcb_flush(c);
    m_x = std::move(x);
    m_selectionNotify = uint8_t(xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY);
    m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { readEvents(); });
}

// The notifier goes before the connection whose descriptor it watches (declared after it).
X11SelectionWatch::~X11SelectionWatch() = default;

void X11SelectionWatch::readEvents()
{
    xcb_connection_t *c = m_x->connection();
    if (!c) {
        m_notifier->setEnabled(false);
        return;
    }
    while (xcb_generic_event_t *event = xcb_poll_for_event(c)) {
        if ((event->response_type & 0x7f) == m_selectionNotify)
            ++m_changes;
        std::free(event);
    }
    if (!m_x->connection())
        m_notifier->setEnabled(false);
}

std::optional<quint64> X11SelectionWatch::changeCount()
{
    xcb_connection_t *c = m_x ? m_x->connection() : nullptr;
    if (!c)
        return std::nullopt;
    // The server writes the events of everything it did before this request ahead of the reply.
    XcbReply<xcb_get_input_focus_reply_t> sync(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    if (!sync)
        return std::nullopt;
    readEvents();
    return m_changes;
}
