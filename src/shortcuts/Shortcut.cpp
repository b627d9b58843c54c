#include "shortcuts/Shortcut.h"

#include "shortcuts/CarbonKeyboardShortcuts.h"
#include "shortcuts/ModifierFlags.h"
#include "shortcuts/SpecialKeys.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>

#include <cmath>

namespace KeyboardShortcuts {

namespace {
std::optional<qint64> integerMember(const QJsonObject &object, QLatin1StringView name)
{
    const QJsonValue value = object.value(name);
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    // Integers only, and only those a 64-bit integer can hold.
    if (std::trunc(d) != d || d < -9223372036854775808.0 || d >= 9223372036854775808.0)
        return std::nullopt;
    return value.toInteger();
}
} // namespace

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
    return QByteArrayLiteral("{\"carbonKeyCode\":") + QByteArray::number(carbonKeyCode)
        + QByteArrayLiteral(",\"carbonModifiers\":") + QByteArray::number(carbonModifiers) + '}';
}

std::optional<Shortcut> Shortcut::fromJson(const QByteArray &json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const auto code = integerMember(object, QLatin1StringView("carbonKeyCode"));
    const auto modifiers = integerMember(object, QLatin1StringView("carbonModifiers"));
    if (!code || !modifiers)
        return std::nullopt;
    return Shortcut(*code, *modifiers);
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
