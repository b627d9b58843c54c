#pragma once

#include <QString>

class QAction;

namespace KeyboardShortcuts {

// A menu item's keyboard equivalent in the form the shortcut search compares: the key's text and
// the modifiers as event flags. A letter with Shift is written as the upper-case letter without
// the shift flag, the form menus conventionally use; special keys use the menu texts of the
// special-key table.
class MenuKeyEquivalent {
public:
    QString text;
    quint64 modifierMask = 0;

    static MenuKeyEquivalent of(const QAction *action);

    // Whether a shortcut whose key gives `keyText` and whose modifiers are `shortcutFlags` is this
    // equivalent. An upper-case equivalent stands for Shift and the lower-case letter.
    bool matches(const QString &keyText, quint64 shortcutFlags) const;
};

} // namespace KeyboardShortcuts
