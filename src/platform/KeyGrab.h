#pragma once

#include <QObject>

// One key taken from the whole display for a while, e.g. Escape while a dictation records. While
// grabbed, its presses without modifiers (whatever Caps Lock and Num Lock are) come here and reach
// no other application; once released the key works everywhere as before. The key is named by its
// kVK_ virtual key code, as HotKeyService names keys. While the application holds the whole
// keyboard (a hot key held down), a press with modifiers counts too. Everything runs on the main
// thread.
class KeyGrab : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Takes the key. True when it is held now (also when it already was); false when the display
    // server refuses it (another client holds it) or the key does not exist here.
    virtual bool grab() = 0;
    // Gives the key back; nothing when it is not held.
    virtual void release() = 0;
    virtual bool isGrabbed() const = 0;

Q_SIGNALS:
    // The grabbed key was pressed (once per press, never for auto-repeat).
    void pressed();
};
