#pragma once

#include <QString>

// Notices shown by the desktop outside the application's own windows (a notification bubble).
class DesktopNotifications {
public:
    virtual ~DesktopNotifications() = default;

    // Hands the notice to the desktop and returns at once; a desktop that cannot show it is
    // logged, never reported to the caller.
    virtual void notify(const QString &summary, const QString &body) = 0;
};
