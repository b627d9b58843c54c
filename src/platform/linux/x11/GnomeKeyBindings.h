#pragma once

#include "platform/HotKeyService.h"

#include <QList>
#include <QString>

#include <optional>

// The key bindings a GNOME desktop reserves, read from its settings schemas (window manager, shell,
// media keys) where they are installed. Bindings whose key has no virtual key code are left out.
class GnomeKeyBindings {
public:
    static QList<HotKeyService::KeyCombo> reservedShortcuts();
    // One accelerator in the settings' notation, e.g. "<Control><Alt>Delete" or "<Super>Up".
    static std::optional<HotKeyService::KeyCombo> parseAccelerator(const QString &accelerator);
};
