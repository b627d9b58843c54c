#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>
#include <memory>
#include <optional>

class QSocketNotifier;
class XcbConnectionHandle;

// Counts the changes of one X selection (CLIPBOARD by default) through the XFIXES extension, on a
// connection of its own: a new owner (whoever set it, this process included) and the owner's
// window or client going away. The events are read as they come, so nothing piles up while idle.
class X11SelectionWatch {
public:
    // On the named display; without a name on $DISPLAY.
    explicit X11SelectionWatch(const QByteArray &displayName = {}, const QByteArray &selection = "CLIPBOARD");
    ~X11SelectionWatch();
    X11SelectionWatch(const X11SelectionWatch &) = delete;
    X11SelectionWatch &operator=(const X11SelectionWatch &) = delete;

    // The changes counted since the watch began, including every change the server made before
    // this call (one round trip to the X server, none to the selection's owner). None without a
    // reachable X server offering XFIXES, or once the connection has broken.
    std::optional<quint64> changeCount();

private:
    void readEvents();

    std::unique_ptr<XcbConnectionHandle> m_x;
    uint8_t m_selectionNotify = 0; // the event code of XFIXES's SelectionNotify on this server
    quint64 m_changes = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
