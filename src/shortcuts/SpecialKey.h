#pragma once

namespace KeyboardShortcuts {

// The 53 keys shown by a glyph or a name instead of the layout's character. `returnKey` and
// `deleteKey` carry a suffix because `return` and `delete` are C++ keywords.
enum class SpecialKey {
    returnKey, deleteKey, deleteForward, end, escape, help, home, space, tab, pageUp, pageDown,
    upArrow, rightArrow, downArrow, leftArrow,
    f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, f17, f18, f19, f20,
    keypad0, keypad1, keypad2, keypad3, keypad4, keypad5, keypad6, keypad7, keypad8, keypad9,
    keypadClear, keypadDecimal, keypadDivide, keypadEnter, keypadEquals, keypadMinus,
    keypadMultiply, keypadPlus,
};

} // namespace KeyboardShortcuts
