#pragma once

#include "shortcuts/SpecialKey.h"

#include <QString>

#include <optional>

namespace KeyboardShortcuts {

// The fixed key code → SpecialKey table and the texts it gives.
class SpecialKeys {
public:
    static constexpr int count = 53;

    static std::optional<SpecialKey> forKeyCode(qint64 keyCode);
    static qint64 keyCode(SpecialKey key);
    // What a shortcut's description shows for the key.
    static QString displayText(SpecialKey key);
    // The key-equivalent text a menu item uses for the key; none for the keypad keys.
    static std::optional<QString> menuKeyEquivalent(SpecialKey key);
};

} // namespace KeyboardShortcuts
