#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

// A desktop notification service (org.freedesktop.Notifications) on the harness's session bus,
// on a connection of its own, that records every notification it is asked to show.
class NotificationRecorder : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Notification {
        QString appName;
        QString appIcon;
        QString summary;
        QString body;
        QVariantMap hints;
    };

    NotificationRecorder();
    ~NotificationRecorder() override;

    // Takes the service name; false when the bus or the name is not to be had.
    bool start();
    const QList<Notification> &received() const { return m_received; }

public Q_SLOTS:
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int expireTimeout);

private:
    QDBusConnection m_bus;
    QList<Notification> m_received;
    bool m_started = false;
};
