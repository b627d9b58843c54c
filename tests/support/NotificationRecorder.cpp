#include "NotificationRecorder.h"

namespace {
const QString serviceName = QStringLiteral("org.freedesktop.Notifications");
const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");
} // namespace

NotificationRecorder::NotificationRecorder()
    : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("notification-recorder")))
{
}

NotificationRecorder::~NotificationRecorder()
{
    if (m_started) {
        m_bus.unregisterObject(objectPath);
        m_bus.unregisterService(serviceName);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("notification-recorder"));
}

bool NotificationRecorder::start()
{
    if (!m_bus.isConnected() || !m_bus.registerObject(objectPath, this, QDBusConnection::ExportAllSlots))
        return false;
    m_started = m_bus.registerService(serviceName);
    return m_started;
}

uint NotificationRecorder::Notify(const QString &appName, uint, const QString &appIcon, const QString &summary,
                                  const QString &body, const QStringList &, const QVariantMap &hints, int)
{
    m_received.append({appName, appIcon, summary, body, hints});
    return uint(m_received.size());
}
