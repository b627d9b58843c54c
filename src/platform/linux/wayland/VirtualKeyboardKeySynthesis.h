#pragma once

#include "platform/KeySynthesis.h"

#include <memory>

struct wl_proxy;
struct xkb_keymap;
class WaylandConnection;

// The paste chord through a virtual keyboard (zwp_virtual_keyboard_v1, offered by wlroots
// compositors). The keyboard carries a keymap of its own, uploaded when it is made, so its key
// codes mean the same whatever layout the user types with. "Trusted" means the compositor let us
// make it.
class VirtualKeyboardKeySynthesis : public KeySynthesis {
public:
    explicit VirtualKeyboardKeySynthesis(std::shared_ptr<WaylandConnection> connection);
    ~VirtualKeyboardKeySynthesis() override;

    bool isTrusted() override;
    void promptForTrust() override;
    // The compositor does not tell a client which physical keys are down; the virtual keyboard's
    // modifier state is its own, so keys the user still holds do not combine with the chord.
    bool nonModifierKeyHeld() override { return false; }
    void sendPasteChord(PasteChord chord) override;

private:
    bool uploadKeymap();
    void key(uint32_t evdevCode, bool pressed);
    void modifiers(uint32_t depressed);

    std::shared_ptr<WaylandConnection> m_connection;
    wl_proxy *m_seat = nullptr;
    wl_proxy *m_manager = nullptr;
    wl_proxy *m_keyboard = nullptr;
    bool m_ready = false;
    // Evdev codes of the keys the chord uses, and the modifier masks, in the uploaded keymap.
    uint32_t m_control = 0;
    uint32_t m_shift = 0;
    uint32_t m_v = 0;
    uint32_t m_controlMask = 0;
    uint32_t m_shiftMask = 0;
};
