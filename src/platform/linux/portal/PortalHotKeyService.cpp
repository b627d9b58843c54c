#include "platform/linux/portal/PortalHotKeyService.h"

#include "app/AppLogger.h"
#include "platform/linux/portal/PortalNames.h"
#include "platform/linux/portal/PortalRequest.h"
#include "platform/linux/portal/PortalShortcut.h"
#include "platform/linux/x11/X11KeyCodes.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QTimer>

#include <qcoro/qcorodbuspendingcall.h>

#include <xkbcommon/xkbcommon.h>

#include <memory>

namespace {

QDBusMessage portalCall(const char *interface, const QString &method, const QString &path = QLatin1String(PortalNames::objectPath))
{
    return QDBusMessage::createMethodCall(QLatin1String(PortalNames::service), path, QLatin1String(interface), method);
}

// The call's reply, or an error reply when the portal did not answer within `timeout`. The
// arguments are used before the first suspension only.
QCoro::Task<QDBusMessage> callPortal(const QDBusConnection &bus, const QDBusMessage &message, std::chrono::milliseconds timeout)
{
    const QDBusPendingCall pending = bus.asyncCall(message, int(timeout.count()));
    QDBusMessage reply = co_await pending;
    co_return reply;
}

// A session handle from an answer's results: an object path or, from older portals, a string.
QString sessionHandleOf(const QVariantMap &results)
{
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    if (handle.canConvert<QDBusObjectPath>() && handle.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return handle.value<QDBusObjectPath>().path();
    return handle.toString();
}

} // namespace

PortalHotKeyService::PortalHotKeyService(Options options, HotKeyService *keys, QObject *parent)
    : HotKeyService(parent)
    , m_options(std::move(options))
    , m_keys(keys)
{
    PortalShortcut::registerMetaTypes();
    connectPortalSignal("Activated", SLOT(onActivated(QDBusMessage)));
    connectPortalSignal("Deactivated", SLOT(onDeactivated(QDBusMessage)));
    connectPortalSignal("ShortcutsChanged", SLOT(onShortcutsChanged(QDBusMessage)));
}

PortalHotKeyService::~PortalHotKeyService()
{
    m_held.clear(); // nobody is told of releases any more
    closeSession();
}

void PortalHotKeyService::connectPortalSignal(const char *name, const char *slot)
{
    m_options.bus.connect(QLatin1String(PortalNames::service), QLatin1String(PortalNames::objectPath),
                          QLatin1String(PortalNames::globalShortcuts), QLatin1String(name), this, slot);
}

std::optional<QString> PortalHotKeyService::preferredTrigger(const KeyCombo &combo)
{
    if (combo.carbonModifiers & functionKey)
        return std::nullopt;
    const auto keysym = X11KeyCodes::keysymFor(combo.keyCode);
    if (!keysym)
        return std::nullopt;
    char name[64];
    if (xkb_keysym_get_name(*keysym, name, sizeof name) <= 0)
        return std::nullopt;
    QString trigger;
    const std::pair<qint64, const char *> modifiers[] = {
        {controlKey, "CTRL"}, {optionKey, "ALT"}, {shiftKey, "SHIFT"}, {cmdKey, "LOGO"}};
    for (const auto &[bit, text] : modifiers)
        if (combo.carbonModifiers & bit)
            trigger += QLatin1String(text) + u'+';
    return trigger + QString::fromLatin1(name);
}

int PortalHotKeyService::registerHotKey(const KeyCombo &combo, quint32 id)
{
    if (!preferredTrigger(combo))
        return statusNotRepresentable;
    m_hotKeys.insert(id, combo);
    scheduleBind();
    return statusOk;
}

void PortalHotKeyService::unregisterHotKey(quint32 id)
{
    if (m_hotKeys.remove(id))
        scheduleBind();
}

std::optional<QString> PortalHotKeyService::layoutCharacter(qint64 keyCode)
{
    return m_keys ? m_keys->layoutCharacter(keyCode) : std::nullopt;
}

std::optional<HotKeyService::KeyCombo> PortalHotKeyService::keyComboFromNative(quint32 nativeKeyCode,
                                                                               quint32 nativeModifiers)
{
    return m_keys ? m_keys->keyComboFromNative(nativeKeyCode, nativeModifiers) : std::nullopt;
}

QList<HotKeyService::KeyCombo> PortalHotKeyService::systemShortcuts()
{
    return m_keys ? m_keys->systemShortcuts() : QList<KeyCombo>{};
}

// Registrations come in bursts (a trial registration and its release, a shortcut replaced by
// another): they are bound together, once the burst is over.
void PortalHotKeyService::scheduleBind()
{
    m_bindWanted = true;
    if (m_bindScheduled || m_binding)
        return;
    m_bindScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_bindScheduled = false;
        bindLoop();
    });
}

QCoro::Task<> PortalHotKeyService::bindLoop()
{
    QPointer<PortalHotKeyService> self(this);
    m_binding = true;
    while (m_bindWanted) {
        m_bindWanted = false;
        const bool ok = co_await bindOnce();
        if (!self)
            co_return;
        // A change that came during the binding is bound next; only the last outcome is told.
        if (!m_bindWanted)
            Q_EMIT bindFinished(ok);
    }
    m_binding = false;
}

QCoro::Task<bool> PortalHotKeyService::bindOnce()
{
    QPointer<PortalHotKeyService> self(this);
    if (!m_hostRegistered) {
        const bool registered = co_await registerWithHost();
        if (!self)
            co_return false;
        m_hostRegistered = registered;
    }
    closeSession();
    if (m_hotKeys.isEmpty())
        co_return true;
    const std::optional<QString> session = co_await createSession();
    if (!self || !session)
        co_return false;
    m_session = *session;
    m_options.bus.connect(QLatin1String(PortalNames::service), m_session, QLatin1String(PortalNames::sessionInterface),
                          QStringLiteral("Closed"), this, SLOT(onSessionClosed(QDBusMessage)));
    const bool bound = co_await bindShortcuts(*session);
    if (!self)
        co_return false;
    co_return bound;
}

// Where the portal keeps a registry of host applications (1.19 and later), an application that
// does not register first is taken for one without an identity; older portals do without.
QCoro::Task<bool> PortalHotKeyService::registerWithHost()
{
    QPointer<PortalHotKeyService> self(this);
    const QDBusMessage introspect = portalCall("org.freedesktop.DBus.Introspectable", QStringLiteral("Introspect"));
    const QDBusMessage description = co_await callPortal(m_options.bus, introspect, m_options.timeouts.call);
    if (!self)
        co_return false;
    if (description.type() != QDBusMessage::ReplyMessage) {
        qCWarning(AppLogger::hotkey, "desktop portal not reachable: %s", qPrintable(description.errorMessage()));
        co_return false;
    }
    const QString xml = description.arguments().value(0).toString();
    if (!xml.contains(QStringLiteral("\"%1\"").arg(QLatin1String(PortalNames::registry))))
        co_return true; // nothing to register with
    QDBusMessage registerCall = portalCall(PortalNames::registry, QStringLiteral("Register"));
    registerCall << m_options.appId << QVariantMap{};
    const QDBusMessage reply = co_await callPortal(m_options.bus, registerCall, m_options.timeouts.call);
    if (!self)
        co_return false;
    if (reply.type() != QDBusMessage::ReplyMessage) {
        // Going on without: the portal then knows the application by its process alone.
        qCWarning(AppLogger::hotkey, "desktop portal registry refused %s: %s", qPrintable(m_options.appId),
                  qPrintable(reply.errorMessage()));
    } else {
        qCInfo(AppLogger::hotkey, "registered with the desktop portal as %s", qPrintable(m_options.appId));
    }
    co_return true;
}

QCoro::Task<std::optional<QString>> PortalHotKeyService::createSession()
{
    QPointer<PortalHotKeyService> self(this);
    // Following the answer before the call is sent: it may come right after the reply.
    auto request = std::make_unique<PortalRequest>(m_options.bus);
    const QString sessionToken = PortalRequest::nextToken(QStringLiteral("murlex_session"));
    QDBusMessage create = portalCall(PortalNames::globalShortcuts, QStringLiteral("CreateSession"));
    create << QVariantMap{{QStringLiteral("handle_token"), request->handleToken()},
                          {QStringLiteral("session_handle_token"), sessionToken}};
    const QDBusMessage reply = co_await callPortal(m_options.bus, create, m_options.timeouts.call);
    if (!self)
        co_return std::nullopt;
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCWarning(AppLogger::hotkey, "GlobalShortcuts CreateSession failed: %s", qPrintable(reply.errorMessage()));
        co_return std::nullopt;
    }
    request->follow(reply.arguments().value(0).value<QDBusObjectPath>().path());
    const std::optional<PortalRequest::Answer> answer = co_await request->answer(m_options.timeouts.answer);
    if (!self || !answer)
        co_return std::nullopt;
    const QString session = sessionHandleOf(answer->results);
    if (answer->response != 0 || session.isEmpty()) {
        qCWarning(AppLogger::hotkey, "GlobalShortcuts CreateSession answered %u", answer->response);
        co_return std::nullopt;
    }
    co_return session;
}

QCoro::Task<bool> PortalHotKeyService::bindShortcuts(const QString &session)
{
    QPointer<PortalHotKeyService> self(this);
    QList<PortalShortcut> shortcuts;
    QHash<QString, quint32> bound;
    for (auto it = m_hotKeys.cbegin(); it != m_hotKeys.cend(); ++it) {
        const QString portalId = portalIdOf(it.key());
        bound.insert(portalId, it.key());
        shortcuts.append({portalId,
                          {{QStringLiteral("description"), m_options.description},
                           {QStringLiteral("preferred_trigger"), preferredTrigger(it.value()).value_or(QString())}}});
    }
    auto request = std::make_unique<PortalRequest>(m_options.bus);
    QDBusMessage bind = portalCall(PortalNames::globalShortcuts, QStringLiteral("BindShortcuts"));
    bind << QVariant::fromValue(QDBusObjectPath(session)) << QVariant::fromValue(shortcuts) << QString()
         << QVariantMap{{QStringLiteral("handle_token"), request->handleToken()}};
    const QDBusMessage reply = co_await callPortal(m_options.bus, bind, m_options.timeouts.call);
    if (!self)
        co_return false;
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCWarning(AppLogger::hotkey, "GlobalShortcuts BindShortcuts failed: %s", qPrintable(reply.errorMessage()));
        co_return false;
    }
    request->follow(reply.arguments().value(0).value<QDBusObjectPath>().path());
    const std::optional<PortalRequest::Answer> answer = co_await request->answer(m_options.timeouts.answer);
    if (!self || !answer)
        co_return false;
    if (answer->response != 0) {
        qCWarning(AppLogger::hotkey, "GlobalShortcuts BindShortcuts answered %u (%s)", answer->response,
                  answer->response == 1 ? "declined" : "failed");
        co_return false;
    }
    if (session != m_session)
        co_return false; // closed meanwhile
    m_bound = bound;
    QList<PortalShortcut> granted;
    answer->results.value(QStringLiteral("shortcuts")).value<QDBusArgument>() >> granted;
    for (const PortalShortcut &shortcut : granted)
        qCInfo(AppLogger::hotkey, "GlobalShortcuts bound %s to %s", qPrintable(shortcut.id),
               qPrintable(shortcut.properties.value(QStringLiteral("trigger_description")).toString()));
    if (granted.isEmpty())
        qCInfo(AppLogger::hotkey, "GlobalShortcuts bound %lld shortcut(s), no trigger reported", qint64(bound.size()));
    co_return true;
}

void PortalHotKeyService::closeSession()
{
    releaseHeld();
    m_bound.clear();
    if (m_session.isEmpty())
        return;
    m_options.bus.disconnect(QLatin1String(PortalNames::service), m_session, QLatin1String(PortalNames::sessionInterface),
                             QStringLiteral("Closed"), this, SLOT(onSessionClosed(QDBusMessage)));
    // No answer is awaited: the portal closes a session at once, and drops it when we leave the bus.
    // A portal that is gone has nothing to close: it is not started for this.
    QDBusMessage close = portalCall(PortalNames::sessionInterface, QStringLiteral("Close"), m_session);
    close.setAutoStartService(false);
    m_options.bus.send(close);
    m_session.clear();
}

// A shortcut held while its session goes away would never be let go.
void PortalHotKeyService::releaseHeld()
{
    const QSet<quint32> held = std::exchange(m_held, {});
    for (const quint32 id : held)
        Q_EMIT hotKeyReleased(id);
}

QString PortalHotKeyService::portalIdOf(quint32 id) const
{
    // The first registration is the shortcut itself; any other one is told apart by its number.
    return id == m_hotKeys.firstKey() ? m_options.shortcutId : m_options.shortcutId + u'-' + QString::number(id);
}

std::optional<quint32> PortalHotKeyService::idOf(const QDBusMessage &message) const
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2 || m_session.isEmpty())
        return std::nullopt;
    if (arguments.at(0).value<QDBusObjectPath>().path() != m_session)
        return std::nullopt;
    const auto it = m_bound.constFind(arguments.at(1).toString());
    if (it == m_bound.cend() || !m_hotKeys.contains(*it))
        return std::nullopt;
    return *it;
}

void PortalHotKeyService::onActivated(const QDBusMessage &message)
{
    const auto id = idOf(message);
    if (!id || m_held.contains(*id))
        return; // not ours, or a repeat
    m_held.insert(*id);
    Q_EMIT hotKeyPressed(*id);
}

void PortalHotKeyService::onDeactivated(const QDBusMessage &message)
{
    const auto id = idOf(message);
    if (!id || !m_held.remove(*id))
        return;
    Q_EMIT hotKeyReleased(*id);
}

void PortalHotKeyService::onSessionClosed(const QDBusMessage &message)
{
    if (message.path() != m_session)
        return;
    qCWarning(AppLogger::hotkey, "the desktop closed the GlobalShortcuts session %s", qPrintable(m_session));
    releaseHeld();
    m_bound.clear();
    m_session.clear();
}

void PortalHotKeyService::onShortcutsChanged(const QDBusMessage &message)
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2 || arguments.at(0).value<QDBusObjectPath>().path() != m_session)
        return;
    QList<PortalShortcut> shortcuts;
    arguments.at(1).value<QDBusArgument>() >> shortcuts;
    for (const PortalShortcut &shortcut : shortcuts)
        qCInfo(AppLogger::hotkey, "GlobalShortcuts: %s is now %s", qPrintable(shortcut.id),
               qPrintable(shortcut.properties.value(QStringLiteral("trigger_description")).toString()));
}
