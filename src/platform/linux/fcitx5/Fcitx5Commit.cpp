#include "platform/linux/fcitx5/Fcitx5Commit.h"

#include "platform/linux/fcitx5/Fcitx5CommitProtocol.h"

#include "app/AppLogger.h"

#include <QCoroSignal>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

Fcitx5Commit::Fcitx5Commit(QDBusConnection bus, std::chrono::milliseconds replyTimeout)
    : m_bus(std::move(bus)), m_replyTimeout(replyTimeout)
{
}

QString Fcitx5Commit::frameworkName() const
{
    return QStringLiteral("Fcitx5");
}

QCoro::Task<InputMethodCommit::Result> Fcitx5Commit::commit(QString text)
{
    if (!m_bus.isConnected())
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
