#include "platform/linux/x11/X11FocusedWindow.h"
#include "platform/linux/x11/XcbReply.h"

#include <cstring>
#include <memory>

namespace {

// WM_CLASS holds two NUL-terminated strings: the instance name, then the class name.
WindowClass windowClassOf(const xcb_get_property_reply_t *reply)
{
    if (!reply || reply->format != 8)
        return {};
    const char *data = static_cast<const char *>(xcb_get_property_value(reply));
    const int length = xcb_get_property_value_length(reply);
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
    // Each level's class and parent are asked together: one round trip per level.
    for (int depth = 0; window != XCB_NONE && window != m_x.root() && depth < 64; ++depth) {
        const xcb_get_property_cookie_t classAsked =
            xcb_get_property(c, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 1024);
        const xcb_query_tree_cookie_t treeAsked = xcb_query_tree(c, window);
        XcbReply<xcb_get_property_reply_t> classReply(xcb_get_property_reply(c, classAsked, nullptr));
        const WindowClass found = windowClassOf(classReply.get());
        if (!found.isEmpty()) {
            xcb_discard_reply(c, treeAsked.sequence);
            return found;
        }
        XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, treeAsked, nullptr));
        if (!tree)
            break;
        window = tree->parent;
    }
    return {};
}
