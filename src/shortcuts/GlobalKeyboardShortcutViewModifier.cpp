#include "shortcuts/GlobalKeyboardShortcutViewModifier.h"

#include "shortcuts/CarbonKeyboardShortcuts.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "shortcuts/ModifierFlags.h"
#include "shortcuts/SpecialKeys.h"

#include <QAction>

namespace KeyboardShortcuts {

namespace {
struct QtKey {
    Qt::Key key;
    bool keypad = false;
};

QtKey qtKeyOf(SpecialKey special)
{
    if (special >= SpecialKey::f1 && special <= SpecialKey::f20)
        return {Qt::Key(Qt::Key_F1 + (int(special) - int(SpecialKey::f1)))};
    if (special >= SpecialKey::keypad0 && special <= SpecialKey::keypad9)
        return {Qt::Key(Qt::Key_0 + (int(special) - int(SpecialKey::keypad0))), true};
    switch (special) {
    case SpecialKey::returnKey: return {Qt::Key_Return};
    case SpecialKey::deleteKey: return {Qt::Key_Backspace};
    case SpecialKey::deleteForward: return {Qt::Key_Delete};
    case SpecialKey::end: return {Qt::Key_End};
    case SpecialKey::escape: return {Qt::Key_Escape};
    case SpecialKey::help: return {Qt::Key_Help};
    case SpecialKey::home: return {Qt::Key_Home};
    case SpecialKey::space: return {Qt::Key_Space};
    case SpecialKey::tab: return {Qt::Key_Tab};
    case SpecialKey::pageUp: return {Qt::Key_PageUp};
    case SpecialKey::pageDown: return {Qt::Key_PageDown};
    case SpecialKey::upArrow: return {Qt::Key_Up};
    case SpecialKey::rightArrow: return {Qt::Key_Right};
    case SpecialKey::downArrow: return {Qt::Key_Down};
    case SpecialKey::leftArrow: return {Qt::Key_Left};
    case SpecialKey::keypadClear: return {Qt::Key_Clear, true};
    case SpecialKey::keypadDecimal: return {Qt::Key_Period, true};
    case SpecialKey::keypadDivide: return {Qt::Key_Slash, true};
    case SpecialKey::keypadEnter: return {Qt::Key_Enter, true};
    case SpecialKey::keypadEquals: return {Qt::Key_Equal, true};
    case SpecialKey::keypadMinus: return {Qt::Key_Minus, true};
    case SpecialKey::keypadMultiply: return {Qt::Key_Asterisk, true};
    case SpecialKey::keypadPlus: return {Qt::Key_Plus, true};
    default: return {Qt::Key_unknown};
    }
}
} // namespace

GlobalKeyboardShortcutViewModifier::GlobalKeyboardShortcutViewModifier(QAction *action, const Name &name)
    : QObject(action), m_action(action), m_name(name)
{
    connect(notifications(), &Notifications::recorderActiveStatusDidChange, this, [this](bool isActive) {
        m_isRecorderActive = isActive;
        refresh();
    });
    connect(notifications(), &Notifications::shortcutByNameDidChange, this, [this](const Name &changed) {
        if (changed == m_name)
            refresh();
    });
    m_isRecorderActive = isPaused();
    refresh();
}

void GlobalKeyboardShortcutViewModifier::refresh()
{
    if (!m_action)
        return;
    const auto shortcut = m_isRecorderActive ? std::nullopt : getShortcut(m_name);
    m_action->setShortcut(shortcut ? keySequence(*shortcut) : QKeySequence());
}

QKeySequence GlobalKeyboardShortcutViewModifier::keySequence(const Shortcut &shortcut)
{
    const quint64 flags = shortcut.modifiers();
    if (flags & ModifierFlags::function)
        return {};
    Qt::KeyboardModifiers modifiers;
    if (flags & ModifierFlags::control)
        modifiers |= Qt::ControlModifier;
    if (flags & ModifierFlags::option)
        modifiers |= Qt::AltModifier;
    if (flags & ModifierFlags::shift)
        modifiers |= Qt::ShiftModifier;
    if (flags & ModifierFlags::command)
        modifiers |= Qt::MetaModifier;

    if (const auto special = SpecialKeys::forKeyCode(shortcut.carbonKeyCode)) {
        const QtKey key = qtKeyOf(*special);
        if (key.key == Qt::Key_unknown)
            return {};
        if (key.keypad)
            modifiers |= Qt::KeypadModifier;
        return QKeySequence(QKeyCombination(modifiers, key.key));
    }
    const auto character = CarbonKeyboardShortcuts::keyToCharacter(shortcut.carbonKeyCode);
    if (!character || character->isEmpty())
        return {};
    const char32_t code = character->toUpper().toUcs4().value(0);
    if (!code)
        return {};
    return QKeySequence(QKeyCombination(modifiers, Qt::Key(code)));
}

} // namespace KeyboardShortcuts
