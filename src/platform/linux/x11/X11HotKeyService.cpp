#include "platform/linux/x11/X11HotKeyService.h"

#include "app/AppLogger.h"
#include "core/TimingPoint.h"
#include "platform/linux/x11/GnomeKeyBindings.h"
#include "platform/linux/x11/X11KeyCodes.h"
#include "platform/linux/x11/XcbConnectionHandle.h"
#include "platform/linux/x11/XcbReply.h"

#include <QCoreApplication>
#include <QTimer>

// xkb.h names a structure member `explicit`, a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>


X11HotKeyService *X11HotKeyService::create(QObject *parent)
{
    const XcbConnectionHandle qtConnection; // Qt's own: key events then arrive through Qt's event loop
    if (!qtConnection.connection() || qtConnection.root() == XCB_NONE)
        return nullptr;
    return new X11HotKeyService(qtConnection.connection(), qtConnection.root(), parent);
}

X11HotKeyService::X11HotKeyService(xcb_connection_t *connection, xcb_window_t root, QObject *parent)
    : HotKeyService(parent), m_connection(connection), m_root(root)
{
    quint16 major = 0, minor = 0;
    quint8 errorBase = 0;
    if (xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, &major, &minor, &m_xkbEventBase,
                                    &errorBase)) {
        m_keyboardDevice = xkb_x11_get_core_keyboard_device_id(connection);
    } else {
        qCCritical(AppLogger::hotkey, "the X server offers no XKB extension");
    }
    m_xkbContext = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11HotKeyService::~X11HotKeyService()
{
    // Once the application is being torn down the connection may be gone; the server then
    // releases the grabs itself.
    if (QCoreApplication::instance()) {
        releaseAllGrabs();
        setDetectableAutoRepeat(false);
    }
    forgetKeymap();
    xkb_context_unref(m_xkbContext);
}

void X11HotKeyService::releaseAllGrabs()
{
    for (const Grab &grab : std::as_const(m_grabs))
        for (quint16 variant : lockVariants())
            xcb_ungrab_key(m_connection, grab.keycode, m_root, grab.modifiers | variant);
    m_grabs.clear();
    m_held.clear();
    xcb_flush(m_connection);
}

int X11HotKeyService::registerHotKey(const KeyCombo &combo, quint32 id)
{
    if (combo.carbonModifiers & HotKeyService::functionKey)
        return statusNotRepresentable;
    const auto keysym = X11KeyCodes::keysymFor(combo.keyCode);
    const xcb_keycode_t keycode = keysym ? keycodeFor(*keysym) : 0;
    if (!keycode)
        return statusNotRepresentable;
    const quint16 modifiers = X11KeyCodes::xModifiers(combo.carbonModifiers);

    const QList<quint16> variants = lockVariants();
    QList<xcb_void_cookie_t> cookies;
    for (quint16 variant : variants)
        cookies.append(xcb_grab_key_checked(m_connection, 0, m_root, modifiers | variant, keycode,
                                            XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    int status = statusOk;
    QList<quint16> granted;
    for (qsizetype i = 0; i < cookies.size(); ++i) {
        XcbReply<xcb_generic_error_t> error(xcb_request_check(m_connection, cookies[i]));
        if (error && status == statusOk)
            status = error->error_code;
        else if (!error)
            granted.append(variants[i]);
    }
    if (status != statusOk) {
        for (quint16 variant : granted)
            xcb_ungrab_key(m_connection, keycode, m_root, modifiers | variant);
        xcb_flush(m_connection);
        return status;
    }
    m_grabs.insert(id, Grab{keycode, modifiers});
    return statusOk;
}

void X11HotKeyService::unregisterHotKey(quint32 id)
{
    const auto it = m_grabs.constFind(id);
    if (it == m_grabs.constEnd())
        return;
    for (quint16 variant : lockVariants())
        xcb_ungrab_key(m_connection, it->keycode, m_root, it->modifiers | variant);
    xcb_flush(m_connection);
    for (auto held = m_held.begin(); held != m_held.end();)
        held = held.value() == id ? m_held.erase(held) : std::next(held);
    m_grabs.erase(it);
    if (m_held.isEmpty())
        setDetectableAutoRepeat(false);
}

std::optional<QString> X11HotKeyService::layoutCharacter(qint64 keyCode)
{
    const auto keysym = X11KeyCodes::keysymFor(keyCode);
    const xcb_keycode_t keycode = keysym ? keycodeFor(*keysym) : 0;
    xkb_keymap *map = keymap();
    if (!keycode || !map)
        return std::nullopt;
    const xkb_keysym_t *syms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(map, keycode, currentLayout(), 0, &syms) != 1)
        return std::nullopt;
    const char32_t character = xkb_keysym_to_utf32(syms[0]);
    if (character == 0 || !QChar::isPrint(character) || QChar::isSpace(character))
        return std::nullopt; // dead keys and keys without a printable character
    return QString::fromUcs4(&character, 1);
}

std::optional<HotKeyService::KeyCombo> X11HotKeyService::keyComboFromNative(quint32 nativeKeyCode,
                                                                           quint32 nativeModifiers)
{
    xkb_keymap *map = keymap();
    if (!map)
        return std::nullopt;
    const quint32 layout = currentLayout();
    const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(map, nativeKeyCode, layout);
    for (xkb_level_index_t level = 0; level < levels; ++level) {
        const xkb_keysym_t *syms = nullptr;
        const int count = xkb_keymap_key_get_syms_by_level(map, nativeKeyCode, layout, level, &syms);
        for (int i = 0; i < count; ++i)
            if (const auto keyCode = X11KeyCodes::keyCodeFor(syms[i]))
                return KeyCombo{*keyCode, X11KeyCodes::carbonModifiers(nativeModifiers)};
    }
    return std::nullopt;
}

QList<HotKeyService::KeyCombo> X11HotKeyService::systemShortcuts()
{
    return GnomeKeyBindings::reservedShortcuts();
}

bool X11HotKeyService::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    auto *event = static_cast<xcb_generic_event_t *>(message);
    const quint8 type = event->response_type & ~0x80;
    if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
        auto *key = reinterpret_cast<xcb_key_press_event_t *>(event);
        if (key->event != m_root)
            return false;
        if (type == XCB_KEY_RELEASE) {
            if (!m_held.contains(key->detail))
                return false;
            // Reported a moment later: a repeat's press comes right behind its release.
            m_pendingReleases.append(PendingRelease{key->detail, key->time});
            QTimer::singleShot(repeatPressWait, this,
                               [this, keycode = key->detail, time = key->time] { reportRelease(keycode, time); });
            return true;
        }
        if (m_pendingReleases.removeOne(PendingRelease{key->detail, key->time}))
            return true; // a repeat told by its release and press of one instant
        // Pressed again at another instant: the pending release was a real one.
        const QList<PendingRelease> pending = m_pendingReleases;
        for (const PendingRelease &release : pending)
            if (release.keycode == key->detail)
                reportRelease(release.keycode, release.time);
        if (m_held.contains(key->detail))
            return true; // auto-repeat of a held hot key
        const quint16 modifiers = key->state & (X11KeyCodes::shiftMask | X11KeyCodes::controlMask
                                                | X11KeyCodes::mod1Mask | X11KeyCodes::mod4Mask);
        for (auto it = m_grabs.cbegin(); it != m_grabs.cend(); ++it) {
            if (it->keycode == key->detail && it->modifiers == modifiers) {
                const quint32 id = it.key();
                m_held.insert(key->detail, id);
                setDetectableAutoRepeat(true);
                TimingPoint::mark(AppLogger::hotkey, "shortcut_event");
                Q_EMIT hotKeyPressed(id);
                return true;
            }
        }
        return false;
    }
    if (type == XCB_MAPPING_NOTIFY) {
        forgetKeymap();
    } else if (m_xkbEventBase && type == m_xkbEventBase) {
        const quint8 xkbType = reinterpret_cast<const quint8 *>(event)[1];
        if (xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY)
            forgetKeymap();
    }
    return false;
}

void X11HotKeyService::reportRelease(xcb_keycode_t keycode, xcb_timestamp_t time)
{
    if (!m_pendingReleases.removeOne(PendingRelease{keycode, time}))
        return; // a repeat after all
    const auto held = m_held.constFind(keycode);
    if (held == m_held.constEnd())
        return; // unregistered meanwhile
    const quint32 id = held.value();
    m_held.erase(held);
    if (m_held.isEmpty())
        setDetectableAutoRepeat(false);
    Q_EMIT hotKeyReleased(id);
}

QList<quint16> X11HotKeyService::lockVariants()
{
    const quint16 numLock = numLockMask();
    if (!numLock)
        return {0, X11KeyCodes::lockMask};
    return {0, X11KeyCodes::lockMask, numLock, quint16(X11KeyCodes::lockMask | numLock)};
}

// The modifier Num_Lock is bound to (Mod2 on nearly every keyboard).
quint16 X11HotKeyService::numLockMask()
{
    const xcb_keycode_t numLockKey = keycodeFor(XKB_KEY_Num_Lock);
    if (!numLockKey)
        return 0;
    XcbReply<xcb_get_modifier_mapping_reply_t> reply(
        xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr));
    if (!reply)
        return 0;
    const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(reply.get());
    const int perModifier = reply->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier)
        for (int i = 0; i < perModifier; ++i)
            if (codes[modifier * perModifier + i] == numLockKey)
                return quint16(1u << modifier);
    return 0;
}

xkb_keymap *X11HotKeyService::keymap()
{
    if (!m_keymap && m_xkbContext && m_keyboardDevice >= 0) {
        m_keymap = xkb_x11_keymap_new_from_device(m_xkbContext, m_connection, m_keyboardDevice,
                                                  XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (!m_keymap)
            qCCritical(AppLogger::hotkey, "could not read the keyboard layout");
    }
    return m_keymap;
}

quint32 X11HotKeyService::currentLayout()
{
    XcbReply<xcb_xkb_get_state_reply_t> reply(xcb_xkb_get_state_reply(
        m_connection, xcb_xkb_get_state(m_connection, XCB_XKB_ID_USE_CORE_KBD), nullptr));
    return reply ? reply->group : 0;
}

// The key code giving the keysym: level 1 of the current layout first, then any level or layout.
xcb_keycode_t X11HotKeyService::keycodeFor(quint32 keysym)
{
    xkb_keymap *map = keymap();
    if (!map)
        return 0;
    const quint32 current = currentLayout();
    const xkb_keycode_t min = xkb_keymap_min_keycode(map), max = xkb_keymap_max_keycode(map);
    for (int pass = 0; pass < 2; ++pass) {
        for (xkb_keycode_t code = min; code <= max && code <= 255; ++code) {
            const xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(map, code);
            for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
                if (pass == 0 && layout != current)
                    continue;
                const xkb_level_index_t levels = pass == 0 ? 1 : xkb_keymap_num_levels_for_key(map, code, layout);
                for (xkb_level_index_t level = 0; level < levels; ++level) {
                    const xkb_keysym_t *syms = nullptr;
                    const int count = xkb_keymap_key_get_syms_by_level(map, code, layout, level, &syms);
                    for (int i = 0; i < count; ++i)
                        if (syms[i] == keysym)
                            return xcb_keycode_t(code);
                }
            }
        }
    }
    return 0;
}

// While a hot key is held the keyboard is ours (the passive grab turned active), so no window of
// the application sees keys meanwhile. Only then is auto-repeat made detectable: the server then
// repeats presses without the releases in between. The rest of the time Qt's own auto-repeat
// detection, which expects release/press pairs, stays as it is.
void X11HotKeyService::setDetectableAutoRepeat(bool on)
{
    if (m_detectableAutoRepeat == on || !m_xkbEventBase)
        return;
    m_detectableAutoRepeat = on;
    const quint32 flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
    const auto cookie = xcb_xkb_per_client_flags(m_connection, XCB_XKB_ID_USE_CORE_KBD, flag, on ? flag : 0, 0, 0, 0);
    xcb_discard_reply(m_connection, cookie.sequence);
    xcb_flush(m_connection);
}

void X11HotKeyService::forgetKeymap()
{
    xkb_keymap_unref(m_keymap);
    m_keymap = nullptr;
}
