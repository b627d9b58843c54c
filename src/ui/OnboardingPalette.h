#pragma once

#include "ui/MUTheme.h"

#include <QColor>
#include <QGuiApplication>
#include <QPalette>

// The first-run guide's colours: the shared theme's accents on the desktop's palette, so the guide
// reads in a light and a dark theme like the main view.
namespace OnboardingPalette {
inline QPalette desktop() { return QGuiApplication::palette(); }
// Buttons, filled progress capsules, badges.
inline QColor primary() { return MUTheme::accent(); }
inline QColor primaryPressed() { return MUTheme::accent().darker(125); }
inline QColor onPrimary() { return Qt::white; }
// Unreached progress capsules.
inline QColor faint() { return MUTheme::cardOutline(desktop()); }
// The page, the text on it, secondary lines.
inline QColor background() { return desktop().color(QPalette::Window); }
inline QColor text() { return desktop().color(QPalette::WindowText); }
inline QColor secondaryText() { return desktop().color(QPalette::PlaceholderText); }
// Granted states.
inline QColor success() { return MUTheme::live(); }
// The box of numbered steps and the text box's frame.
inline QColor panel() { return MUTheme::cardFill(desktop()); }
inline QColor border() { return MUTheme::cardOutline(desktop()); }
// The hint shown when the microphone is refused.
inline QColor warning() { return MUTheme::warning(); }
} // namespace OnboardingPalette
