#pragma once

#include "platform/HotKeyService.h"

#include <QtGlobal>
#include <Qt>

namespace KeyboardShortcuts {

// The two encodings of the modifier keys the library uses side by side: event flags (the values
// key events and menu items carry) and Carbon bits (the stored form of a shortcut). Only the five
// modifiers below survive a conversion; caps lock, numeric pad and device bits are dropped.
class ModifierFlags {
public:
    // Event flags.
    static constexpr quint64 control = 0x40000;
    static constexpr quint64 option = 0x80000;
    static constexpr quint64 shift = 0x20000;
    static constexpr quint64 command = 0x100000;
    static constexpr quint64 function = 0x800000;

    // Carbon bits, as the hot-key service takes them.
    static constexpr qint64 controlKey = HotKeyService::controlKey;
    static constexpr qint64 optionKey = HotKeyService::optionKey;
    static constexpr qint64 shiftKey = HotKeyService::shiftKey;
    static constexpr qint64 cmdKey = HotKeyService::cmdKey;
    static constexpr qint64 functionKey = HotKeyService::functionKey;

    static qint64 toCarbon(quint64 eventFlags);
    static quint64 fromCarbon(qint64 carbonModifiers);
    // Converts to event flags and back, keeping only the five known bits.
    static qint64 normalizedCarbon(qint64 carbonModifiers) { return toCarbon(fromCarbon(carbonModifiers)); }

    // Qt's modifiers on this desktop: Control is control, Alt is option, Meta (Super) is command.
    // Qt has no function modifier; the keypad modifier is dropped.
    static quint64 fromQt(Qt::KeyboardModifiers modifiers);
};

} // namespace KeyboardShortcuts
