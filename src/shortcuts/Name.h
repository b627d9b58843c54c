#pragma once

#include "shortcuts/Shortcut.h"

#include <QMetaType>
#include <QString>

#include <optional>

namespace KeyboardShortcuts {

// A named slot for a user-configurable global shortcut. Its shortcut lives in the application's
// settings under "KeyboardShortcuts_" + rawValue. Equality and hashing use rawValue only.
//
// Creating a name with a default shortcut stores and registers that default when, and only when,
// nothing at all is stored under its key (a user who cleared it has false stored there). Copies
// have no such effect.
class Name {
public:
    static constexpr QLatin1StringView keyPrefix{"KeyboardShortcuts_"};

    explicit Name(const QString &rawValue, std::optional<Shortcut> defaultShortcut = std::nullopt);
    // An empty name, for containers and signal arguments; it stores and registers nothing.
    Name() = default;

    QString rawValue;
    std::optional<Shortcut> defaultShortcut;

    QString settingsKey() const { return QString(keyPrefix) + rawValue; }

    // The stored shortcut (read from the settings at every call) and its full set / clear.
    std::optional<Shortcut> shortcut() const;
    void setShortcut(const std::optional<Shortcut> &shortcut) const;

    bool operator==(const Name &other) const { return rawValue == other.rawValue; }
};

inline size_t qHash(const Name &name, size_t seed = 0)
{
    return qHash(name.rawValue, seed);
}

} // namespace KeyboardShortcuts

Q_DECLARE_METATYPE(KeyboardShortcuts::Name)
