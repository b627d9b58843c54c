#pragma once

#include <QString>

namespace KeyboardShortcuts {

// The library's user-facing texts, in the application's language (Simplified Chinese).
// Keys: "record_shortcut", "press_shortcut", "space_key", "keyboard_shortcut_used_by_menu_item"
// (a format: %1 is the menu item's title), "keyboard_shortcut_used_by_system",
// "keyboard_shortcuts_can_be_changed", "ok", "force_use_shortcut", "keyboard_shortcut_disallowed".
class LocalizedTexts {
public:
    // The text of `key`; the key itself when the table has no such key.
    static QString text(const char *key);
};

} // namespace KeyboardShortcuts
