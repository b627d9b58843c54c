#include "platform/linux/x11/X11FocusedWindow.h"
#include "platform/linux/x11/XcbReply.h"

#include <cstring>
#include <memory>

namespace {

// WM_CLASS holds two NUL-terminated strings: the instance name, then the class name.
WindowClass readWindowClass(xcb_connection_t *c, xcb_window_t window)
{
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 1024), nullptr));
    if (!reply || reply->format != 8)
        return {};
    const char *data = static_cast<const char *>(xcb_get_property_value(reply.get()));
    const int length = xcb_get_property_value_length(reply.get());
    const char *end = data + length;
    const char *firstEnd = static_cast<const char *>(std::memchr(data, '\0', length));
    if (!firstEnd)
        return {QString::fromLocal8Bit(data, length), QString()};
    const char *second = firstEnd + 1;
    const char *secondEnd = second < end ? static_cast<const char *>(std::memchr(second, '\0', end - second)) : nullptr;
    return {QString::fromLocal8Bit(data, firstEnd - data),
            QString::fromLocal8Bit(second, (secondEnd ? secondEnd : end) - second)};
}

} // namespace

X11FocusedWindow::X11FocusedWindow(const QByteArray &displayName) : m_x(displayName) {}

WindowClass X11FocusedWindow::windowClass()
{
    xcb_connection_t *c = m_x.connection();
    if (!c)
        return {};
    XcbReply<xcb_get_input_focus_reply_t> focus(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    if (!focus || focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT)
        return {};

    // Toolkits may focus a child of the top-level window: walk up to the window that has a class.
    xcb_window_t window = focus->focus;
    for (int depth = 0; window != XCB_NONE && window != m_x.root() && depth < 64; ++depth) {
        const WindowClass found = readWindowClass(c, window);
        if (!found.isEmpty())
            return found;
        XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
        if (!tree)
            break;
        window = tree->parent;
    }
    return {};
}
