#pragma once

#include "platform/KeyGrab.h"

#include <QAbstractNativeEventFilter>
#include <QList>

#include <xcb/xcb.h>

// A KeyGrab on X11: a passive grab of the key without modifiers on the root window, once for every
// Caps Lock / Num Lock variant, through Qt's own xcb connection (so the presses arrive through
// Qt's event loop, seen by a native event filter). owner_events is false: while the grab is
// active no window, not even one of ours, gets the key. Held presses (auto-repeat) and the key's
// release are consumed without a signal.
class X11KeyGrab : public KeyGrab, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    // nullptr unless the application runs on an X11 display.
    static X11KeyGrab *create(qint64 keyCode, QObject *parent = nullptr);
    ~X11KeyGrab() override;

    bool grab() override;
    void release() override;
    bool isGrabbed() const override { return m_grabbed; }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    X11KeyGrab(xcb_connection_t *connection, xcb_window_t root, qint64 keyCode, QObject *parent);

    // The key code giving the key's symbol in the server's current keyboard mapping; 0 when none.
    xcb_keycode_t currentKeycode();
    // Without modifiers, Caps Lock, Num Lock and both (the modifier Num_Lock is bound to).
    QList<quint16> lockVariants();

    xcb_connection_t *m_connection;
    xcb_window_t m_root;
    qint64 m_keyCode;
    xcb_keycode_t m_grabbedKeycode = 0;
    QList<quint16> m_grabbedVariants;
    bool m_grabbed = false;
    bool m_down = false; // pressed and not yet released, while grabbed
};
