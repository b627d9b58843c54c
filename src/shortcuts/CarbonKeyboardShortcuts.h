#pragma once

#include "platform/HotKeyService.h"
#include "shortcuts/HotKey.h"
#include "shortcuts/Shortcut.h"

#include <QList>

#include <optional>

class QKeyEvent;

namespace KeyboardShortcuts {

// The hot-key layer under the name layer: the table of hot keys handed to the desktop, their
// identifiers (from 1, never reused), and the delivery of presses and releases to their callbacks.
//
// Delivery has three modes. Normal: the desktop reports presses of registered hot keys. Menu open:
// while one of the application's menus is open it holds the keyboard, so every hot key is released
// to the desktop (kept in the table) and the menu's own key events are matched against the table
// instead; a service that keeps its combinations while a menu is open keeps them taken, and their
// presses are ignored. Disabled: hot keys are released and nothing is delivered. Everything runs on the main
// thread.
class CarbonKeyboardShortcuts {
public:
    // The service hot keys go to. Call before the first registration to use another one (tests
    // install a fake); otherwise the display's own service is created on first use.
    static void setService(HotKeyService *service);
    static HotKeyService *service();
    // Moves every hot key to another service (the desktop's own way of taking shortcuts, found
    // after start): released from the one before, taken again from the new one as the current
    // delivery mode allows. A key the new service refuses is dropped, as registerAll() does.
    static void moveToService(HotKeyService *service);

    // Registers under a fresh identifier. A refusal writes "Error registering hotkey <description>:
    // <status>" to standard output and leaves nothing in the table; the caller is not told.
    static void registerShortcut(const Shortcut &shortcut, HotKey::Callback onKeyDown, HotKey::Callback onKeyUp);
    // Releases every hot key with this shortcut and drops it from the table.
    static void unregisterShortcut(const Shortcut &shortcut);
    // Whether the desktop would take the shortcut now: true when one of our registered hot keys
    // holds it, otherwise the answer of a trial registration that is released at once. Nothing
    // is written to standard output and the table does not change.
    static bool canRegister(const Shortcut &shortcut);
    // Hands every parked hot key back to the desktop; one that is refused now is dropped.
    static void registerAll();
    // Releases every hot key to the desktop, keeping the table (parked).
    static void unregisterAll();
    // Switches the delivery mode after isEnabled or isMenuOpen changed.
    static void updateEventHandler();

    static bool isEnabled();
    static void setEnabled(bool enabled);
    static bool isMenuOpen();
    static void setMenuOpen(bool open);

    // A key press or release inside an open menu of the application. Runs the matching hot key's
    // callback in menu-open mode; true when the event was one of ours and is consumed. Presses of
    // modifier keys that a hot key uses are consumed too, so the menu does not close on them.
    static bool handleMenuKeyEvent(const QKeyEvent &event);

    // The layout's character for a key code; none for special keys and codes outside 0…65535.
    static std::optional<QString> keyToCharacter(qint64 keyCode);
    static std::optional<HotKeyService::KeyCombo> keyComboOf(const QKeyEvent &event);
    // The desktop's reserved shortcuts, modifiers normalised.
    static QList<Shortcut> systemShortcuts();
};

} // namespace KeyboardShortcuts
