#include "shortcuts/GlobalHotkey.h"

#include "app/AppLogger.h"
#include "core/TimingPoint.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "shortcuts/ModifierFlags.h"

#include <QPointer>

using namespace KeyboardShortcuts;

namespace {
// Compared by text: the name itself may be under construction when the first notification comes.
const QString toggleDictationName = QStringLiteral("toggleDictation");
} // namespace

GlobalHotkey::GlobalHotkey(QObject *parent) : QObject(parent)
{
    connect(notifications(), &Notifications::shortcutByNameDidChange, this, [this](const Name &name) {
        if (name.rawValue == toggleDictationName)
            Q_EMIT shortcutChanged();
    });
}

const Name &GlobalHotkey::toggleDictation()
{
    static const Name name(toggleDictationName,
                           Shortcut::fromKey(Key::space, ModifierFlags::control | ModifierFlags::option));
    return name;
}

void GlobalHotkey::registerHotkey()
{
    onKeyDown(toggleDictation(), [self = QPointer<GlobalHotkey>(this)] {
        if (self && self->onTrigger)
            self->onTrigger();
    });
    onKeyUp(toggleDictation(), [self = QPointer<GlobalHotkey>(this)] {
        if (self && self->onRelease)
            self->onRelease();
    });
    const auto shortcut = currentShortcut();
    const QString text = shortcut ? shortcut->description() : QStringLiteral("未设置");
    qCInfo(AppLogger::hotkey, "hotkey registered: %s", text.toUtf8().constData());
    TimingPoint::mark(AppLogger::hotkey, "shortcut_live");
}

void GlobalHotkey::unregisterHotkey()
{
    disable({toggleDictation()});
}

std::optional<Shortcut> GlobalHotkey::currentShortcut()
{
    return getShortcut(toggleDictation());
}
