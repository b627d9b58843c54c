#include "platform/linux/x11/XTestKeySynthesis.h"
#include "platform/linux/x11/XcbReply.h"

#include "app/AppLogger.h"

#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <iterator>
#include <memory>

namespace {

struct KeySymbolsDeleter {
    void operator()(xcb_key_symbols_t *symbols) const { xcb_key_symbols_free(symbols); }
};

// The first key code that produces the keysym in the current keyboard mapping, 0 when none does.
xcb_keycode_t keycodeFor(xcb_key_symbols_t *symbols, xcb_keysym_t keysym)
{
    XcbReply<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols, keysym));
    return codes ? codes.get()[0] : 0;
}

bool isLockKey(xcb_keysym_t keysym)
{
    return keysym == XK_Caps_Lock || keysym == XK_Shift_Lock || keysym == XK_Num_Lock || keysym == XK_Scroll_Lock;
}

} // namespace

XTestKeySynthesis::XTestKeySynthesis(const QByteArray &displayName) : m_x(displayName) {}

bool XTestKeySynthesis::isTrusted()
{
    xcb_connection_t *c = m_x.connection();
    if (!c)
        return false;
    const xcb_query_extension_reply_t *xtest = xcb_get_extension_data(c, &xcb_test_id);
    return xtest && xtest->present;
}

void XTestKeySynthesis::promptForTrust()
{
    // Nothing to ask on X11: either the display offers XTEST or no one can grant it.
}

QList<xcb_keycode_t> XTestKeySynthesis::heldModifierKeys(xcb_key_symbols_t *symbols, const xcb_query_keymap_reply_t &keymap,
                                                         const xcb_get_modifier_mapping_reply_t &modifiers)
{
    QList<xcb_keycode_t> held;
    const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(&modifiers);
    const int perModifier = modifiers.keycodes_per_modifier;
    // Rows: Shift, Lock, Control, Mod1..Mod5. Lock keys toggle on every press, so they are never
    // released and pressed again, nor is anything on the Lock row.
    for (int row = 0; row < 8; ++row) {
        if (row == XCB_MAP_INDEX_LOCK)
            continue;
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t code = codes[row * perModifier + i];
            if (code == 0 || held.contains(code))
                continue;
            const bool down = keymap.keys[code / 8] & (1 << (code % 8));
            if (down && !isLockKey(xcb_key_symbols_get_keysym(symbols, code, 0)))
                held.append(code);
        }
    }
    return held;
}

bool XTestKeySynthesis::nonModifierKeyHeld()
{
    xcb_connection_t *c = m_x.connection();
    if (!c)
        return false;
    // Both questions go out before either answer is awaited: one round trip.
    const xcb_query_keymap_cookie_t keymapAsked = xcb_query_keymap(c);
    const xcb_get_modifier_mapping_cookie_t modifiersAsked = xcb_get_modifier_mapping(c);
    XcbReply<xcb_query_keymap_reply_t> keymap(xcb_query_keymap_reply(c, keymapAsked, nullptr));
    XcbReply<xcb_get_modifier_mapping_reply_t> modifiers(xcb_get_modifier_mapping_reply(c, modifiersAsked, nullptr));
    if (!keymap || !modifiers)
        return false;
    uint8_t down[32];
    std::copy(std::begin(keymap->keys), std::end(keymap->keys), down);
    const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(modifiers.get());
    for (int i = 0; i < 8 * modifiers->keycodes_per_modifier; ++i)
        down[codes[i] / 8] &= uint8_t(~(1 << (codes[i] % 8)));
    return std::any_of(std::begin(down), std::end(down), [](uint8_t bits) { return bits != 0; });
}

void XTestKeySynthesis::fakeKey(uint8_t type, xcb_keycode_t keycode)
{
    xcb_test_fake_input(m_x.connection(), type, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

void XTestKeySynthesis::sendPasteChord(PasteChord chord)
{
    if (!isTrusted()) {
        qCCritical(AppLogger::injection, "paste keystroke not sent: no X display with XTEST");
        return;
    }
    xcb_connection_t *c = m_x.connection();
    // The keyboard map (asked for by the allocation), the keys down and the modifier map: all three
    // questions go out before the first answer is awaited, one round trip in all.
    const std::unique_ptr<xcb_key_symbols_t, KeySymbolsDeleter> symbols(xcb_key_symbols_alloc(c));
    const xcb_query_keymap_cookie_t keymapAsked = xcb_query_keymap(c);
    const xcb_get_modifier_mapping_cookie_t modifiersAsked = xcb_get_modifier_mapping(c);
    XcbReply<xcb_query_keymap_reply_t> keymap(xcb_query_keymap_reply(c, keymapAsked, nullptr));
    XcbReply<xcb_get_modifier_mapping_reply_t> modifiers(xcb_get_modifier_mapping_reply(c, modifiersAsked, nullptr));
    if (!symbols)
        return;

    const xcb_keycode_t control = keycodeFor(symbols.get(), XK_Control_L);
    const xcb_keycode_t shift = keycodeFor(symbols.get(), XK_Shift_L);
    const xcb_keycode_t v = keycodeFor(symbols.get(), XK_v);
    const bool terminal = chord == PasteChord::terminal;
    if (!control || !v || (terminal && !shift)) {
        qCCritical(AppLogger::injection, "paste keystroke not sent: the keyboard map has no Control or V key");
        return;
    }

    const QList<xcb_keycode_t> held =
        keymap && modifiers ? heldModifierKeys(symbols.get(), *keymap, *modifiers) : QList<xcb_keycode_t>();
    if (!held.isEmpty())
        qCDebug(AppLogger::injection, "releasing %lld held modifier keys around the paste chord",
                static_cast<long long>(held.size()));
    for (xcb_keycode_t code : held)
        fakeKey(XCB_KEY_RELEASE, code);

    fakeKey(XCB_KEY_PRESS, control);
    if (terminal)
        fakeKey(XCB_KEY_PRESS, shift);
    fakeKey(XCB_KEY_PRESS, v);
    fakeKey(XCB_KEY_RELEASE, v);
    if (terminal)
        fakeKey(XCB_KEY_RELEASE, shift);
    fakeKey(XCB_KEY_RELEASE, control);

    for (xcb_keycode_t code : held)
        fakeKey(XCB_KEY_PRESS, code);

    // Sent, not waited for: the server handles a connection's requests in order, so whatever goes
    // over this connection next (on Qt's own, the clipboard's restore too) comes after the chord.
    xcb_flush(c);
}
