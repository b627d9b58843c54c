#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The real desktop portal (xdg-desktop-portal) on the harness's session bus, with one mock backend
// (python-dbusmock, a template of tests/support/) that it finds through a portal file of its own.
// Both are started by start() and stopped, by process, by stop() or when the object goes.
class DesktopPortal {
public:
    DesktopPortal() = default;
    ~DesktopPortal() { stop(); }
    DesktopPortal(const DesktopPortal &) = delete;
    DesktopPortal &operator=(const DesktopPortal &) = delete;

    // `interface` is the backend's impl.portal interface ("GlobalShortcuts", "RemoteDesktop"), served by
    // the template `backendScript` given `parameters`. Without an interface, the template stands in for
    // the portal itself, or, without one either, the portal runs with no backend.
    // False, with failure() saying why, when either does not come up on the bus within seconds.
    bool start(const QString &interface, const QString &backendScript = {}, const QJsonObject &parameters = {});
    bool startShortcuts() { return start(QStringLiteral("GlobalShortcuts"), QStringLiteral("portal_shortcuts_backend.py")); }
    void stop();
    QString failure() const { return m_failure; }

    // What the backend was asked, in order: one object per call, with "method" and its arguments;
    // with a method, only its calls.
    QJsonArray calls(const QString &method = {}) const;
    // A call of the backend's control interface: Emit(signal, shortcut id) for the newest session,
    // SetBindResponse / SetStartResponse(0 granted, 1 declined) for what it answers from now on.
    bool control(const QString &method, const QVariantList &arguments) const;

    // The portal's and the backend's output, for failure messages.
    QString output();

private:
    bool waitForName(const QString &name, QProcess &process);
    void startMock(QProcess &process, const QString &script, const QJsonObject &parameters);

    QTemporaryDir m_dir;
    QProcess m_backend;
    QProcess m_portal;
    QString m_output;
    QString m_failure;
    QString m_controlName;
};
