#pragma once

#include <QtGlobal>

#include <optional>

// The mapping between the virtual key codes and Carbon modifier bits of the shortcuts library and
// X11: key code ↔ keysym (the symbol of the key on a US layout), and Carbon bits ↔ X modifier
// masks (control → Control, option → Mod1 (Alt), shift → Shift, command → Mod4 (Super)).
class X11KeyCodes {
public:
    static constexpr quint16 shiftMask = 0x01;
    static constexpr quint16 lockMask = 0x02;
    static constexpr quint16 controlMask = 0x04;
    static constexpr quint16 mod1Mask = 0x08;
    static constexpr quint16 mod4Mask = 0x40;

    static std::optional<quint32> keysymFor(qint64 keyCode);
    // Letters are matched in either case.
    static std::optional<qint64> keyCodeFor(quint32 keysym);

    // The function bit has no X counterpart and is dropped; callers refuse it first.
    static quint16 xModifiers(qint64 carbonModifiers);
    // Lock and Num Lock and any other bit are dropped.
    static qint64 carbonModifiers(quint32 xState);
};
