#pragma once

#include "shortcuts/Key.h"

#include <QByteArray>
#include <QHashFunctions>
#include <QString>

#include <optional>

class QKeyEvent;

namespace KeyboardShortcuts {

// A key with its modifiers, in the stored form: the kVK_ key code and the Carbon modifier bits.
class Shortcut {
public:
    qint64 carbonKeyCode = 0;
    qint64 carbonModifiers = 0;

    constexpr Shortcut() = default;
    constexpr Shortcut(qint64 keyCode, qint64 modifiers) : carbonKeyCode(keyCode), carbonModifiers(modifiers) {}
    // From a key and event flags (ModifierFlags::control ...), converted to Carbon bits.
    static Shortcut fromKey(Key key, quint64 eventFlags);

    // The shortcut of a key press or release in one of the application's windows: the key and the
    // held modifiers without the function modifier. Other events, and keys the keyboard layer
    // cannot name, give none.
    static std::optional<Shortcut> fromKeyEvent(const QKeyEvent &event);

    Key key() const { return Key{carbonKeyCode}; }
    // The modifiers as event flags.
    quint64 modifiers() const;

    // The stored form: {"carbonKeyCode":…,"carbonModifiers":…}, compact, UTF-8.
    QByteArray toJson() const;
    // Reads the stored form: both members must be present and integers; other members are
    // ignored. Anything else gives none.
    static std::optional<Shortcut> fromJson(const QByteArray &json);

    // The modifier glyphs in the fixed order ⌃⌥⇧⌘🌐︎, then the key's glyph, name or character.
    QString description() const;

    constexpr bool operator==(const Shortcut &) const = default;
};

inline size_t qHash(const Shortcut &shortcut, size_t seed = 0)
{
    return qHashMulti(seed, shortcut.carbonKeyCode, shortcut.carbonModifiers);
}

} // namespace KeyboardShortcuts
