#include "shortcuts/MenuKeyEquivalent.h"

#include "shortcuts/ModifierFlags.h"
#include "shortcuts/SpecialKeys.h"

#include <QAction>

#include <optional>

namespace KeyboardShortcuts {

namespace {
std::optional<SpecialKey> specialKeyOf(Qt::Key key)
{
    if (key >= Qt::Key_F1 && key <= Qt::Key_F20)
        return SpecialKey(int(SpecialKey::f1) + (key - Qt::Key_F1));
    switch (key) {
    case Qt::Key_Return: return SpecialKey::returnKey;
    case Qt::Key_Backspace: return SpecialKey::deleteKey;
    case Qt::Key_Delete: return SpecialKey::deleteForward;
    case Qt::Key_End: return SpecialKey::end;
    case Qt::Key_Escape: return SpecialKey::escape;
    case Qt::Key_Help: return SpecialKey::help;
    case Qt::Key_Home: return SpecialKey::home;
    case Qt::Key_Space: return SpecialKey::space;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return SpecialKey::tab;
    case Qt::Key_PageUp: return SpecialKey::pageUp;
    case Qt::Key_PageDown: return SpecialKey::pageDown;
    case Qt::Key_Up: return SpecialKey::upArrow;
    case Qt::Key_Right: return SpecialKey::rightArrow;
    case Qt::Key_Down: return SpecialKey::downArrow;
    case Qt::Key_Left: return SpecialKey::leftArrow;
    default: return std::nullopt;
    }
}
} // namespace

MenuKeyEquivalent MenuKeyEquivalent::of(const QAction *action)
{
    MenuKeyEquivalent result;
    if (!action || action->shortcut().isEmpty())
        return result;
    const QKeyCombination combination = action->shortcut()[0];
    const Qt::Key key = combination.key();
    result.modifierMask = ModifierFlags::fromQt(combination.keyboardModifiers());
    if (const auto special = specialKeyOf(key)) {
        result.text = SpecialKeys::menuKeyEquivalent(*special).value_or(QString());
        if (key == Qt::Key_Backtab)
            result.modifierMask |= ModifierFlags::shift;
        return result;
    }
    if (key >= 0x01000000 || !QChar::isPrint(char32_t(key)))
        return result; // a key without a character
    const char32_t code = char32_t(key);
    const QString character = QString::fromUcs4(&code, 1);
    if (QChar::isLetter(char32_t(key)) && (result.modifierMask & ModifierFlags::shift)) {
        result.text = character.toUpper();
        result.modifierMask &= ~ModifierFlags::shift;
    } else {
        result.text = character.toLower();
    }
    return result;
}

bool MenuKeyEquivalent::matches(const QString &keyText, quint64 shortcutFlags) const
{
    if (keyText.isEmpty() || text.isEmpty())
        return false;
    QString equivalent = text;
    quint64 mask = modifierMask;
    if ((shortcutFlags & ModifierFlags::shift) && equivalent != equivalent.toLower()) {
        equivalent = equivalent.toLower();
        mask |= ModifierFlags::shift;
    }
    return keyText == equivalent && shortcutFlags == mask;
}

} // namespace KeyboardShortcuts
