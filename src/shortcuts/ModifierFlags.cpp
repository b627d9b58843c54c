#include "shortcuts/ModifierFlags.h"

#include <array>

namespace KeyboardShortcuts {

namespace {
struct Pair {
    quint64 eventFlag;
    qint64 carbonBit;
};
constexpr std::array<Pair, 5> table{{
    {ModifierFlags::control, ModifierFlags::controlKey},
    {ModifierFlags::option, ModifierFlags::optionKey},
    {ModifierFlags::shift, ModifierFlags::shiftKey},
    {ModifierFlags::command, ModifierFlags::cmdKey},
    {ModifierFlags::function, ModifierFlags::functionKey},
}};
} // namespace

qint64 ModifierFlags::toCarbon(quint64 eventFlags)
{
    return HotKeyService::translateModifiers<qint64>(table, eventFlags, &Pair::eventFlag, &Pair::carbonBit);
}

quint64 ModifierFlags::fromCarbon(qint64 carbonModifiers)
{
    return HotKeyService::translateModifiers<quint64>(table, carbonModifiers, &Pair::carbonBit, &Pair::eventFlag);
}

quint64 ModifierFlags::fromQt(Qt::KeyboardModifiers modifiers)
{
    quint64 flags = 0;
    if (modifiers & Qt::ControlModifier)
        flags |= control;
    if (modifiers & Qt::AltModifier)
        flags |= option;
    if (modifiers & Qt::ShiftModifier)
        flags |= shift;
    if (modifiers & Qt::MetaModifier)
        flags |= command;
    return flags;
}

} // namespace KeyboardShortcuts
