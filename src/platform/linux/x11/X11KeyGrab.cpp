#include "platform/linux/x11/X11KeyGrab.h"

#include "platform/linux/x11/X11KeyCodes.h"
#include "platform/linux/x11/XcbConnectionHandle.h"
#include "platform/linux/x11/XcbReply.h"

#include <QCoreApplication>

namespace {
constexpr quint32 numLockKeysym = 0xff7f; // XK_Num_Lock
} // namespace

X11KeyGrab *X11KeyGrab::create(qint64 keyCode, QObject *parent)
{
    const XcbConnectionHandle qtConnection;
    if (!qtConnection.connection() || qtConnection.root() == XCB_NONE)
        return nullptr;
    return new X11KeyGrab(qtConnection.connection(), qtConnection.root(), keyCode, parent);
}

X11KeyGrab::X11KeyGrab(xcb_connection_t *connection, xcb_window_t root, qint64 keyCode, QObject *parent)
    : KeyGrab(parent), m_connection(connection), m_root(root), m_keyCode(keyCode)
{
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11KeyGrab::~X11KeyGrab()
{
    // Once the application is being torn down the connection may be gone; the server then
    // releases the grab itself.
    if (QCoreApplication::instance())
        release();
}

bool X11KeyGrab::grab()
{
    if (m_grabbed)
        return true;
    const xcb_keycode_t keycode = currentKeycode();
    if (!keycode)
        return false;
    const QList<quint16> variants = lockVariants();
    QList<xcb_void_cookie_t> cookies;
    for (quint16 variant : variants)
        cookies.append(xcb_grab_key_checked(m_connection, 0, m_root, variant, keycode, XCB_GRAB_MODE_ASYNC,
                                            XCB_GRAB_MODE_ASYNC));
    bool refused = false;
    QList<quint16> granted;
    for (qsizetype i = 0; i < cookies.size(); ++i) {
        XcbReply<xcb_generic_error_t> error(xcb_request_check(m_connection, cookies[i]));
        if (error)
            refused = true;
        else
            granted.append(variants[i]);
    }
    if (refused) {
        // All or nothing: a key that works only with some lock states would puzzle the user.
        for (quint16 variant : granted)
            xcb_ungrab_key(m_connection, keycode, m_root, variant);
        xcb_flush(m_connection);
        return false;
    }
    m_grabbedKeycode = keycode;
    m_grabbedVariants = variants;
    m_grabbed = true;
    return true;
}

void X11KeyGrab::release()
{
    if (!m_grabbed)
        return;
    for (quint16 variant : std::as_const(m_grabbedVariants))
        xcb_ungrab_key(m_connection, m_grabbedKeycode, m_root, variant);
    xcb_flush(m_connection);
    m_grabbed = false;
    m_grabbedVariants.clear();
}

// A press that activated the passive grab keeps the keyboard with us until the key is released,
// even when the grab is given back meanwhile: its repeats and its release are still ours to consume.
bool X11KeyGrab::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t" || (!m_grabbed && !m_down))
        return false;
    auto *event = static_cast<xcb_generic_event_t *>(message);
    const quint8 type = event->response_type & ~0x80;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    auto *key = reinterpret_cast<xcb_key_press_event_t *>(event);
    if (key->event != m_root || key->detail != m_grabbedKeycode)
        return false;
    if (type == XCB_KEY_RELEASE) {
        m_down = false;
        return true;
    }
    if (m_down)
        return true; // auto-repeat
    // With modifiers held the key reaches the root window only while the keyboard is ours anyway
    // (a hot key held down): it counts then too.
    if (!m_grabbed)
        return false;
    m_down = true;
    Q_EMIT pressed();
    return true;
}

xcb_keycode_t X11KeyGrab::currentKeycode()
{
    const auto keysym = X11KeyCodes::keysymFor(m_keyCode);
    if (!keysym)
        return 0;
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    XcbReply<xcb_get_keyboard_mapping_reply_t> reply(xcb_get_keyboard_mapping_reply(
        m_connection, xcb_get_keyboard_mapping(m_connection, setup->min_keycode, quint8(count)), nullptr));
    if (!reply)
        return 0;
    const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(reply.get());
    const int perKeycode = reply->keysyms_per_keycode;
    // The first column (no modifiers) first, then any other.
    for (int column = 0; column < perKeycode; ++column)
        for (int code = 0; code < count; ++code)
            if (keysyms[code * perKeycode + column] == *keysym)
                return xcb_keycode_t(setup->min_keycode + code);
    return 0;
}

QList<quint16> X11KeyGrab::lockVariants()
{
    quint16 numLock = 0;
    XcbReply<xcb_get_modifier_mapping_reply_t> modifiers(
        xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr));
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    XcbReply<xcb_get_keyboard_mapping_reply_t> mapping(xcb_get_keyboard_mapping_reply(
        m_connection, xcb_get_keyboard_mapping(m_connection, setup->min_keycode, quint8(count)), nullptr));
    if (modifiers && mapping) {
        const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(modifiers.get());
        const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
        const int perModifier = modifiers->keycodes_per_modifier;
        const int perKeycode = mapping->keysyms_per_keycode;
        for (int modifier = 0; modifier < 8 && !numLock; ++modifier) {
            for (int i = 0; i < perModifier && !numLock; ++i) {
                const int code = codes[modifier * perModifier + i] - setup->min_keycode;
                if (code < 0 || code >= count)
                    continue;
                for (int column = 0; column < perKeycode; ++column)
                    if (keysyms[code * perKeycode + column] == numLockKeysym)
                        numLock = quint16(1u << modifier);
            }
        }
    }
    if (!numLock)
        return {0, X11KeyCodes::lockMask};
    return {0, X11KeyCodes::lockMask, numLock, quint16(X11KeyCodes::lockMask | numLock)};
}
