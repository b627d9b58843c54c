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
    qint64 carbon = 0;
    for (const Pair &p : table)
        if (eventFlags & p.eventFlag)
            carbon |= p.carbonBit;
    return carbon;
}

quint64 ModifierFlags::fromCarbon(qint64 carbonModifiers)
{
    quint64 flags = 0;
    for (const Pair &p : table)
        if (carbonModifiers & p.carbonBit)
            flags |= p.eventFlag;
    return flags;
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
