#include "platform/linux/x11/X11DisplayCheck.h"

#include "platform/linux/wayland/WaylandSessionProbe.h"

#include <xcb/xcb.h>

std::optional<QString> X11DisplayCheck::problem()
{
    const QString display = qEnvironmentVariable("DISPLAY");
    const QString wayland = WaylandSessionProbe::sessionKind() == DesktopSession::Kind::wayland
        ? QStringLiteral(" This is a Wayland session: for now Murlex needs its X11 display through XWayland.")
        : QString();
    if (display.isEmpty())
        return QStringLiteral("Murlex cannot start: no X11 display (DISPLAY is not set).") + wayland;

    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const bool failed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
    if (failed)
        return QStringLiteral("Murlex cannot start: the X11 display %1 cannot be opened.").arg(display) + wayland;
    return std::nullopt;
}
