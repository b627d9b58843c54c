#include "app/SessionBusService.h"

#include "app/AppLogger.h"
#include "app/AppState.h"

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {
// RequestName's flag and answers (the D-Bus specification).
constexpr uint doNotQueue = 4;
constexpr uint primaryOwner = 1;
constexpr uint alreadyOwner = 4;
} // namespace

SessionBusService::SessionBusService(AppState &state, QObject *parent)
    : QObject(parent), m_state(&state), m_bus(QStringLiteral("unconnected"))
{
}

SessionBusService::~SessionBusService()
{
    if (m_exported)
        m_bus.unregisterObject(QLatin1String(objectPath));
}

void SessionBusService::start(QDBusConnection bus)
{
    if (m_exported)
        return;
    if (!bus.isConnected()) {
        qCWarning(AppLogger::app, "no session bus: murlex --toggle cannot reach this instance");
        Q_EMIT nameAcquired(false);
        return;
    }
    if (!bus.registerObject(QLatin1String(objectPath), this, QDBusConnection::ExportScriptableSlots)) {
        qCWarning(AppLogger::app, "cannot export %s on the session bus: %s", objectPath,
                  qUtf8Printable(bus.lastError().message()));
        Q_EMIT nameAcquired(false);
        return;
    }
    m_bus = bus;
    m_exported = true;

    QDBusMessage request = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
    request << QLatin1String(serviceName) << doNotQueue;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(request), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *finished) {
        finished->deleteLater();
        const QDBusPendingReply<uint> reply = *finished;
        m_named = !reply.isError() && (reply.value() == primaryOwner || reply.value() == alreadyOwner);
        if (m_named)
            qCInfo(AppLogger::app, "listening on the session bus as %s", serviceName);
        else
            qCWarning(AppLogger::app, "the session bus name %s is taken: murlex --toggle cannot reach this instance",
                      serviceName);
        Q_EMIT nameAcquired(m_named);
    });
}

QDBusMessage SessionBusService::callOf(const QString &method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(serviceName), QLatin1String(objectPath),
                                                       QLatin1String(interfaceName), method);
    call.setAutoStartService(false);
    return call;
}

void SessionBusService::Toggle()
{
    qCInfo(AppLogger::app, "toggle requested on the session bus");
    if (m_state)
        m_state->requestToggle();
}

void SessionBusService::PasteLast()
{
    qCInfo(AppLogger::app, "paste last requested on the session bus");
    if (m_state)
        m_state->requestPasteLast();
}

bool SessionBusService::Cancel()
{
    qCInfo(AppLogger::app, "cancel requested on the session bus");
    // No controller yet: no dictation ever started.
    return m_state && m_state->hasDictation() && m_state->dictation().cancel();
}

void SessionBusService::setMainWindowOpener(std::function<void()> open)
{
    m_openMainWindow = std::move(open);
}

void SessionBusService::OpenMainWindow()
{
    qCInfo(AppLogger::app, "main window requested on the session bus");
    if (m_openMainWindow)
        m_openMainWindow();
}
