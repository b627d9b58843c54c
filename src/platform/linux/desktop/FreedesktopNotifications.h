#pragma once

#include "platform/DesktopNotifications.h"

#include <QDBusConnection>

// Notifications through the desktop's notification service on the session bus
// (org.freedesktop.Notifications), as the application "Murlex" with its icon.
class FreedesktopNotifications final : public DesktopNotifications {
public:
    explicit FreedesktopNotifications(QDBusConnection bus = QDBusConnection::sessionBus());

    // Asynchronous: the call goes out at once and its answer is only logged when it is an error
    // (no notification service, a refusal).
    void notify(const QString &summary, const QString &body) override;

private:
    QDBusConnection m_bus;
};
