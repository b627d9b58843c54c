#pragma once

#include <QJsonArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The real desktop portal (xdg-desktop-portal) on the harness's session bus, with a mock
// RemoteDesktop backend (python-dbusmock, tests/support/portal_remote_desktop_backend.py) that
// presses keys through mutter's remote-desktop interface on `mutterBus`. Both stopped, by process,
// when the object goes.
class RemoteDesktopPortal {
public:
    RemoteDesktopPortal() = default;
    ~RemoteDesktopPortal();
    RemoteDesktopPortal(const RemoteDesktopPortal &) = delete;
    RemoteDesktopPortal &operator=(const RemoteDesktopPortal &) = delete;

    // False, with failure() saying why, when either does not come up on the bus within seconds.
    bool start(const QString &mutterBus);
    QString failure() const { return m_failure; }

    // The backend's calls of one method, in order, each an object with its arguments.
    QJsonArray calls(const QString &method) const;
    // The response the backend gives to Start from now on (0 granted, 1 declined).
    bool setStartResponse(uint response) const;
    // The portal's and the backend's output, for failure messages.
    QString output();

private:
    bool waitForName(const QString &name, QProcess &process);

    QTemporaryDir m_dir;
    QProcess m_backend;
    QProcess m_portal;
    QString m_output;
    QString m_failure;
};
