#pragma once

#include "platform/DesktopSession.h"

#include <QCoro/QCoroTask>

#include <chrono>

class WaylandConnection;

// Finds out what the desktop session offers: the session's kind from the environment, the
// compositor's globals over our own Wayland connection, and from the session bus the desktop
// portal's interfaces and the input-method frameworks.
class WaylandSessionProbe {
public:
    // The longest the session bus may take to answer; a desktop without a portal must not hold
    // up the start.
    static constexpr std::chrono::milliseconds busCallBound{1500};

    // The kind of session: X11 when XDG_SESSION_TYPE says so or no Wayland socket is named.
    static DesktopSession::Kind sessionKind();
    // The kind and the compositor's globals on `connection` (null: none reached).
    static DesktopSession compositorFacts(const WaylandConnection *connection);
    // `facts` completed with the session bus's answers, each call bounded by `bound`.
    static QCoro::Task<DesktopSession> addBusFacts(DesktopSession facts,
                                                   std::chrono::milliseconds bound = busCallBound);
};
