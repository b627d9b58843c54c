#include "platform/linux/wayland/WaylandSessionProbe.h"

#include "platform/linux/wayland/WaylandConnection.h"

#include <QCoroSignal>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QPointer>

#include <memory>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");

QDBusPendingCall portalVersion(const QDBusConnection &bus, const QString &interface, std::chrono::milliseconds bound)
{
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath,
                                                       QStringLiteral("org.freedesktop.DBus.Properties"),
                                                       QStringLiteral("Get"));
    call << QStringLiteral("org.freedesktop.portal.") + interface << QStringLiteral("version");
    return bus.asyncCall(call, static_cast<int>(bound.count()));
}

QDBusPendingCall nameHasOwner(const QDBusConnection &bus, const QString &name, std::chrono::milliseconds bound)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                       QStringLiteral("/org/freedesktop/DBus"),
                                                       QStringLiteral("org.freedesktop.DBus"),
                                                       QStringLiteral("NameHasOwner"));
    call << name;
    return bus.asyncCall(call, static_cast<int>(bound.count()));
}

// The call's single answer; an invalid variant when it failed or timed out (the bus ends the call
// at its timeout, so this never waits longer).
QCoro::Task<QVariant> answer(QDBusPendingCall call)
{
    if (!call.isFinished()) {
        auto watcher = std::make_unique<QDBusPendingCallWatcher>(call);
        co_await qCoro(watcher.get(), &QDBusPendingCallWatcher::finished);
    }
    const QDBusMessage reply = call.reply();
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        co_return QVariant();
    QVariant value = reply.arguments().constFirst();
    if (value.canConvert<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    co_return value;
}

} // namespace

DesktopSession::Kind WaylandSessionProbe::sessionKind()
{
    const QByteArray type = qgetenv("XDG_SESSION_TYPE");
    if (type == "x11")
        return DesktopSession::Kind::x11;
    if (type == "wayland" || !qgetenv("WAYLAND_DISPLAY").isEmpty())
        return DesktopSession::Kind::wayland;
    return DesktopSession::Kind::x11;
}

DesktopSession WaylandSessionProbe::compositorFacts(const WaylandConnection *connection)
{
    DesktopSession facts;
    facts.kind = sessionKind();
    if (facts.kind != DesktopSession::Kind::wayland || !connection)
        return facts;
    facts.wlrDataControl = connection->hasGlobal("zwlr_data_control_manager_v1");
    facts.extDataControl = connection->hasGlobal("ext_data_control_manager_v1");
    facts.virtualKeyboard = connection->hasGlobal("zwp_virtual_keyboard_manager_v1");
    facts.kdeFakeInput = connection->hasGlobal("org_kde_kwin_fake_input");
    facts.foreignToplevel = connection->hasGlobal("zwlr_foreign_toplevel_manager_v1");
    return facts;
}

QCoro::Task<DesktopSession> WaylandSessionProbe::addBusFacts(DesktopSession facts, std::chrono::milliseconds bound)
{
    if (facts.kind != DesktopSession::Kind::wayland)
        co_return facts;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        co_return facts;
    // All asked at once, so the whole probe takes at most one bound.
    QDBusPendingCall shortcuts = portalVersion(bus, QStringLiteral("GlobalShortcuts"), bound);
    QDBusPendingCall remoteDesktop = portalVersion(bus, QStringLiteral("RemoteDesktop"), bound);
    QDBusPendingCall clipboard = portalVersion(bus, QStringLiteral("Clipboard"), bound);
    QDBusPendingCall fcitx = nameHasOwner(bus, QStringLiteral("org.fcitx.Fcitx5"), bound);
    QDBusPendingCall ibus = nameHasOwner(bus, QStringLiteral("org.freedesktop.IBus"), bound);

    const QVariant shortcutsVersion = co_await answer(shortcuts);
    const QVariant remoteDesktopVersion = co_await answer(remoteDesktop);
    const QVariant clipboardVersion = co_await answer(clipboard);
    const QVariant fcitxOwned = co_await answer(fcitx);
    const QVariant ibusOwned = co_await answer(ibus);
    facts.globalShortcutsPortal = shortcutsVersion.toUInt();
    facts.remoteDesktopPortal = remoteDesktopVersion.toUInt();
    facts.clipboardPortal = clipboardVersion.toUInt();
    facts.fcitx5 = fcitxOwned.toBool();
    facts.ibus = ibusOwned.toBool();
    co_return facts;
}
