#pragma once

#include "platform/KeySynthesis.h"

#include <memory>

struct wl_proxy;
class WaylandConnection;

// The paste chord through KWin's fake input (org_kde_kwin_fake_input, version 4 for keys). KWin
// offers it only to programs whose installed desktop entry declares the interface in
// X-KDE-Wayland-Interfaces; "trusted" means it was offered. The keys are evdev codes that KWin
// reads through the user's current layout, so V is the key where a US layout has it.
class FakeInputKeySynthesis : public KeySynthesis {
public:
    explicit FakeInputKeySynthesis(std::shared_ptr<WaylandConnection> connection);
    ~FakeInputKeySynthesis() override;

    bool isTrusted() override;
    void promptForTrust() override;
    // KWin combines fake keys with held physical modifiers, but does not tell a client which keys
    // are down: there is nothing to wait for here.
    bool nonModifierKeyHeld() override { return false; }
    void sendPasteChord(PasteChord chord) override;

private:
    void key(uint32_t evdevCode, bool pressed);

    std::shared_ptr<WaylandConnection> m_connection;
    wl_proxy *m_fakeInput = nullptr;
};
