#pragma once

#include "platform/KeySynthesis.h"

// The stand-in where the Wayland session offers no way to press keys in other applications:
// XTEST would reach only XWayland's windows, and nothing tells whether one of them has the focus,
// so no key is sent at all and the text stays on the clipboard. Nothing to grant: "trusted".
class ClipboardOnlyKeySynthesis : public KeySynthesis {
public:
    bool isTrusted() override { return true; }
    void promptForTrust() override {}
    bool reachesFocusedApplication() override { return false; }
    bool nonModifierKeyHeld() override { return false; }
    void sendPasteChord(PasteChord) override {}
};
