#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include "WaylandCompositor.h"

// GNOME's compositor, mutter, headless with one virtual monitor and XWayland, on a D-Bus session
// bus of its own (its remote-desktop interface lives there, as under GNOME). Started by the
// constructor, stopped by process id when destroyed; check failure() for success.
// A headless mutter has no keyboard until a virtual one presses a key, and a client that sees the
// seat gain one binds it only a moment later: a session of mutter's remote-desktop interface
// presses Shift once at the start and stays, as a person's keyboard would be there.
class MutterSession {
public:
    MutterSession();
    ~MutterSession();
    MutterSession(const MutterSession &) = delete;
    MutterSession &operator=(const MutterSession &) = delete;

    bool isUp() const { return m_failure.isEmpty(); }
    // Why it did not come up, with the processes' output.
    QString failure();
    // mutter's private bus, for a process that should reach its remote-desktop interface.
    const QString &busAddress() const { return m_busAddress; }
    // A native Wayland client of mutter (Qt on its Wayland platform).
    QProcessEnvironment waylandClient() const { return WaylandCompositor::nativeClient(m_socket); }
    // An X11 client of mutter's XWayland, on the harness's session bus, in a Wayland session (as
    // Murlex runs under GNOME).
    QProcessEnvironment xwaylandClient() const;

private:
    bool startBus();
    bool startMutter();
    bool startKeyboard();

    QTemporaryDir m_runtime{QStringLiteral("/tmp/murlex-mutter-XXXXXX")};
    QProcess m_bus;
    QProcess m_mutter;
    QProcess m_keyboard;
    QString m_busAddress;
    QString m_socket;
    QString m_display;
    QString m_xauthority;
    QString m_failure;
};
