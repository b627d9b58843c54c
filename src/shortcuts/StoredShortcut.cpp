#include "shortcuts/StoredShortcut.h"

#include "core/ExactJson.h"

#include <QJsonDocument>
#include <QJsonObject>

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

QByteArray StoredShortcut::encode(const Shortcut &shortcut)
{
    return QByteArrayLiteral("{\"carbonKeyCode\":") + QByteArray::number(shortcut.carbonKeyCode)
        + QByteArrayLiteral(",\"carbonModifiers\":") + QByteArray::number(shortcut.carbonModifiers) + '}';
}

std::optional<Shortcut> StoredShortcut::decode(const QByteArray &json)
{
    QJsonParseError error{};
    const QJsonDocument document = parseJsonExactly(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const auto code = integerMember(object, QLatin1StringView("carbonKeyCode"));
    const auto modifiers = integerMember(object, QLatin1StringView("carbonModifiers"));
    if (!code || !modifiers)
        return std::nullopt;
    return Shortcut(*code, *modifiers);
}

std::optional<Shortcut> StoredShortcut::fromSettingsValue(const QVariant &value)
{
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return decode(value.toString().toUtf8());
}

} // namespace KeyboardShortcuts
