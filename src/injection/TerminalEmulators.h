#pragma once

#include "platform/FocusedWindow.h"

#include <QStringList>

// The terminal emulators whose paste shortcut is Control+Shift+V (Control+V types ^V there),
// recognised by the class of their window. This is the one list of them.
class TerminalEmulators {
public:
    // True when either name of the window class is a known terminal emulator (case-insensitive).
    static bool contains(const WindowClass &windowClass);
    // The known window class names, in lower case.
    static const QStringList &windowClassNames();
};
