#pragma once

#include <memory>

// Synthetic key presses into the focused application, and whether this process may post them.
class KeySynthesis {
public:
    // The paste shortcut of the focused application: Control+V, or Control+Shift+V in terminal
    // emulators, where Control+V types a control character instead.
    enum class PasteChord { standard, terminal };

    virtual ~KeySynthesis() = default;

    // Whether synthetic key events can be posted, asked quietly.
    virtual bool isTrusted() = 0;
    // Asks the system to let the user grant that trust; the answer comes later, if at all.
    virtual void promptForTrust() = 0;
    // Posts the chord's key presses and releases, so that the focused application sees the chord
    // and no other modifier, whatever keys the user is still holding.
    virtual void sendPasteChord(PasteChord chord) = 0;

    // The key synthesis of the platform this build runs on.
    static std::unique_ptr<KeySynthesis> create();
};
