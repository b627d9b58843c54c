#pragma once

#include <QString>

#include <optional>

// Whether the application can run here at all: its windows, the global shortcut and the
// synthetic keys all need an X11 display (under Wayland, the one XWayland provides). Asked
// before the application object exists, which would otherwise abort without one.
class X11DisplayCheck {
public:
    // One line saying what is missing, or none when the display named by DISPLAY can be opened.
    static std::optional<QString> problem();
};
