#include "shortcuts/CarbonKeyboardShortcuts.h"

#include "platform/Platform.h"
#include "shortcuts/ModifierFlags.h"
#include "shortcuts/SpecialKeys.h"

#include <QCoreApplication>
#include <QHash>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <utility>

namespace KeyboardShortcuts {

namespace {
enum class Delivery { nothing, hotKeys, menuKeys };

struct State {
    QPointer<HotKeyService> service;
    bool serviceChosen = false;
    std::map<quint32, HotKey> table; // ordered by identifier: "the first hot key" is the oldest
    quint32 counter = 0;
    bool handlerInstalled = false;
    QMetaObject::Connection pressedConnection, releasedConnection; // of the installed handler
    bool enabled = true;
    bool menuOpen = false;
    Delivery delivery = Delivery::nothing;
    QHash<quint32, quint32> heldInMenu; // native key code → hot-key identifier, while pressed in a menu
    // The release of a key held in a menu, delivered only after menuRepeatGrace: the X server sends
    // a held key's repeats as a release and a press with the same time, and when the two are read
    // apart Qt takes them for a real release and a real press.
    struct HeldBackRelease {
        quint32 nativeKey = 0;
        quint32 id = 0;
        quint64 timestamp = 0;
    };
    std::optional<HeldBackRelease> heldBackRelease;
    quint64 releaseGeneration = 0;
};

State &state()
{
    static State s;
    return s;
}

constexpr qint64 maxPlatformValue = 4294967295LL;
// How long a release in a menu waits for the press of a repeat that would take it back.
constexpr std::chrono::milliseconds menuRepeatGrace{50};
// The identifier of a trial registration: the counter gives out identifiers from 1.
constexpr quint32 trialId = 0;

// The Carbon bit a modifier key itself stands for (left and right keys alike); 0 for other keys.
qint64 modifierOfKey(qint64 keyCode)
{
    switch (keyCode) {
    case 0x3B: case 0x3E: return ModifierFlags::controlKey;
    case 0x3A: case 0x3D: return ModifierFlags::optionKey;
    case 0x38: case 0x3C: return ModifierFlags::shiftKey;
    case 0x37: case 0x36: return ModifierFlags::cmdKey;
    default: return 0;
    }
}

bool representable(const Shortcut &shortcut)
{
    return shortcut.carbonKeyCode >= 0 && shortcut.carbonKeyCode <= maxPlatformValue
        && shortcut.carbonModifiers >= 0 && shortcut.carbonModifiers <= maxPlatformValue;
}

void reportFailure(const Shortcut &shortcut, int status)
{
    std::fprintf(stdout, "Error registering hotkey %s: %d\n", shortcut.description().toUtf8().constData(), status);
    std::fflush(stdout);
}

int registerWithService(const Shortcut &shortcut, quint32 id)
{
    HotKeyService *service = CarbonKeyboardShortcuts::service();
    if (!service)
        return HotKeyService::statusNoDisplay;
    if (!representable(shortcut))
        return HotKeyService::statusNotRepresentable;
    return service->registerHotKey({shortcut.carbonKeyCode, shortcut.carbonModifiers}, id);
}

void release(HotKey &hotKey)
{
    if (!hotKey.registered)
        return;
    hotKey.registered = false;
    if (HotKeyService *service = state().service)
        service->unregisterHotKey(hotKey.carbonHotKeyId);
}

// Runs a callback of a table entry. The callback may change the table, so it runs on copies.
void deliver(quint32 id, bool down)
{
    const auto it = state().table.find(id);
    if (it == state().table.end())
        return;
    const Shortcut shortcut = it->second.shortcut;
    const HotKey::Callback callback = down ? it->second.onKeyDown : it->second.onKeyUp;
    if (callback)
        callback(shortcut);
}

void deliverHeldBackRelease()
{
    State &s = state();
    const std::optional<State::HeldBackRelease> release = std::exchange(s.heldBackRelease, std::nullopt);
    if (!release)
        return;
    s.heldInMenu.remove(release->nativeKey);
    deliver(release->id, false);
}

void onHotKeyEvent(quint32 id, bool down)
{
    if (state().delivery != Delivery::hotKeys)
        return;
    deliver(id, down);
}

void installHandler(HotKeyService *service)
{
    State &s = state();
    s.pressedConnection = QObject::connect(service, &HotKeyService::hotKeyPressed, service,
                                           [](quint32 id) { onHotKeyEvent(id, true); });
    s.releasedConnection = QObject::connect(service, &HotKeyService::hotKeyReleased, service,
                                            [](quint32 id) { onHotKeyEvent(id, false); });
    s.handlerInstalled = true;
}
} // namespace

void CarbonKeyboardShortcuts::setService(HotKeyService *service)
{
    State &s = state();
    // The next registration installs the handler on this one.
    QObject::disconnect(s.pressedConnection);
    QObject::disconnect(s.releasedConnection);
    s.handlerInstalled = false;
    s.service = service;
    s.serviceChosen = true;
}

void CarbonKeyboardShortcuts::moveToService(HotKeyService *service)
{
    State &s = state();
    unregisterAll();
    QObject::disconnect(s.pressedConnection);
    QObject::disconnect(s.releasedConnection);
    s.service = service;
    s.serviceChosen = true;
    s.handlerInstalled = false;
    if (service && !s.table.empty()) {
        installHandler(service);
        updateEventHandler();
    }
}

HotKeyService *CarbonKeyboardShortcuts::service()
{
    State &s = state();
    if (!s.serviceChosen && QCoreApplication::instance()) {
        s.serviceChosen = true;
        s.service = Platform::hotKeyService(QCoreApplication::instance());
    }
    return s.service;
}

void CarbonKeyboardShortcuts::registerShortcut(const Shortcut &shortcut, HotKey::Callback onKeyDown,
                                               HotKey::Callback onKeyUp)
{
    State &s = state();
    const quint32 id = ++s.counter;
    const int status = registerWithService(shortcut, id);
    if (status != HotKeyService::statusOk) {
        reportFailure(shortcut, status);
        return;
    }
    s.table.emplace(id, HotKey{shortcut, id, true, std::move(onKeyDown), std::move(onKeyUp)});
    if (!s.handlerInstalled && s.service) {
        installHandler(s.service);
        updateEventHandler();
    }
}

void CarbonKeyboardShortcuts::unregisterShortcut(const Shortcut &shortcut)
{
    State &s = state();
    for (auto it = s.table.begin(); it != s.table.end();) {
        if (it->second.shortcut == shortcut) {
            release(it->second);
            const quint32 id = it->first;
            for (auto held = s.heldInMenu.begin(); held != s.heldInMenu.end();)
                held = held.value() == id ? s.heldInMenu.erase(held) : std::next(held);
            it = s.table.erase(it);
        } else {
            ++it;
        }
    }
}

bool CarbonKeyboardShortcuts::canRegister(const Shortcut &shortcut)
{
    for (const auto &[id, hotKey] : state().table)
        if (hotKey.registered && hotKey.shortcut == shortcut)
            return true; // a trial would release our own grab
    if (registerWithService(shortcut, trialId) != HotKeyService::statusOk)
        return false;
    if (HotKeyService *service = state().service)
        service->unregisterHotKey(trialId);
    return true;
}

void CarbonKeyboardShortcuts::registerAll()
{
    State &s = state();
    for (auto it = s.table.begin(); it != s.table.end();) {
        HotKey &hotKey = it->second;
        if (hotKey.registered) {
            ++it;
            continue;
        }
        const int status = registerWithService(hotKey.shortcut, hotKey.carbonHotKeyId);
        if (status == HotKeyService::statusOk) {
            hotKey.registered = true;
            ++it;
        } else {
            reportFailure(hotKey.shortcut, status);
            it = s.table.erase(it);
        }
    }
}

void CarbonKeyboardShortcuts::unregisterAll()
{
    for (auto &[id, hotKey] : state().table)
        release(hotKey);
}

void CarbonKeyboardShortcuts::updateEventHandler()
{
    State &s = state();
    if (!s.handlerInstalled)
        return;
    s.heldInMenu.clear();
    if (!s.enabled) {
        unregisterAll();
        s.delivery = Delivery::nothing;
    } else if (!s.menuOpen) {
        registerAll();
        s.delivery = Delivery::hotKeys;
    } else {
        if (!s.service || !s.service->keepsCombosWhileMenuOpen())
            unregisterAll();
        s.delivery = Delivery::menuKeys;
    }
}

bool CarbonKeyboardShortcuts::isEnabled()
{
    return state().enabled;
}

void CarbonKeyboardShortcuts::setEnabled(bool enabled)
{
    if (state().enabled == enabled)
        return;
    state().enabled = enabled;
    updateEventHandler();
}

bool CarbonKeyboardShortcuts::isMenuOpen()
{
    return state().menuOpen;
}

void CarbonKeyboardShortcuts::setMenuOpen(bool open)
{
    if (state().menuOpen == open)
        return;
    state().menuOpen = open;
    updateEventHandler();
}

bool CarbonKeyboardShortcuts::handleMenuKeyEvent(const QKeyEvent &event)
{
    State &s = state();
    if (s.delivery != Delivery::menuKeys)
        return false;
    const quint32 nativeKey = event.nativeScanCode();
    if (event.type() == QEvent::KeyRelease) {
        if (event.isAutoRepeat())
            return s.heldInMenu.contains(nativeKey);
        const auto held = s.heldInMenu.constFind(nativeKey);
        if (held == s.heldInMenu.constEnd())
            return false;
        s.heldBackRelease = State::HeldBackRelease{nativeKey, held.value(), event.timestamp()};
        const quint64 generation = ++s.releaseGeneration;
        QTimer::singleShot(menuRepeatGrace, [generation] {
            if (state().releaseGeneration == generation)
                deliverHeldBackRelease();
        });
        return true;
    }
    if (event.type() != QEvent::KeyPress)
        return false;
    if (s.heldBackRelease && s.heldBackRelease->nativeKey == nativeKey) {
        if (s.heldBackRelease->timestamp == event.timestamp()) {
            // A repeat after all: the key is still held, and this press is not a new one.
            s.heldBackRelease.reset();
            ++s.releaseGeneration;
            return true;
        }
        deliverHeldBackRelease(); // released and pressed again: both count
    }
    if (s.heldInMenu.contains(nativeKey))
        return true; // the key repeats while held: one press only
    if (event.isAutoRepeat())
        return false; // held since before the menu opened
    const auto combo = keyComboOf(event);
    if (!combo)
        return false;
    const qint64 modifiers = ModifierFlags::normalizedCarbon(combo->carbonModifiers);
    for (const auto &[id, hotKey] : s.table) {
        if (hotKey.shortcut.carbonKeyCode == combo->keyCode && hotKey.shortcut.carbonModifiers == modifiers) {
            s.heldInMenu.insert(nativeKey, id);
            deliver(id, true);
            return true;
        }
    }
    // A modifier on its way to a hot key: the menu must not act on it (Alt alone closes a menu),
    // or the key that completes the hot key would arrive after the menu is gone.
    if (const qint64 modifier = modifierOfKey(combo->keyCode))
        for (const auto &[id, hotKey] : s.table)
            if (hotKey.shortcut.carbonModifiers & modifier)
                return true;
    return false;
}

std::optional<QString> CarbonKeyboardShortcuts::keyToCharacter(qint64 keyCode)
{
    if (SpecialKeys::forKeyCode(keyCode) || keyCode < 0 || keyCode > 0xFFFF)
        return std::nullopt;
    HotKeyService *s = service();
    return s ? s->layoutCharacter(keyCode) : std::nullopt;
}

std::optional<HotKeyService::KeyCombo> CarbonKeyboardShortcuts::keyComboOf(const QKeyEvent &event)
{
    HotKeyService *s = service();
    if (!s)
        return std::nullopt;
    return s->keyComboFromNative(event.nativeScanCode(), event.nativeModifiers());
}

QList<Shortcut> CarbonKeyboardShortcuts::systemShortcuts()
{
    QList<Shortcut> result;
    if (HotKeyService *s = service())
        for (const HotKeyService::KeyCombo &combo : s->systemShortcuts())
            result.append(Shortcut(combo.keyCode, ModifierFlags::normalizedCarbon(combo.carbonModifiers)));
    return result;
}

} // namespace KeyboardShortcuts
