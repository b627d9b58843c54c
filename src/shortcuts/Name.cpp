#include "shortcuts/Name.h"

#include "shortcuts/KeyboardShortcuts.h"

namespace KeyboardShortcuts {

Name::Name(const QString &rawValue_, std::optional<Shortcut> defaultShortcut_)
    : rawValue(rawValue_), defaultShortcut(defaultShortcut_)
{
    nameCreated(*this);
}

std::optional<Shortcut> Name::shortcut() const
{
    return getShortcut(*this);
}

void Name::setShortcut(const std::optional<Shortcut> &shortcut) const
{
    KeyboardShortcuts::setShortcut(shortcut, *this);
}

} // namespace KeyboardShortcuts
