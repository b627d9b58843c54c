#pragma once

#include "platform/Platform.h"
#include "platform/linux/portal/PortalRequest.h"

#include <QDBusConnection>
#include <QObject>
#include <QList>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>
#include <utility>

class QDBusMessage;
class SecretStore;

// A session of the desktop portal's RemoteDesktop interface with keyboard access only, through
// which key presses reach whichever window has the focus (GNOME under Wayland offers no other way
// to a client). start() asks the desktop once: CreateSession, SelectDevices (keyboard; where the
// portal's version offers it, persistence until revoked and the restore token kept from an earlier
// run), Start, which shows the desktop's dialog unless the token spares it. The token the portal
// hands back goes into the secret store, never anywhere else. Where a user of the session asked
// for the clipboard too (requestClipboardAccess()) and the portal has its Clipboard interface, the
// session asks for clipboard access before it starts, in the same dialog. Every call and every
// wait is bounded; destroying the object closes the session.
class RemoteDesktopSession : public QObject {
    Q_OBJECT
public:
    // How start() ended.
    enum class Outcome {
        started,
        // The person declined the dialog, or the desktop refused keyboard access.
        refused,
        // No RemoteDesktop portal, a call failed or no answer came in time.
        failed,
    };
    Q_ENUM(Outcome)

    // The portal's device type bit for the keyboard, and "persist until the permission is revoked".
    static constexpr uint keyboardDevice = 1;
    static constexpr uint persistUntilRevoked = 2;

    struct Options {
        QDBusConnection bus = QDBusConnection::sessionBus();
        Platform::PortalTimeouts timeouts;
        // Where the restore token is kept (process-wide store when null).
        SecretStore *secrets = nullptr;
        QString tokenService;
        QString tokenAccount = QStringLiteral("remote_desktop_restore_token");
    };

    explicit RemoteDesktopSession(Options options, QObject *parent = nullptr);
    ~RemoteDesktopSession() override;

    // The version of the portal's RemoteDesktop interface on `bus`; none when the portal lacks it,
    // does not run or does not answer within `timeout`. A portal not running is not started: the
    // session's probe starts it at launch, and starting it here would be a side effect of a question.
    static QCoro::Task<std::optional<uint>> portalVersion(QDBusConnection bus, std::chrono::milliseconds timeout);
    // The same for another interface of the portal (its full name).
    static QCoro::Task<std::optional<uint>> interfaceVersion(QDBusConnection bus, QString interface,
                                                             std::chrono::milliseconds timeout);

    const Options &options() const { return m_options; }
    // The portal's object path of the started session; empty without one.
    QString handle() const { return m_session; }
    // Asks the next start() for clipboard access as well, where the portal offers it.
    void requestClipboardAccess() { m_clipboardWanted = true; }
    // Whether the started session may read and set the clipboard through the portal.
    bool clipboardEnabled() const { return !m_session.isEmpty() && m_clipboardEnabled; }

    QCoro::Task<Outcome> start();
    bool isStarted() const { return !m_session.isEmpty(); }
    // One key of the keyboard, by its evdev code, pressed or released; returns at once. The keys go
    // out one after the other, each once the portal has answered the one before: the portal
    // handles its calls on several threads, so keys sent at once may reach the compositor in
    // another order (Control released before V arrives). Nothing happens without a session.
    void notifyKeycode(int evdevCode, bool pressed);
    // Ends the session (also done by the destructor); start() may open a new one afterwards.
    void close();

Q_SIGNALS:
    // The desktop ended the session (the person stopped sharing, the portal went away).
    void closedByDesktop();

private Q_SLOTS:
    void onSessionClosed(const QDBusMessage &message);

private:
    QCoro::Task<Outcome> startNow();
    // Between SelectDevices and Start: true when the portal took the request for clipboard access.
    QCoro::Task<bool> requestClipboard(QVariant sessionPath);
    QCoro::Task<> sendKeys();
    // One portal request: `method` with `arguments` and then `options` plus a handle_token, and
    // the request's answer. None when the call failed or no answer came in time (logged).
    QCoro::Task<std::optional<PortalRequest::Answer>> request(QString method, QVariantList arguments, QVariantMap options);
    SecretStore &secrets() const;
    std::optional<QString> storedRestoreToken() const;

    Options m_options;
    QString m_session;
    QList<std::pair<int, bool>> m_keys;
    bool m_sendingKeys = false;
    bool m_clipboardWanted = false;
    bool m_clipboardEnabled = false;
};
