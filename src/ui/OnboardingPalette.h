#pragma once

#include <QColor>

// The first-run guide's colours, in one place until the application has a shared theme.
namespace OnboardingPalette {
// Buttons, filled progress capsules, badges.
inline QColor primary() { return QColor(0x0A, 0x84, 0xFF); }
inline QColor primaryPressed() { return QColor(0x00, 0x6A, 0xD6); }
inline QColor onPrimary() { return Qt::white; }
// Unreached progress capsules, the key cap's face.
inline QColor faint() { return QColor(0xD9, 0xDC, 0xE1); }
// The page, the text on it, secondary lines.
inline QColor background() { return QColor(0xFA, 0xFA, 0xFC); }
inline QColor text() { return QColor(0x1C, 0x1C, 0x1E); }
inline QColor secondaryText() { return QColor(0x63, 0x63, 0x6A); }
// Granted states.
inline QColor success() { return QColor(0x34, 0xC7, 0x59); }
// The box of numbered steps and the text box's frame.
inline QColor panel() { return QColor(0xEE, 0xF0, 0xF4); }
inline QColor border() { return QColor(0xC8, 0xCC, 0xD2); }
// The hint shown when the microphone is refused.
inline QColor warning() { return QColor(0xC9, 0x3C, 0x00); }
} // namespace OnboardingPalette
