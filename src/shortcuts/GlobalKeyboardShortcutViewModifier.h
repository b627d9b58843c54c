#pragma once

#include "shortcuts/Name.h"
#include "shortcuts/Shortcut.h"

#include <QKeySequence>
#include <QObject>
#include <QPointer>

class QAction;

namespace KeyboardShortcuts {

// Gives an action (a menu item, a button's action) the keyboard equivalent of a name: its
// shortcut follows the name's stored shortcut, and it has none while any recorder records, so the
// recorder neither triggers it nor finds it as a clash with the very shortcut being recorded.
// Lives as a child of the action.
class GlobalKeyboardShortcutViewModifier : public QObject {
    Q_OBJECT
public:
    GlobalKeyboardShortcutViewModifier(QAction *action, const Name &name);

    // The key sequence of a shortcut: the special key or the layout's character with the
    // modifiers (control → Ctrl, option → Alt, shift → Shift, command → Meta). Empty for a shortcut
    // the keyboard cannot express that way (the function modifier, a key without a character).
    static QKeySequence keySequence(const Shortcut &shortcut);

    bool isRecorderActive() const { return m_isRecorderActive; }

private:
    void refresh();

    QPointer<QAction> m_action;
    Name m_name;
    bool m_isRecorderActive = false;
};

} // namespace KeyboardShortcuts
