#pragma once

#include <QString>

#include <memory>

// The class of a top-level window as its application names it (on X11 the two strings of
// WM_CLASS: the instance name and the class name, e.g. "gnome-terminal-server" and "Gnome-terminal").
struct WindowClass {
    QString instanceName;
    QString className;

    bool isEmpty() const { return instanceName.isEmpty() && className.isEmpty(); }
    bool operator==(const WindowClass &) const = default;
};

// Which application window has the keyboard focus.
class FocusedWindow {
public:
    virtual ~FocusedWindow() = default;

    // The class of the window with the keyboard focus; empty when no window has it or it is unknown.
    virtual WindowClass windowClass() = 0;
};
