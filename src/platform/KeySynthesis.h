#pragma once

#include <qcoro/qcorotask.h>

#include <chrono>

// Synthetic key presses into the focused application, and whether this process may post them.
class KeySynthesis {
public:
    // The paste shortcut of the focused application: Control+V, or Control+Shift+V in terminal
    // emulators, where Control+V types a control character instead.
    enum class PasteChord { standard, terminal };

    // Long enough for a shortcut's release, short enough not to be noticed.
    static constexpr std::chrono::milliseconds heldKeyReleaseWait{500};
    // How often a held key is looked at again while the paste waits for it.
    static constexpr std::chrono::milliseconds heldKeyPoll{5};

    virtual ~KeySynthesis() = default;

    // Whether synthetic key events can be posted, asked quietly.
    virtual bool isTrusted() = 0;
    // Whether posted keys can reach the focused application at all. False where the session gives
    // this process no way to press keys in other applications (a Wayland compositor without any
    // of the protocols for it): text is then left on the clipboard for the user to paste.
    virtual bool reachesFocusedApplication() { return true; }
    // Readies the way keys are sent, awaited before the text goes on the clipboard. Where that
    // takes the desktop's consent (a dialog at the first paste), the answer is awaited here,
    // bounded, and reachesFocusedApplication() tells the outcome afterwards. Most ways need nothing.
    virtual QCoro::Task<> prepare() { co_return; }
    // Asks the system to let the user grant that trust; the answer comes later, if at all.
    virtual void promptForTrust() = 0;
    // Whether a key other than a modifier is physically down (the last key of the user's own
    // shortcut, pressed a moment ago). While it is, the chord may not reach the focused window: the
    // caller waits for it, at most heldKeyReleaseWait, without blocking its thread.
    virtual bool nonModifierKeyHeld() = 0;
    // Posts the chord's key presses and releases at once, so that the focused application sees the
    // chord and no other modifier, whatever modifier keys the user is still holding.
    virtual void sendPasteChord(PasteChord chord) = 0;
};
