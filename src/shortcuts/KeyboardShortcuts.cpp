#include "shortcuts/KeyboardShortcuts.h"

#include "shortcuts/CarbonKeyboardShortcuts.h"
#include "shortcuts/MenuKeyEquivalent.h"
#include "shortcuts/MenuTracker.h"
#include "shortcuts/SpecialKeys.h"
#include "shortcuts/StoredShortcut.h"

#include <QAction>
#include <QCoreApplication>
#include <QHash>
#include <QMenu>
#include <QPointer>
#include <QSet>
#include <QSettings>

namespace KeyboardShortcuts {

namespace {
using Handlers = QHash<QString, QList<std::function<void()>>>;
using Subscribers = QHash<QString, QHash<QUuid, QPointer<EventStream>>>;

struct Library {
    bool paused = false;
    QSet<Shortcut> registeredShortcuts;
    Handlers keyDownHandlers;
    Handlers keyUpHandlers;
    Subscribers keyDownSubscribers;
    Subscribers keyUpSubscribers;
    // Names created in this process, with their defaults (resetAll() restores them).
    QHash<QString, std::optional<Shortcut>> knownNames;
    QPointer<Notifications> notifications;
    QPointer<MenuTracker> menuTracker;
};

Library &library()
{
    static Library l;
    return l;
}

std::optional<Shortcut> storedShortcut(const QString &rawValue)
{
    return StoredShortcut::fromSettingsValue(QSettings().value(QString(Name::keyPrefix) + rawValue));
}

bool usedByHandlers(const Shortcut &shortcut)
{
    const Library &l = library();
    for (const Handlers *handlers : {&l.keyDownHandlers, &l.keyUpHandlers})
        for (auto it = handlers->cbegin(); it != handlers->cend(); ++it)
            if (storedShortcut(it.key()) == shortcut)
                return true;
    return false;
}

bool usedByStreams(const Shortcut &shortcut)
{
    const Subscribers &subscribers = library().keyDownSubscribers;
    for (auto it = subscribers.cbegin(); it != subscribers.cend(); ++it)
        if (!it->isEmpty() && storedShortcut(it.key()) == shortcut)
            return true;
    return false;
}

void dispatch(const Shortcut &shortcut, EventType type)
{
    const Library &l = library();
    if (l.paused)
        return;
    // Copies: a handler may attach or drop handlers, or end a stream.
    const Handlers handlers = type == EventType::keyDown ? l.keyDownHandlers : l.keyUpHandlers;
    for (auto it = handlers.cbegin(); it != handlers.cend(); ++it)
        if (storedShortcut(it.key()) == shortcut)
            for (const auto &action : it.value())
                action();
    const Subscribers subscribers = type == EventType::keyDown ? l.keyDownSubscribers : l.keyUpSubscribers;
    for (auto it = subscribers.cbegin(); it != subscribers.cend(); ++it)
        if (storedShortcut(it.key()) == shortcut)
            for (const QPointer<EventStream> &stream : it.value())
                if (stream)
                    Q_EMIT stream->eventOccurred(type);
}

void registerShortcut(const Shortcut &shortcut)
{
    CarbonKeyboardShortcuts::registerShortcut(
        shortcut, [](const Shortcut &s) { dispatch(s, EventType::keyDown); },
        [](const Shortcut &s) { dispatch(s, EventType::keyUp); });
}

void registerIfNeeded(const Name &name)
{
    const auto shortcut = getShortcut(name);
    if (shortcut && !library().registeredShortcuts.contains(*shortcut)) {
        registerShortcut(*shortcut);
        library().registeredShortcuts.insert(*shortcut);
    }
}

void unregister(const Shortcut &shortcut)
{
    CarbonKeyboardShortcuts::unregisterShortcut(shortcut);
    library().registeredShortcuts.remove(shortcut);
}

void addHandler(Handlers &handlers, const Name &name, std::function<void()> action)
{
    handlers[name.rawValue].append(std::move(action));
    registerIfNeeded(name);
}

MenuTracker *menuTracker()
{
    Library &l = library();
    if (!l.menuTracker && QCoreApplication::instance()) {
        l.menuTracker = new MenuTracker(&CarbonKeyboardShortcuts::handleMenuKeyEvent, QCoreApplication::instance());
        QObject::connect(l.menuTracker, &MenuTracker::menuOpenChanged, l.menuTracker,
                         [](bool open) { CarbonKeyboardShortcuts::setMenuOpen(open); });
    }
    return l.menuTracker;
}
} // namespace

std::optional<Shortcut> getShortcut(const Name &name)
{
    return storedShortcut(name.rawValue);
}

void setShortcut(const std::optional<Shortcut> &shortcut, const Name &name)
{
    const auto current = getShortcut(name);
    QSettings settings;
    if (!shortcut) {
        if (!current)
            return;
        if (name.defaultShortcut)
            settings.setValue(name.settingsKey(), false);
        else
            settings.remove(name.settingsKey());
        unregister(*current);
        Q_EMIT notifications()->shortcutByNameDidChange(name);
        return;
    }
    const QString json = QString::fromUtf8(shortcut->toJson());
    if (current)
        unregister(*current);
    if (!library().registeredShortcuts.contains(*shortcut)) {
        registerShortcut(*shortcut);
        library().registeredShortcuts.insert(*shortcut);
    }
    settings.setValue(name.settingsKey(), json);
    Q_EMIT notifications()->shortcutByNameDidChange(name);
}

void onKeyDown(const Name &name, std::function<void()> action)
{
    addHandler(library().keyDownHandlers, name, std::move(action));
}

void onKeyUp(const Name &name, std::function<void()> action)
{
    addHandler(library().keyUpHandlers, name, std::move(action));
}

void removeHandler(const Name &name)
{
    Library &l = library();
    l.keyDownHandlers.remove(name.rawValue);
    l.keyUpHandlers.remove(name.rawValue);
    const auto shortcut = getShortcut(name);
    if (shortcut && !usedByStreams(*shortcut) && !usedByHandlers(*shortcut))
        unregister(*shortcut);
}

void removeAllHandlers()
{
    Library &l = library();
    QSet<QString> names;
    for (const Handlers *handlers : {&l.keyDownHandlers, &l.keyUpHandlers})
        for (auto it = handlers->cbegin(); it != handlers->cend(); ++it)
            names.insert(it.key());
    l.keyDownHandlers.clear();
    l.keyUpHandlers.clear();
    for (const QString &rawValue : names) {
        const auto shortcut = storedShortcut(rawValue);
        if (shortcut && !usedByStreams(*shortcut))
            unregister(*shortcut);
    }
}

void disable(const QList<Name> &names)
{
    for (const Name &name : names)
        if (const auto shortcut = getShortcut(name))
            unregister(*shortcut);
}

void enable(const QList<Name> &names)
{
    for (const Name &name : names)
        registerIfNeeded(name);
}

bool isEnabled(const Name &name)
{
    if (!isEnabled())
        return false;
    const auto shortcut = getShortcut(name);
    return shortcut && library().registeredShortcuts.contains(*shortcut);
}

void reset(const QList<Name> &names)
{
    for (const Name &name : names)
        setShortcut(name.defaultShortcut, name);
}

void resetAll()
{
    QList<Name> names;
    const QStringList keys = QSettings().allKeys();
    for (const QString &key : keys) {
        if (!key.startsWith(Name::keyPrefix))
            continue;
        const QString rawValue = key.mid(Name::keyPrefix.size());
        // A name created earlier in this process brings its default back.
        names.append(Name(rawValue, library().knownNames.value(rawValue)));
    }
    reset(names);
}

bool isEnabled()
{
    return CarbonKeyboardShortcuts::isEnabled();
}

void setEnabled(bool enabled)
{
    CarbonKeyboardShortcuts::setEnabled(enabled);
}

bool isPaused()
{
    return library().paused;
}

void setRecorderActive(bool active)
{
    library().paused = active;
    Q_EMIT notifications()->recorderActiveStatusDidChange(active);
}

std::unique_ptr<EventStream> events(const Name &name)
{
    return std::make_unique<EventStream>(name);
}

Notifications *notifications()
{
    Library &l = library();
    if (!l.notifications)
        l.notifications = new Notifications(QCoreApplication::instance());
    return l.notifications;
}

void watchMenu(QMenu *menu)
{
    if (MenuTracker *tracker = menuTracker())
        tracker->watch(menu);
}

QAction *matchingMenuItem(const Shortcut &shortcut, const QMenu *menu)
{
    if (!menu)
        return nullptr;
    std::optional<QString> keyText;
    if (const auto special = SpecialKeys::forKeyCode(shortcut.carbonKeyCode))
        keyText = SpecialKeys::menuKeyEquivalent(*special);
    else
        keyText = CarbonKeyboardShortcuts::keyToCharacter(shortcut.carbonKeyCode);
    const auto actions = menu->actions();
    for (QAction *action : actions) {
        if (keyText && MenuKeyEquivalent::of(action).matches(*keyText, shortcut.modifiers()))
            return action;
        if (QAction *hit = matchingMenuItem(shortcut, action->menu()))
            return hit;
    }
    return nullptr;
}

QAction *menuItemUsing(const Shortcut &shortcut)
{
    if (MenuTracker *tracker = menuTracker())
        for (QMenu *menu : tracker->menus())
            if (QAction *hit = matchingMenuItem(shortcut, menu))
                return hit;
    return nullptr;
}

bool canRegister(const Shortcut &shortcut)
{
    return CarbonKeyboardShortcuts::canRegister(shortcut);
}

QList<Shortcut> systemShortcuts()
{
    return CarbonKeyboardShortcuts::systemShortcuts();
}

void nameCreated(const Name &name)
{
    Library &l = library();
    l.knownNames.insert(name.rawValue, name.defaultShortcut);
    if (name.defaultShortcut && !QSettings().contains(name.settingsKey()))
        setShortcut(name.defaultShortcut, name);
}

void subscribe(EventStream *stream)
{
    library().keyDownSubscribers[stream->name().rawValue].insert(stream->id(), stream);
    library().keyUpSubscribers[stream->name().rawValue].insert(stream->id(), stream);
    registerIfNeeded(stream->name());
}

void unsubscribe(EventStream *stream)
{
    Library &l = library();
    for (Subscribers *subscribers : {&l.keyDownSubscribers, &l.keyUpSubscribers}) {
        auto it = subscribers->find(stream->name().rawValue);
        if (it == subscribers->end())
            continue;
        it->remove(stream->id());
        if (it->isEmpty())
            subscribers->erase(it);
    }
    const auto shortcut = getShortcut(stream->name());
    if (shortcut && !usedByHandlers(*shortcut) && !usedByStreams(*shortcut))
        unregister(*shortcut);
}

} // namespace KeyboardShortcuts
