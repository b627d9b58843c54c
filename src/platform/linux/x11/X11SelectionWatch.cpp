#include "platform/linux/x11/X11SelectionWatch.h"
#include "platform/linux/x11/XcbReply.h"

#include "app/AppLogger.h"

#include <QSocketNotifier>

#include <xcb/xfixes.h>

#include <cstring>

X11SelectionWatch::X11SelectionWatch(const QByteArray &displayName, const QByteArray &selection)
{
    xcb_connection_t *c = xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return;
    }
    const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    if (!xfixes || !xfixes->present || screens.rem == 0) {
        qCDebug(AppLogger::injection, "the X server offers no XFIXES: clipboard changes are not watched");
        xcb_disconnect(c);
        return;
    }
    // The extension answers only clients that have told it their version first.
    const xcb_xfixes_query_version_cookie_t version = xcb_xfixes_query_version(c, XCB_XFIXES_MAJOR_VERSION, 0);
    const xcb_intern_atom_cookie_t atomCookie = xcb_intern_atom(c, 0, uint16_t(selection.size()), selection.constData());
    XcbReply<xcb_xfixes_query_version_reply_t> versionReply(xcb_xfixes_query_version_reply(c, version, nullptr));
    XcbReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(c, atomCookie, nullptr));
    if (!versionReply || !atom) {
        xcb_disconnect(c);
        return;
    }
    xcb_xfixes_select_selection_input(c, screens.data->root, atom->atom,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER
                                          | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY
                                          | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    xcb_flush(c);
    m_connection = c;
    m_selectionNotify = uint8_t(xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY);
    m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { readEvents(); });
}

X11SelectionWatch::~X11SelectionWatch()
{
    m_notifier.reset();
    if (m_connection)
        xcb_disconnect(m_connection);
}

void X11SelectionWatch::readEvents()
{
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
        if ((event->response_type & 0x7f) == m_selectionNotify)
            ++m_changes;
        std::free(event);
    }
    if (xcb_connection_has_error(m_connection))
        m_notifier->setEnabled(false);
}

std::optional<quint64> X11SelectionWatch::changeCount()
{
    if (!m_connection || xcb_connection_has_error(m_connection))
        return std::nullopt;
    // The server writes the events of everything it did before this request ahead of the reply.
    XcbReply<xcb_get_input_focus_reply_t> sync(
        xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    if (!sync)
        return std::nullopt;
    readEvents();
    return m_changes;
}
