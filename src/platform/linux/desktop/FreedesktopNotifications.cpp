#include "platform/linux/desktop/FreedesktopNotifications.h"

#include "core/AppIdentity.h"

#include "app/AppLogger.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

FreedesktopNotifications::FreedesktopNotifications(QDBusConnection bus) : m_bus(std::move(bus)) {}

void FreedesktopNotifications::notify(const QString &summary, const QString &body)
{
    if (!m_bus.isConnected()) {
        qCWarning(AppLogger::app, "desktop notification not shown: no session bus");
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QString(QLatin1String(AppIdentity::bundleIdentifier))}};
    call << QString(QLatin1String(AppIdentity::displayName)) << 0u << QString(QLatin1String(AppIdentity::bundleIdentifier)) << summary << body
         << QStringList{} << hints << -1;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [](QDBusPendingCallWatcher *finished) {
        if (finished->isError())
            qCWarning(AppLogger::app, "desktop notification not shown: %s", qUtf8Printable(finished->error().message()));
        finished->deleteLater();
    });
}
