#include "shortcuts/SpecialKeys.h"

#include "shortcuts/LocalizedTexts.h"

#include <QHash>

#include <array>

namespace KeyboardShortcuts {

namespace {
constexpr char16_t keycap = 0x20E3;       // COMBINING ENCLOSING KEYCAP
constexpr char16_t enclosingCircle = 0x20DD;
constexpr char16_t firstFunctionKey = 0xF704; // the platform's private character of F1

struct Entry {
    SpecialKey key;
    qint64 code;
};

constexpr std::array<Entry, SpecialKeys::count> entries{{
    {SpecialKey::returnKey, 0x24}, {SpecialKey::deleteKey, 0x33}, {SpecialKey::deleteForward, 0x75},
    {SpecialKey::end, 0x77}, {SpecialKey::escape, 0x35}, {SpecialKey::help, 0x72}, {SpecialKey::home, 0x73},
    {SpecialKey::space, 0x31}, {SpecialKey::tab, 0x30}, {SpecialKey::pageUp, 0x74}, {SpecialKey::pageDown, 0x79},
    {SpecialKey::upArrow, 0x7E}, {SpecialKey::rightArrow, 0x7C}, {SpecialKey::downArrow, 0x7D},
    {SpecialKey::leftArrow, 0x7B},
    {SpecialKey::f1, 0x7A}, {SpecialKey::f2, 0x78}, {SpecialKey::f3, 0x63}, {SpecialKey::f4, 0x76},
    {SpecialKey::f5, 0x60}, {SpecialKey::f6, 0x61}, {SpecialKey::f7, 0x62}, {SpecialKey::f8, 0x64},
    {SpecialKey::f9, 0x65}, {SpecialKey::f10, 0x6D}, {SpecialKey::f11, 0x67}, {SpecialKey::f12, 0x6F},
    {SpecialKey::f13, 0x69}, {SpecialKey::f14, 0x6B}, {SpecialKey::f15, 0x71}, {SpecialKey::f16, 0x6A},
    {SpecialKey::f17, 0x40}, {SpecialKey::f18, 0x4F}, {SpecialKey::f19, 0x50}, {SpecialKey::f20, 0x5A},
    {SpecialKey::keypad0, 0x52}, {SpecialKey::keypad1, 0x53}, {SpecialKey::keypad2, 0x54},
    {SpecialKey::keypad3, 0x55}, {SpecialKey::keypad4, 0x56}, {SpecialKey::keypad5, 0x57},
    {SpecialKey::keypad6, 0x58}, {SpecialKey::keypad7, 0x59}, {SpecialKey::keypad8, 0x5B},
    {SpecialKey::keypad9, 0x5C}, {SpecialKey::keypadClear, 0x47}, {SpecialKey::keypadDecimal, 0x41},
    {SpecialKey::keypadDivide, 0x4B}, {SpecialKey::keypadEnter, 0x4C}, {SpecialKey::keypadEquals, 0x51},
    {SpecialKey::keypadMinus, 0x4E}, {SpecialKey::keypadMultiply, 0x43}, {SpecialKey::keypadPlus, 0x45},
}};

const QHash<qint64, SpecialKey> &codeTable()
{
    static const QHash<qint64, SpecialKey> table = [] {
        QHash<qint64, SpecialKey> t;
        t.reserve(SpecialKeys::count);
        for (const Entry &e : entries)
            t.insert(e.code, e.key);
        return t;
    }();
    return table;
}

int functionNumber(SpecialKey key)
{
    return int(key) - int(SpecialKey::f1) + 1;
}

bool isFunctionKey(SpecialKey key)
{
    return int(key) >= int(SpecialKey::f1) && int(key) <= int(SpecialKey::f20);
}

QString withKeycap(QChar c)
{
    return QString(c) + QChar(keycap);
}
} // namespace

std::optional<SpecialKey> SpecialKeys::forKeyCode(qint64 keyCode)
{
    const auto it = codeTable().constFind(keyCode);
    if (it == codeTable().constEnd())
        return std::nullopt;
    return *it;
}

qint64 SpecialKeys::keyCode(SpecialKey key)
{
    return entries[size_t(key)].code;
}

QString SpecialKeys::displayText(SpecialKey key)
{
    if (isFunctionKey(key))
        return QStringLiteral("F%1").arg(functionNumber(key));
    if (int(key) >= int(SpecialKey::keypad0) && int(key) <= int(SpecialKey::keypad9))
        return withKeycap(QChar(u'0' + (int(key) - int(SpecialKey::keypad0))));
    switch (key) {
    case SpecialKey::returnKey: return QStringLiteral(u"\u21A9");
    case SpecialKey::deleteKey: return QStringLiteral(u"\u232B");
    case SpecialKey::deleteForward: return QStringLiteral(u"\u2326");
    case SpecialKey::end: return QStringLiteral(u"\u2198");
    case SpecialKey::escape: return QStringLiteral(u"\u238B");
    case SpecialKey::help: return QString(QChar(u'?')) + QChar(enclosingCircle);
    case SpecialKey::home: return QStringLiteral(u"\u2196");
    case SpecialKey::space: {
        QString name = LocalizedTexts::text("space_key");
        if (!name.isEmpty())
            name[0] = name[0].toUpper();
        return name;
    }
    case SpecialKey::tab: return QStringLiteral(u"\u21E5");
    case SpecialKey::pageUp: return QStringLiteral(u"\u21DE");
    case SpecialKey::pageDown: return QStringLiteral(u"\u21DF");
    case SpecialKey::upArrow: return QStringLiteral(u"\u2191");
    case SpecialKey::rightArrow: return QStringLiteral(u"\u2192");
    case SpecialKey::downArrow: return QStringLiteral(u"\u2193");
    case SpecialKey::leftArrow: return QStringLiteral(u"\u2190");
    case SpecialKey::keypadClear: return withKeycap(QChar(0x2612));
    case SpecialKey::keypadDecimal: return withKeycap(u'.');
    case SpecialKey::keypadDivide: return withKeycap(u'/');
    case SpecialKey::keypadEnter: return withKeycap(QChar(0x21A9));
    case SpecialKey::keypadEquals: return withKeycap(u'=');
    case SpecialKey::keypadMinus: return withKeycap(u'-');
    case SpecialKey::keypadMultiply: return withKeycap(u'*');
    case SpecialKey::keypadPlus: return withKeycap(u'+');
    default: return {};
    }
}

std::optional<QString> SpecialKeys::menuKeyEquivalent(SpecialKey key)
{
    if (int(key) >= int(SpecialKey::keypad0))
        return std::nullopt;
    if (isFunctionKey(key))
        return QString(QChar(char16_t(firstFunctionKey + functionNumber(key) - 1)));
    if (key == SpecialKey::space)
        return QStringLiteral(" ");
    return displayText(key);
}

} // namespace KeyboardShortcuts
