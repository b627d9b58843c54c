#pragma once

#include "platform/Clipboard.h"
#include "platform/Platform.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

class RemoteDesktopSession;

// The clipboard through the desktop portal's Clipboard interface, on a RemoteDesktop session shared
// with the paste chord's keys (GNOME under Wayland, where the portal has the interface). The
// session asks for clipboard access before it starts; until it has started with it, and where the
// portal lacks the interface, the clipboard is XWayland's (`fallback`, which the compositor mirrors).
//
// The portal tells the clipboard's MIME types when its owner changes; a snapshot reads each of them
// through a pipe the portal hands out. Setting the clipboard hands the portal the MIME types; the
// data goes out when a reader asks (SelectionTransfer), from the event loop, as long as we own it.
// The calls a snapshot or a set makes wait for the portal's reply on this thread (the event loop
// does not run meanwhile), each within Bounds::call: a portal that does not answer in time makes
// the rest of that dictation, up to its restore, go through XWayland, with one log line.
class PortalClipboard : public QObject, public Clipboard {
    Q_OBJECT
public:
    using Bounds = Platform::PortalClipboardBounds;

    PortalClipboard(std::shared_ptr<RemoteDesktopSession> session, std::unique_ptr<Clipboard> fallback, Bounds bounds = {});
    ~PortalClipboard() override;

    ClipboardSnapshot snapshot() override;
    void setTransientText(const QString &text) override;
    void setText(const QString &text) override;
    void restore(const ClipboardSnapshot &snapshot) override;

private Q_SLOTS:
    void onSelectionOwnerChanged(const QDBusMessage &message);
    void onSelectionTransfer(const QDBusMessage &message);

private:
    // Whether the portal's clipboard can be used now (a started session with clipboard access).
    bool usable() const;
    // Whether this process's own X11 clipboard is the owner: reading it through the portal would
    // ask us back while we wait, so it is read directly.
    static bool ownedThroughXWayland();
    // Reads every offered format; none when the portal did not answer in time.
    std::optional<ClipboardSnapshot> readFormats(const QStringList &types);
    // Makes `contents` the clipboard through the portal; false when it is not usable or did not
    // take them in time (the rest of the dictation then goes through XWayland).
    bool put(const ClipboardSnapshot &contents);
    // The rest of the dictation goes through XWayland; logged once with the reason.
    void fallBack(const QString &reason);
    QString silence() const;
    // Answers a reader's request (SelectionTransfer) with `data`.
    QCoro::Task<> serve(uint serial, QByteArray data);
    // A call of the portal's Clipboard interface, with the session's handle as first argument.
    QDBusMessage clipboardCall(const QString &method) const;
    // Listens to the portal's clipboard signals, or stops.
    void subscribe(bool on);

    std::shared_ptr<RemoteDesktopSession> m_session;
    std::unique_ptr<Clipboard> m_fallback;
    Bounds m_bounds;
    // The owner's MIME types as the portal last told them, and for which session.
    QString m_offeredSession;
    QStringList m_offered;
    // Whether the last owner the portal told of is us, and what we serve to readers.
    bool m_owned = false;
    ClipboardSnapshot m_served;
    // The dictation under way (a snapshot until its restore) goes through XWayland.
    bool m_dictationViaFallback = false;
};
