#pragma once

#include "shortcuts/Shortcut.h"

#include <functional>

namespace KeyboardShortcuts {

// One entry of the hot-key table: a shortcut handed to the desktop under an identifier.
// `registered` is true while the desktop holds it; an entry without it is parked (the library is
// disabled or a menu is open) and is registered again when delivery returns to normal.
struct HotKey {
    using Callback = std::function<void(const Shortcut &)>;

    Shortcut shortcut;
    quint32 carbonHotKeyId = 0;
    bool registered = false;
    Callback onKeyDown;
    Callback onKeyUp;
};

} // namespace KeyboardShortcuts
