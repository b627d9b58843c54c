#pragma once

#include "platform/HotKeyService.h"
#include "platform/Platform.h"

#include <QDBusConnection>
#include <QHash>
#include <QMap>
#include <QPointer>
#include <QSet>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

class QDBusMessage;

// Global hot keys through the desktop portal's GlobalShortcuts interface, for Wayland sessions,
// where a grab on the X server sees keys only while an X11 window has the focus.
//
// The portal binds shortcuts to a session of ours: the service opens one (after telling the portal
// who we are, where it has the host registry), binds every registered combination in it as a
// preferred trigger (the desktop has the last word on the keys, and may ask the person), and
// reports the portal's Activated and Deactivated signals as presses and releases. A change of the
// registered combinations closes the session and binds anew in a fresh one; destroying the
// service closes its session. registerHotKey() answers at once; the binding follows on the event
// loop, each step bounded, and bindFinished() tells how it went.
//
// The portal sees no key events of ours, so layoutCharacter(), keyComboFromNative() and
// systemShortcuts() come from `keys`, the display's own hot-key service, when there is one.
class PortalHotKeyService : public HotKeyService {
    Q_OBJECT
public:
    struct Options {
        QDBusConnection bus = QDBusConnection::sessionBus();
        // The shortcut's identifier with the desktop (kept across runs, so the person's choice of
        // keys stays with it) and the description the desktop shows beside it.
        QString shortcutId = QStringLiteral("toggle-dictation");
        QString description = QStringLiteral("开始/结束录音");
        // The application identifier given to the host registry.
        QString appId;
        Platform::PortalTimeouts timeouts;
    };

    PortalHotKeyService(Options options, HotKeyService *keys, QObject *parent = nullptr);
    ~PortalHotKeyService() override;

    // The combination in the portal's trigger syntax (the XDG shortcuts format: modifiers CTRL,
    // ALT, SHIFT, LOGO joined by '+', then the key's keysym name), e.g. "CTRL+ALT+space"; none
    // when the key has no keysym or the function modifier is part of it.
    static std::optional<QString> preferredTrigger(const KeyCombo &combo);

    int registerHotKey(const KeyCombo &combo, quint32 id) override;
    void unregisterHotKey(quint32 id) override;
    std::optional<QString> layoutCharacter(qint64 keyCode) override;
    std::optional<KeyCombo> keyComboFromNative(quint32 nativeKeyCode, quint32 nativeModifiers) override;
    QList<KeyCombo> systemShortcuts() override;
    // Every change of the combinations is a new binding, which the desktop may show the person.
    bool keepsCombosWhileMenuOpen() const override { return true; }

    // The session's object path while one is open; empty otherwise.
    QString session() const { return m_session; }

Q_SIGNALS:
    // A binding of the registered combinations ended: bound in a session (or, with nothing
    // registered, the session closed), or failed (logged with the reason).
    void bindFinished(bool ok);

private Q_SLOTS:
    void onActivated(const QDBusMessage &message);
    void onDeactivated(const QDBusMessage &message);
    void onSessionClosed(const QDBusMessage &message);
    void onShortcutsChanged(const QDBusMessage &message);

private:
    void scheduleBind();
    QCoro::Task<> bindLoop();
    QCoro::Task<bool> bindOnce();
    QCoro::Task<bool> registerWithHost();
    QCoro::Task<std::optional<QString>> createSession();
    QCoro::Task<bool> bindShortcuts(const QString &session);
    void closeSession();
    void releaseHeld();
    std::optional<quint32> idOf(const QDBusMessage &message) const;
    QString portalIdOf(quint32 id) const;
    void connectPortalSignal(const char *name, const char *slot);

    Options m_options;
    QPointer<HotKeyService> m_keys;
    QMap<quint32, KeyCombo> m_hotKeys;      // identifier → combination, as registered
    QHash<QString, quint32> m_bound;        // portal shortcut id → identifier, in the open session
    QSet<quint32> m_held;                   // activated, not deactivated yet
    QString m_session;
    bool m_hostRegistered = false;
    bool m_bindScheduled = false;
    bool m_bindWanted = false;
    bool m_binding = false;
};
