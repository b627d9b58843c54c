#pragma once

#include "shortcuts/Name.h"
#include "shortcuts/Shortcut.h"

#include <QObject>

#include <functional>
#include <optional>

// The application's one global shortcut, `toggleDictation` (Control+Alt+Space unless the user
// chose another): every press runs onTrigger, every release onRelease.
class GlobalHotkey : public QObject {
    Q_OBJECT
public:
    explicit GlobalHotkey(QObject *parent = nullptr);

    // The shortcut name, created on first use (which stores and registers the default shortcut
    // when nothing is stored yet).
    static const KeyboardShortcuts::Name &toggleDictation();

    // Run on every press of the shortcut, inside the key event; none until the application sets it.
    std::function<void()> onTrigger;
    // Run on every release of the shortcut (the shortcut's key let go), inside the key event.
    std::function<void()> onRelease;

    // Attaches the press and release handlers to the name and logs the current shortcut. Call
    // once at start-up.
    // (Named for what it does: `register` is a C++ keyword.)
    void registerHotkey();
    // Releases the hot key; the handler stays attached, so enabling the name again brings it back.
    void unregisterHotkey();

    // The stored shortcut of toggleDictation, for the application state's refreshHotkeyShortcut().
    static std::optional<KeyboardShortcuts::Shortcut> currentShortcut();

Q_SIGNALS:
    // The stored shortcut of toggleDictation changed (set, cleared or reset).
    void shortcutChanged();
};
