#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QString>

class QLabel;
class QWidget;

// The look of the main window in one place: the product's accent colours and the font choices.
// Everything else comes from the desktop's palette, read when a widget paints, so the screens stay
// readable in a light and a dark theme and follow a change of theme while open.
namespace MUTheme {

// The product's blue (the logo, the keycaps' text, links), the LIVE green, and the warning orange.
QColor accent();
QColor live();
QColor warning();

// Whether the palette is a dark one (its window colour is darker than its text).
bool isDark(const QPalette &palette);
// The fill and outline of cards and keycaps, a little off the window colour.
QColor cardFill(const QPalette &palette);
QColor cardOutline(const QPalette &palette);

// The hero title, a card's title, section headings, captions, and the keycaps' text.
QFont heroFont();
QFont titleFont();
QFont sectionFont();
QFont captionFont();
QFont keycapFont();

// Rounding of cards and keycaps, in pixels.
constexpr qreal cornerRadius = 10.0;

// One of the window's symbols (house, gearshape, lock.shield, ...) drawn in `color`; a null pixmap
// for an unknown name. The shapes are the application's own, so they look the same on every desktop.
QPixmap symbol(const QString &name, int size, const QColor &color);
// The symbol as an icon that follows the palette's text and highlighted-text colours.
QIcon symbolIcon(const QString &name, const QPalette &palette, int size = 18);

// A section of a grouped form: its title above a card holding `body` (which it takes over).
QWidget *groupedSection(const QString &title, QWidget *body);

// Marks a label as a caption (small, secondary colour, wrapped).
void makeCaption(QLabel *label);

} // namespace MUTheme
