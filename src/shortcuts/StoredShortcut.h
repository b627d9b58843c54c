#pragma once

#include "shortcuts/Shortcut.h"

#include <QByteArray>
#include <QVariant>

#include <optional>

namespace KeyboardShortcuts {

// The form a shortcut is kept in under its Name's settings key: a text holding
// {"carbonKeyCode":…,"carbonModifiers":…} (compact, UTF-8). Apart from Shortcut's key handling,
// so that reading a stored value needs nothing but Qt's core.
struct StoredShortcut {
    StoredShortcut() = delete;

    static QByteArray encode(const Shortcut &shortcut);
    // Both members must be present and integers a 64-bit integer can hold; other members are
    // ignored. Anything else gives none.
    static std::optional<Shortcut> decode(const QByteArray &json);
    // The shortcut a settings value holds: a text in the form above; any other value (false for
    // a cleared shortcut, a number, a list ...) gives none.
    static std::optional<Shortcut> fromSettingsValue(const QVariant &value);
};

} // namespace KeyboardShortcuts
