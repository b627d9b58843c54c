#include "shortcuts/Shortcut.h"

#include "shortcuts/CarbonKeyboardShortcuts.h"
#include "shortcuts/ModifierFlags.h"
#include "shortcuts/SpecialKeys.h"
#include "shortcuts/StoredShortcut.h"

#include <QKeyEvent>

namespace KeyboardShortcuts {

Shortcut Shortcut::fromKey(Key key, quint64 eventFlags)
{
    return Shortcut(key.rawValue, ModifierFlags::toCarbon(eventFlags));
}

std::optional<Shortcut> Shortcut::fromKeyEvent(const QKeyEvent &event)
{
    if (event.type() != QEvent::KeyPress && event.type() != QEvent::KeyRelease)
        return std::nullopt;
    const auto combo = CarbonKeyboardShortcuts::keyComboOf(event);
    if (!combo)
        return std::nullopt;
    const quint64 flags = ModifierFlags::fromCarbon(combo->carbonModifiers) & ~ModifierFlags::function;
    return Shortcut(combo->keyCode, ModifierFlags::normalizedCarbon(ModifierFlags::toCarbon(flags)));
}

quint64 Shortcut::modifiers() const
{
    return ModifierFlags::fromCarbon(carbonModifiers);
}

QByteArray Shortcut::toJson() const
{
    return StoredShortcut::encode(*this);
}

std::optional<Shortcut> Shortcut::fromJson(const QByteArray &json)
{
    return StoredShortcut::decode(json);
}

QString Shortcut::description() const
{
    const quint64 flags = modifiers();
    QString text;
    if (flags & ModifierFlags::control)
        text += QChar(0x2303);
    if (flags & ModifierFlags::option)
        text += QChar(0x2325);
    if (flags & ModifierFlags::shift)
        text += QChar(0x21E7);
    if (flags & ModifierFlags::command)
        text += QChar(0x2318);
    if (flags & ModifierFlags::function)
        text += QStringLiteral(u"\U0001F310\uFE0E");

    if (const auto special = SpecialKeys::forKeyCode(carbonKeyCode)) {
        text += SpecialKeys::displayText(*special);
        return text;
    }
    QString character = CarbonKeyboardShortcuts::keyToCharacter(carbonKeyCode).value_or(QString(QChar(0xFFFD)));
    if (!character.isEmpty()) {
        const qsizetype first = character.at(0).isHighSurrogate() && character.size() > 1 ? 2 : 1;
        character = character.left(first).toUpper() + character.mid(first);
    }
    return text + character;
}

} // namespace KeyboardShortcuts
