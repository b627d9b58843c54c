#include "platform/linux/portal/RemoteDesktopSession.h"

#include "app/AppLogger.h"
#include "core/AppIdentity.h"
#include "platform/SecretStore.h"
#include "platform/linux/portal/PortalNames.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QPointer>

#include <qcoro/qcorodbuspendingcall.h>

#include <memory>

namespace {

QDBusMessage remoteDesktopCall(const QString &method)
{
    return QDBusMessage::createMethodCall(QLatin1String(PortalNames::service), QLatin1String(PortalNames::objectPath),
                                          QLatin1String(PortalNames::remoteDesktop), method);
}

// Enough of a token to tell two apart in a log, never the token.
QString tokenHint(const QString &token)
{
    return QStringLiteral("%1… (%2 chars)").arg(token.left(4)).arg(token.size());
}

} // namespace

RemoteDesktopSession::RemoteDesktopSession(Options options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
{
    if (m_options.tokenService.isEmpty())
        m_options.tokenService = QLatin1String(AppIdentity::bundleIdentifier);
}

RemoteDesktopSession::~RemoteDesktopSession()
{
    close();
}

SecretStore &RemoteDesktopSession::secrets() const
{
    return m_options.secrets ? *m_options.secrets : Platform::secretStore();
}

std::optional<QString> RemoteDesktopSession::storedRestoreToken() const
{
    const std::optional<QByteArray> bytes = secrets().read(m_options.tokenService, m_options.tokenAccount);
    if (!bytes || bytes->isEmpty())
        return std::nullopt;
    return QString::fromUtf8(*bytes);
}

QCoro::Task<std::optional<uint>> RemoteDesktopSession::portalVersion(QDBusConnection bus, std::chrono::milliseconds timeout)
{
    return interfaceVersion(std::move(bus), QLatin1String(PortalNames::remoteDesktop), timeout);
}

QCoro::Task<std::optional<uint>> RemoteDesktopSession::interfaceVersion(QDBusConnection bus, QString interface,
                                                                        std::chrono::milliseconds timeout)
{
    QDBusMessage get = QDBusMessage::createMethodCall(QLatin1String(PortalNames::service),
                                                      QLatin1String(PortalNames::objectPath),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interface << QStringLiteral("version");
    get.setAutoStartService(false);
    const QDBusPendingCall pending = bus.asyncCall(get, int(timeout.count()));
    const QDBusMessage reply = co_await pending;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        co_return std::nullopt;
    bool ok = false;
    const uint version = reply.arguments().constFirst().value<QDBusVariant>().variant().toUInt(&ok);
    if (!ok || version == 0)
        co_return std::nullopt;
    co_return version;
}

QCoro::Task<std::optional<PortalRequest::Answer>> RemoteDesktopSession::request(QString method, QVariantList arguments,
                                                                                QVariantMap options)
{
    QPointer<RemoteDesktopSession> self(this);
    // Following the answer before the call is sent: it may come right after the reply.
    auto pending = std::make_unique<PortalRequest>(m_options.bus);
    options.insert(QStringLiteral("handle_token"), pending->handleToken());
    QDBusMessage call = remoteDesktopCall(method);
    call.setArguments(arguments << options);
    const QDBusPendingCall sent = m_options.bus.asyncCall(call, int(m_options.timeouts.call.count()));
    const QDBusMessage reply = co_await sent;
    if (!self)
        co_return std::nullopt;
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCWarning(AppLogger::injection, "RemoteDesktop %s failed: %s", qPrintable(method), qPrintable(reply.errorMessage()));
        co_return std::nullopt;
    }
    pending->follow(reply.arguments().value(0).value<QDBusObjectPath>().path());
    std::optional<PortalRequest::Answer> answer = co_await pending->answer(m_options.timeouts.answer);
    if (!self)
        co_return std::nullopt;
    if (!answer)
        qCWarning(AppLogger::injection, "RemoteDesktop %s got no answer", qPrintable(method));
    co_return answer;
}

QCoro::Task<RemoteDesktopSession::Outcome> RemoteDesktopSession::start()
{
    if (isStarted())
        co_return Outcome::started;
    QPointer<RemoteDesktopSession> self(this);
    QCoro::Task<Outcome> starting = startNow();
    const Outcome outcome = co_await std::move(starting);
    // A session half made (created, then refused or failed) is not left open.
    if (self && outcome != Outcome::started)
        close();
    co_return outcome;
}

QCoro::Task<RemoteDesktopSession::Outcome> RemoteDesktopSession::startNow()
{
    QPointer<RemoteDesktopSession> self(this);
    QCoro::Task<std::optional<uint>> asked = portalVersion(m_options.bus, m_options.timeouts.call);
    const std::optional<uint> version = co_await std::move(asked);
    if (!self)
        co_return Outcome::failed;
    if (!version) {
        qCWarning(AppLogger::injection, "the desktop portal offers no RemoteDesktop interface");
        co_return Outcome::failed;
    }

    // CreateSession
    const QString sessionToken = PortalRequest::nextToken(QStringLiteral("murlex_rd"));
    QCoro::Task<std::optional<PortalRequest::Answer>> creating =
        request(QStringLiteral("CreateSession"), {}, {{QStringLiteral("session_handle_token"), sessionToken}});
    const std::optional<PortalRequest::Answer> created = co_await std::move(creating);
    if (!self || !created)
        co_return Outcome::failed;
    const QVariant handle = created->results.value(QStringLiteral("session_handle"));
    const QString session = handle.metaType() == QMetaType::fromType<QDBusObjectPath>()
                                ? handle.value<QDBusObjectPath>().path()
                                : handle.toString();
    if (created->response != 0 || session.isEmpty()) {
        qCWarning(AppLogger::injection, "RemoteDesktop CreateSession answered %u", created->response);
        co_return created->response == 1 ? Outcome::refused : Outcome::failed;
    }
    m_session = session;
    m_options.bus.connect(QLatin1String(PortalNames::service), m_session, QLatin1String(PortalNames::sessionInterface),
                          QStringLiteral("Closed"), this, SLOT(onSessionClosed(QDBusMessage)));
    const QVariant sessionPath = QVariant::fromValue(QDBusObjectPath(session));

    // SelectDevices: the keyboard only; from version 2 on, kept until revoked, restored by token.
    QVariantMap devices{{QStringLiteral("types"), keyboardDevice}};
    if (*version >= 2) {
        devices.insert(QStringLiteral("persist_mode"), persistUntilRevoked);
        if (const std::optional<QString> token = storedRestoreToken()) {
            devices.insert(QStringLiteral("restore_token"), *token);
            qCInfo(AppLogger::injection, "RemoteDesktop restoring the earlier permission (token %s)",
                   qPrintable(tokenHint(*token)));
        }
    }
    QCoro::Task<std::optional<PortalRequest::Answer>> selecting =
        request(QStringLiteral("SelectDevices"), {sessionPath}, devices);
    const std::optional<PortalRequest::Answer> selected = co_await std::move(selecting);
    if (!self || !selected)
        co_return Outcome::failed;
    if (selected->response != 0) {
        qCWarning(AppLogger::injection, "RemoteDesktop SelectDevices answered %u", selected->response);
        co_return selected->response == 1 ? Outcome::refused : Outcome::failed;
    }

    // The clipboard is asked for before the start, so that one dialog covers both.
    bool clipboardRequested = false;
    if (m_clipboardWanted) {
        QCoro::Task<bool> requesting = requestClipboard(sessionPath);
        clipboardRequested = co_await std::move(requesting);
        if (!self)
            co_return Outcome::failed;
    }

    // Start: the desktop's dialog, where it asks.
    qCInfo(AppLogger::injection, "RemoteDesktop asking the desktop for keyboard access (portal v%u)", *version);
    QCoro::Task<std::optional<PortalRequest::Answer>> starting =
        request(QStringLiteral("Start"), {sessionPath, QString()}, {});
    const std::optional<PortalRequest::Answer> started = co_await std::move(starting);
    if (!self || !started)
        co_return Outcome::failed;
    if (started->response != 0) {
        qCWarning(AppLogger::injection, "RemoteDesktop Start answered %u (%s)", started->response,
                  started->response == 1 ? "declined" : "failed");
        co_return started->response == 1 ? Outcome::refused : Outcome::failed;
    }
    const uint granted = started->results.value(QStringLiteral("devices")).toUInt();
    if (!(granted & keyboardDevice)) {
        qCWarning(AppLogger::injection, "RemoteDesktop started without keyboard access (devices %u)", granted);
        co_return Outcome::refused;
    }
    m_clipboardEnabled = clipboardRequested && started->results.value(QStringLiteral("clipboard_enabled")).toBool();
    if (clipboardRequested)
        qCInfo(AppLogger::injection, "RemoteDesktop clipboard access %s", m_clipboardEnabled ? "granted" : "not granted");
    const QString restoreToken = started->results.value(QStringLiteral("restore_token")).toString();
    if (!restoreToken.isEmpty())
        secrets().write(m_options.tokenService, m_options.tokenAccount, restoreToken.toUtf8());
    qCInfo(AppLogger::injection, "RemoteDesktop session started with keyboard access%s",
           restoreToken.isEmpty() ? "" : qPrintable(QStringLiteral("; restore token %1 kept").arg(tokenHint(restoreToken))));
    co_return Outcome::started;
}

QCoro::Task<bool> RemoteDesktopSession::requestClipboard(QVariant sessionPath)
{
    QPointer<RemoteDesktopSession> self(this);
    QCoro::Task<std::optional<uint>> asked =
        interfaceVersion(m_options.bus, QLatin1String(PortalNames::clipboard), m_options.timeouts.call);
    const std::optional<uint> version = co_await std::move(asked);
    if (!self)
        co_return false;
    if (!version) {
        qCInfo(AppLogger::injection, "the desktop portal has no Clipboard interface: the clipboard goes through XWayland");
        co_return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(PortalNames::service), QLatin1String(PortalNames::objectPath),
                                                       QLatin1String(PortalNames::clipboard), QStringLiteral("RequestClipboard"));
    call << sessionPath << QVariantMap{};
    const QDBusPendingCall sent = m_options.bus.asyncCall(call, int(m_options.timeouts.call.count()));
    const QDBusMessage reply = co_await sent;
    if (!self)
        co_return false;
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCWarning(AppLogger::injection, "RemoteDesktop RequestClipboard failed: %s; the clipboard goes through XWayland",
                  qPrintable(reply.errorMessage()));
        co_return false;
    }
    qCInfo(AppLogger::injection, "RemoteDesktop asked for clipboard access too (portal Clipboard v%u)", *version);
    co_return true;
}

void RemoteDesktopSession::notifyKeycode(int evdevCode, bool pressed)
{
    if (m_session.isEmpty())
        return;
    m_keys.append({evdevCode, pressed});
    if (!m_sendingKeys)
        sendKeys();
}

QCoro::Task<> RemoteDesktopSession::sendKeys()
{
    QPointer<RemoteDesktopSession> self(this);
    m_sendingKeys = true;
    while (!m_keys.isEmpty() && !m_session.isEmpty()) {
        const auto [code, pressed] = m_keys.takeFirst();
        QDBusMessage notify = remoteDesktopCall(QStringLiteral("NotifyKeyboardKeycode"));
        notify << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariantMap{} << code << uint(pressed ? 1 : 0);
        const QDBusPendingCall sent = m_options.bus.asyncCall(notify, int(m_options.timeouts.call.count()));
        const QDBusMessage reply = co_await sent;
        if (!self)
            co_return;
        if (reply.type() != QDBusMessage::ReplyMessage)
            qCWarning(AppLogger::injection, "RemoteDesktop NotifyKeyboardKeycode %d failed: %s", code,
                      qPrintable(reply.errorMessage()));
    }
    m_keys.clear();
    m_sendingKeys = false;
}

void RemoteDesktopSession::close()
{
    if (m_session.isEmpty())
        return;
    m_options.bus.disconnect(QLatin1String(PortalNames::service), m_session, QLatin1String(PortalNames::sessionInterface),
                             QStringLiteral("Closed"), this, SLOT(onSessionClosed(QDBusMessage)));
    // No answer awaited; a portal that is gone has nothing to close and is not started for this.
    QDBusMessage close = QDBusMessage::createMethodCall(QLatin1String(PortalNames::service), m_session,
                                                        QLatin1String(PortalNames::sessionInterface), QStringLiteral("Close"));
    close.setAutoStartService(false);
    m_options.bus.send(close);
    qCInfo(AppLogger::injection, "RemoteDesktop session closed");
    m_session.clear();
    m_clipboardEnabled = false;
}

void RemoteDesktopSession::onSessionClosed(const QDBusMessage &message)
{
    if (message.path() != m_session)
        return;
    qCWarning(AppLogger::injection, "the desktop closed the RemoteDesktop session");
    m_options.bus.disconnect(QLatin1String(PortalNames::service), m_session, QLatin1String(PortalNames::sessionInterface),
                             QStringLiteral("Closed"), this, SLOT(onSessionClosed(QDBusMessage)));
    m_session.clear();
    m_clipboardEnabled = false;
    Q_EMIT closedByDesktop();
}
