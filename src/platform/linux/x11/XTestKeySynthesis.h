#pragma once

#include "platform/KeySynthesis.h"
#include "platform/linux/x11/XcbConnectionHandle.h"

#include <QByteArray>
#include <QList>

#include <chrono>

#include <xcb/xcb_keysyms.h>

// Synthetic keys through the X server's XTEST extension. "Trusted" means the X display is
// reachable and offers XTEST: X11 has no per-application permission for synthetic input, so there
// is nothing to prompt for.
class XTestKeySynthesis : public KeySynthesis {
public:
    // Without a display name, on Qt's own X connection (none when the application does not run on X11).
    explicit XTestKeySynthesis(const QByteArray &displayName = {});

    bool isTrusted() override;
    void promptForTrust() override;
    // The server combines synthetic key presses with the modifiers the user still holds (say Alt
    // and Shift of the dictation shortcut), and Control+Alt+V pastes nothing. So the held modifier
    // keys are released first and pressed again after the chord, which then arrives alone.
    //
    void sendPasteChord(PasteChord chord) override;
    // A key other than a modifier that is still down (the last key of a global shortcut, pressed
    // a moment ago) keeps that shortcut's passive grab active, and while it is active the server
    // hands every key event, the chord's too, to the grabbing client instead of the focused window.
    bool nonModifierKeyHeld() override;

private:
    static QList<xcb_keycode_t> heldModifierKeys(xcb_key_symbols_t *symbols, const xcb_query_keymap_reply_t &keymap,
                                                 const xcb_get_modifier_mapping_reply_t &modifiers);
    void fakeKey(uint8_t type, xcb_keycode_t keycode);

    XcbConnectionHandle m_x;
};
