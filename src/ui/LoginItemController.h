#pragma once

#include "platform/LoginItemService.h"

#include <QObject>

#include <memory>

// Launch at login as the settings and the home tab show and switch it. Both fields change only
// in refresh(); a refused or failed attempt is logged (category app, error level) and leaves them
// as they were. Main thread only.
class LoginItemController : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isRegistered READ isRegistered NOTIFY isRegisteredChanged)
    Q_PROPERTY(bool isInstallableLocation READ isInstallableLocation NOTIFY isInstallableLocationChanged)

public:
    // Both fields false, then refresh().
    explicit LoginItemController(std::unique_ptr<LoginItemService> service, QObject *parent = nullptr);
    ~LoginItemController() override;

    // The session starts this installation at login.
    bool isRegistered() const { return m_isRegistered; }
    // The running executable is the installed one, the only one that may be registered.
    bool isInstallableLocation() const { return m_isInstallableLocation; }

    // Re-reads both fields.
    void refresh();
    // Registers or unregisters the application as a login item, then refreshes; failures are
    // logged, never thrown, and skip the refresh.
    void setEnabled(bool enabled);

Q_SIGNALS:
    void isRegisteredChanged(bool registered);
    void isInstallableLocationChanged(bool installable);

private:
    std::unique_ptr<LoginItemService> m_service;
    bool m_isRegistered = false;
    bool m_isInstallableLocation = false;
};
