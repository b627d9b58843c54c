#pragma once

#include "platform/HotKeyService.h"

#include <QAbstractNativeEventFilter>
#include <QHash>

#include <chrono>

#include <xcb/xcb.h>

struct xkb_context;
struct xkb_keymap;

// Global hot keys on X11: passive key grabs on the root window through Qt's own xcb connection.
//
// A combination is grabbed once for every Caps Lock / Num Lock variant, so it fires whatever the
// lock keys are, with owner_events false so the press never also reaches a window of ours. A grab
// another client already holds is refused by the server (BadAccess), which is the registration's
// failure. Presses and releases arrive through a native event filter; while a hot key is held
// auto-repeat is detectable (repeated presses without releases), and only the first press is
// reported. Repeats the server sent before it took that setting come as a release and a press
// with the same time stamp: a release is therefore reported repeatPressWait later, and dropped
// with such a press. The release is matched by key code alone, since
// the modifiers may be let go first.
class X11HotKeyService : public HotKeyService, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    // How long a release waits for the press of a repeat that comes with it (sent together with
    // the release; far below a repeat interval and below what a person notices).
    static constexpr std::chrono::milliseconds repeatPressWait{40};

    // nullptr unless the application runs on an X11 display.
    static X11HotKeyService *create(QObject *parent);
    ~X11HotKeyService() override;

    int registerHotKey(const KeyCombo &combo, quint32 id) override;
    void unregisterHotKey(quint32 id) override;
    std::optional<QString> layoutCharacter(qint64 keyCode) override;
    std::optional<KeyCombo> keyComboFromNative(quint32 nativeKeyCode, quint32 nativeModifiers) override;
    QList<KeyCombo> systemShortcuts() override;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    struct Grab {
        xcb_keycode_t keycode = 0;
        quint16 modifiers = 0;
    };

    X11HotKeyService(xcb_connection_t *connection, xcb_window_t root, QObject *parent);

    QList<quint16> lockVariants();
    quint16 numLockMask();
    xkb_keymap *keymap();
    quint32 currentLayout();
    xcb_keycode_t keycodeFor(quint32 keysym);
    void forgetKeymap();
    void releaseAllGrabs();
    void setDetectableAutoRepeat(bool on);
    void reportRelease(xcb_keycode_t keycode, xcb_timestamp_t time);

    xcb_connection_t *m_connection;
    xcb_window_t m_root;
    xkb_context *m_xkbContext = nullptr;
    xkb_keymap *m_keymap = nullptr;
    qint32 m_keyboardDevice = -1;
    quint8 m_xkbEventBase = 0;
    bool m_detectableAutoRepeat = false;
    QHash<quint32, Grab> m_grabs;           // hot-key identifier → grab
    QHash<xcb_keycode_t, quint32> m_held;   // key code → identifier, from press to release
    struct PendingRelease {
        xcb_keycode_t keycode = 0;
        xcb_timestamp_t time = 0;
        bool operator==(const PendingRelease &) const = default;
    };
    QList<PendingRelease> m_pendingReleases; // seen, not yet reported
};
