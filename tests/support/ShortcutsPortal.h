#pragma once

#include <QJsonArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The real desktop portal (xdg-desktop-portal) on the harness's session bus, with a mock
// GlobalShortcuts backend (python-dbusmock, tests/support/portal_shortcuts_backend.py) that it
// finds through a portal file of its own. Both are started by start() and stopped, by process,
// when the object goes.
class ShortcutsPortal {
public:
    ShortcutsPortal() = default;
    ~ShortcutsPortal();
    ShortcutsPortal(const ShortcutsPortal &) = delete;
    ShortcutsPortal &operator=(const ShortcutsPortal &) = delete;

    // False, with failure() saying why, when either does not come up on the bus within seconds.
    // Without the backend, the portal runs with no GlobalShortcuts to offer.
    bool start(bool withBackend = true);
    void stop();
    QString failure() const { return m_failure; }

    // What the backend was asked, in order: one object per call, with "method" and its arguments.
    QJsonArray calls() const;
    // The calls of one method.
    QJsonArray calls(const QString &method) const;
    // Sends Activated or Deactivated for the shortcut in the newest session, as the desktop does.
    bool emitSignal(const QString &signal, const QString &shortcutId) const;
    // The response the backend gives to BindShortcuts from now on (0 success, 1 declined).
    bool setBindResponse(uint response) const;

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
