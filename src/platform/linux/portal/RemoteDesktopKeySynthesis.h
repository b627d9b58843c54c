#pragma once

#include "platform/KeySynthesis.h"
#include "platform/linux/portal/RemoteDesktopSession.h"

#include <QObject>

#include <memory>

class DesktopNotifications;

// The paste chord as key codes through the desktop portal's RemoteDesktop session, for Wayland
// desktops whose compositor offers clients no protocol for it (GNOME). The session is started at
// the first chord, not before (prepare(), awaited by the injection before it touches the
// clipboard): the person confirms once in the desktop's dialog, later runs restore the permission
// by its token. When the person declines or the portal fails, nothing is asked again in this run:
// the text stays on the clipboard (reachesFocusedApplication() turns false) and the person is told
// once. Where the portal has no RemoteDesktop interface, the text stays on the clipboard too.
class RemoteDesktopKeySynthesis : public QObject, public KeySynthesis {
    Q_OBJECT
public:
    // Evdev key codes (linux/input-event-codes.h), which the portal hands to the compositor as the
    // keys of the keyboard itself. Not keysyms: a keysym reaches only the characters of the current
    // layout (the compositor looks for a key that makes it, and finds no "v" under a layout
    // without a Latin "v"), while the key code is the physical key every layout's shortcuts use.
    static constexpr int keyLeftControl = 29;
    static constexpr int keyLeftShift = 42;
    static constexpr int keyV = 47;

    explicit RemoteDesktopKeySynthesis(RemoteDesktopSession::Options options,
                                       std::unique_ptr<DesktopNotifications> notifications = nullptr);
    // Through a session shared with others (the portal's clipboard), so the desktop asks once.
    explicit RemoteDesktopKeySynthesis(std::shared_ptr<RemoteDesktopSession> session,
                                       std::unique_ptr<DesktopNotifications> notifications = nullptr);
    ~RemoteDesktopKeySynthesis() override;

    // Nothing to grant ahead: the desktop's dialog at the first chord is the grant.
    bool isTrusted() override { return true; }
    void promptForTrust() override {}
    // Until the first paste has asked the portal, the session probe's answer (false before it).
    bool reachesFocusedApplication() override;
    // The compositor does not tell a client which physical keys are down; the portal's key
    // presses join the keyboard's own state, so modifiers the user still holds join the chord.
    bool nonModifierKeyHeld() override { return false; }
    QCoro::Task<> prepare() override;
    void sendPasteChord(PasteChord chord) override;

    bool sessionStarted() const { return m_session->isStarted(); }

Q_SIGNALS:
    void prepared();

private:
    enum class Portal { unknown, offered, absent };

    QCoro::Task<> prepareNow();

    std::shared_ptr<RemoteDesktopSession> m_session;
    std::unique_ptr<DesktopNotifications> m_notifications;
    Portal m_portal = Portal::unknown;
    bool m_starting = false;
    // Declined or failed: not asked again in this run.
    bool m_declined = false;
};
