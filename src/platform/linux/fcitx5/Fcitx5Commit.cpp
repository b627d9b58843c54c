#include "platform/linux/fcitx5/Fcitx5Commit.h"

#include "platform/linux/fcitx5/Fcitx5CommitProtocol.h"

#include "app/AppLogger.h"

#include <QCoroSignal>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>

Fcitx5Commit::Fcitx5Commit(QDBusConnection bus, std::chrono::milliseconds replyTimeout)
    : m_bus(std::move(bus))
    , m_replyTimeout(replyTimeout)
    , m_watcher(std::make_unique<QDBusServiceWatcher>(QLatin1String(Fcitx5CommitProtocol::service), m_bus,
                                                      QDBusServiceWatcher::WatchForOwnerChange))
{
    if (!m_bus.isConnected())
        return;
    QObject::connect(m_watcher.get(), &QDBusServiceWatcher::serviceOwnerChanged, m_watcher.get(),
                     [this](const QString &, const QString &, const QString &newOwner) { m_running = !newOwner.isEmpty(); });
    // The state now. The bus delivers its answer and the announcements in the order it sent them,
    // so whichever arrives last is the newest.
    QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << QLatin1String(Fcitx5CommitProtocol::service);
    auto *answer = new QDBusPendingCallWatcher(m_bus.asyncCall(ask), m_watcher.get());
    QObject::connect(answer, &QDBusPendingCallWatcher::finished, m_watcher.get(), [this](QDBusPendingCallWatcher *call) {
        const QDBusPendingReply<bool> reply = *call;
        if (!reply.isError())
            m_running = reply.value();
        call->deleteLater();
    });
}

Fcitx5Commit::~Fcitx5Commit() = default;

QString Fcitx5Commit::frameworkName() const
{
    return QStringLiteral("Fcitx5");
}

QCoro::Task<InputMethodCommit::Result> Fcitx5Commit::commit(QString text)
{
    if (!m_bus.isConnected() || m_running == false)
        co_return Result::unavailable;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(Fcitx5CommitProtocol::service), QLatin1String(Fcitx5CommitProtocol::path),
        QLatin1String(Fcitx5CommitProtocol::interface), QLatin1String(Fcitx5CommitProtocol::commitMethod));
    // Fcitx5 is bus-activatable: asking where it does not run must not start it.
    call.setAutoStartService(false);
    call << text;
    const QDBusPendingCall pending = m_bus.asyncCall(call, static_cast<int>(m_replyTimeout.count()));
    // Finished at once when the call failed before it was sent: the watcher still signals it from
    // the event loop.
    QDBusPendingCallWatcher watcher(pending);
    co_await qCoro(&watcher, &QDBusPendingCallWatcher::finished);

    // Nothing of this object is used past the wait: it may be gone by now.
    const QDBusPendingReply<bool> reply = pending;
    if (reply.isError()) {
        const QDBusError error = reply.error();
        // Where Fcitx5 does not run, the bus says so at once: the usual case, not worth a line.
        if (error.type() != QDBusError::ServiceUnknown
            && error.name() != QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
            qCDebug(AppLogger::injection, "Fcitx5 commit not available: %s (%s)", qUtf8Printable(error.name()),
                    qUtf8Printable(error.message()));
        co_return Result::unavailable;
    }
    co_return reply.value() ? Result::committed : Result::noFocusedField;
}
