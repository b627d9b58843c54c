#include "platform/Platform.h"

#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/crash/LinuxCrashRecorder.h"
#include "platform/linux/desktop/DesktopSettingsLauncher.h"
#include "platform/linux/desktop/FreedesktopNotifications.h"
#include "platform/linux/desktop/XdgAutostartLoginItem.h"
#include "platform/linux/fcitx5/Fcitx5Commit.h"
#include "platform/linux/process/LinuxProcessInfo.h"
#include "platform/linux/portal/PortalClipboard.h"
#include "platform/linux/portal/PortalHotKeyService.h"
#include "platform/linux/portal/RemoteDesktopKeySynthesis.h"
#include "platform/linux/pulse/LinuxMicrophonePermission.h"
#include "platform/linux/pulse/PulseAudioSystem.h"
#include "platform/linux/pulse/PulseInputSources.h"
#include "platform/linux/pulse/PulseSamplePlayer.h"
#include "platform/linux/secret/LibsecretStore.h"
#include "platform/linux/wayland/ClipboardOnlyKeySynthesis.h"
#include "platform/linux/wayland/DataControlClipboard.h"
#include "platform/linux/wayland/FakeInputKeySynthesis.h"
#include "platform/linux/wayland/ToplevelFocusedWindow.h"
#include "platform/linux/wayland/VirtualKeyboardKeySynthesis.h"
#include "platform/linux/wayland/WaylandConnection.h"
#include "platform/linux/wayland/WaylandSessionProbe.h"
#include "platform/linux/x11/QtClipboard.h"
#include "platform/linux/x11/X11DisplayCheck.h"
#include "platform/linux/x11/X11FloatingWindow.h"
#include "platform/linux/x11/X11FocusedWindow.h"
#include "platform/linux/x11/X11HotKeyService.h"
#include "platform/linux/x11/X11KeyCodes.h"
#include "platform/linux/x11/X11KeyGrab.h"
#include "platform/linux/x11/XTestKeySynthesis.h"

#include "app/AppLogger.h"
#include "core/AppIdentity.h"

#include <QCoro/QCoroTask>
#include <QDBusConnection>
#include <QSettings>

#include <xkbcommon/xkbcommon.h>

std::shared_ptr<AudioSystem> Platform::audioSystem(const QString &server)
{
    return std::make_shared<PulseAudioSystem>(server);
}

std::shared_ptr<AudioSystem> Platform::audioSystem(const QString &server, std::chrono::milliseconds operationTimeout)
{
    return std::make_shared<PulseAudioSystem>(server, operationTimeout);
}

std::shared_ptr<MicrophonePermission> Platform::microphonePermission(std::shared_ptr<AudioSystem> audio,
                                                                     std::unique_ptr<QSettings> settings)
{
    return std::make_shared<LinuxMicrophonePermission>(std::move(audio), std::move(settings));
}

std::unique_ptr<InputSources> Platform::inputSources(const QString &server)
{
    return std::make_unique<PulseInputSources>(server);
}

std::unique_ptr<SamplePlayer> Platform::samplePlayer(const QString &server)
{
    return std::make_unique<PulseSamplePlayer>(server);
}

DesktopSession Platform::desktopSession()
{
    if (WaylandSessionProbe::sessionKind() != DesktopSession::Kind::wayland)
        return WaylandSessionProbe::compositorFacts(nullptr);
    const std::shared_ptr<WaylandConnection> connection = WaylandConnection::session();
    return WaylandSessionProbe::compositorFacts(connection.get());
}

namespace {
std::optional<DesktopSession> &lastProbe()
{
    static std::optional<DesktopSession> probed;
    return probed;
}
} // namespace

QCoro::Task<DesktopSession> Platform::probeDesktopSession()
{
    const DesktopSession compositor = desktopSession();
    const DesktopSession session = co_await WaylandSessionProbe::addBusFacts(compositor);
    qCInfo(AppLogger::app, "desktop %s", qUtf8Printable(session.describe()));
    lastProbe() = session;
    co_return session;
}

std::optional<DesktopSession> Platform::probedDesktopSession()
{
    return lastProbe();
}

namespace {
// The process's one RemoteDesktop session, shared by the paste chord's keys and the clipboard so
// that the desktop asks once; it ends with the last of them.
std::shared_ptr<RemoteDesktopSession> sharedRemoteDesktopSession()
{
    static std::weak_ptr<RemoteDesktopSession> shared;
    std::shared_ptr<RemoteDesktopSession> session = shared.lock();
    if (!session) {
        session = std::make_shared<RemoteDesktopSession>(RemoteDesktopSession::Options{});
        shared = session;
    }
    return session;
}
} // namespace

std::unique_ptr<Clipboard> Platform::clipboard()
{
    const DesktopSession session = desktopSession();
    if (session.kind == DesktopSession::Kind::wayland && !session.dataControl()) {
        // GNOME's way: the portal's clipboard on the keys' RemoteDesktop session, unless the probe
        // found the portal without it. Until that session has started with clipboard access, and
        // whenever the portal does not answer, XWayland's clipboard, which mutter mirrors.
        const std::optional<DesktopSession> probed = probedDesktopSession();
        if (!probed || probed->clipboardPortal > 0)
            return std::make_unique<PortalClipboard>(sharedRemoteDesktopSession(), std::make_unique<QtClipboard>());
    }
    if (session.kind == DesktopSession::Kind::wayland && session.dataControl()) {
        // The ext protocol is the standard successor; compositors offering both mean the same.
        auto clipboard = std::make_unique<DataControlClipboard>(
            WaylandConnection::session(), session.extDataControl ? DataControlClipboard::Protocol::ext()
                                                                 : DataControlClipboard::Protocol::wlr());
        if (clipboard->isReady())
            return clipboard;
    }
    // X11, or a Wayland compositor without data-control: XWayland's clipboard, which the
    // compositor mirrors to Wayland applications where it does so at all.
    return std::make_unique<QtClipboard>();
}

std::unique_ptr<InputMethodCommit> Platform::inputMethodCommit()
{
    return inputMethodCommit(InputMethodCommit::defaultReplyTimeout);
}

std::unique_ptr<InputMethodCommit> Platform::inputMethodCommit(std::chrono::milliseconds replyTimeout)
{
    return std::make_unique<Fcitx5Commit>(QDBusConnection::sessionBus(), replyTimeout);
}

std::unique_ptr<KeySynthesis> Platform::keySynthesis(const QByteArray &display)
{
    const DesktopSession session = desktopSession();
    if (!display.isEmpty() || session.kind == DesktopSession::Kind::x11)
        return std::make_unique<XTestKeySynthesis>(display);
    switch (session.textPath()) {
    case DesktopSession::TextPath::dataControlFakeInput:
        return std::make_unique<FakeInputKeySynthesis>(WaylandConnection::session());
    case DesktopSession::TextPath::dataControlVirtualKeyboard:
        return std::make_unique<VirtualKeyboardKeySynthesis>(WaylandConnection::session());
    case DesktopSession::TextPath::x11:
        break;
    case DesktopSession::TextPath::remoteDesktop:
    case DesktopSession::TextPath::clipboardOnly:
        // Without the compositor's protocols, the keys go through the portal's RemoteDesktop
        // session where the portal offers one. That is known from the session bus once the
        // probe has answered (or the first paste has asked); until then, and without it, the text
        // stays on the clipboard.
        return std::make_unique<RemoteDesktopKeySynthesis>(sharedRemoteDesktopSession(),
                                                           std::make_unique<FreedesktopNotifications>());
    }
    return std::make_unique<ClipboardOnlyKeySynthesis>();
}

std::unique_ptr<FocusedWindow> Platform::focusedWindow(const QByteArray &display)
{
    if (!display.isEmpty() || WaylandSessionProbe::sessionKind() == DesktopSession::Kind::x11)
        return std::make_unique<X11FocusedWindow>(display);
    return std::make_unique<ToplevelFocusedWindow>(WaylandConnection::session());
}

std::unique_ptr<Accessibility> Platform::accessibility()
{
    return std::make_unique<AtspiAccessibility>();
}

std::unique_ptr<FloatingWindow> Platform::floatingWindow()
{
    return std::make_unique<X11FloatingWindow>();
}

HotKeyService *Platform::hotKeyService(QObject *parent)
{
    return X11HotKeyService::create(parent);
}

HotKeyService *Platform::portalHotKeyService(QObject *parent, PortalTimeouts timeouts)
{
    PortalHotKeyService::Options options;
    options.appId = QString(QLatin1String(AppIdentity::bundleIdentifier));
    options.timeouts = timeouts;
    // Asked about key events in our own windows only; owned by the portal service.
    X11HotKeyService *keys = X11HotKeyService::create(nullptr);
    auto *service = new PortalHotKeyService(std::move(options), keys, parent);
    if (keys)
        keys->setParent(service);
    return service;
}

std::optional<QString> Platform::keyName(qint64 keyCode)
{
    const std::optional<quint32> keysym = X11KeyCodes::keysymFor(keyCode);
    char name[64];
    if (!keysym || xkb_keysym_get_name(*keysym, name, sizeof name) <= 0)
        return std::nullopt;
    return QString::fromLatin1(name);
}

std::unique_ptr<KeyGrab> Platform::keyGrab(qint64 keyCode)
{
    return std::unique_ptr<KeyGrab>(X11KeyGrab::create(keyCode));
}

SecretStore &Platform::secretStore()
{
    static LibsecretStore store;
    return store;
}

std::unique_ptr<SecretStore> Platform::secretStore(std::chrono::milliseconds callTimeout)
{
    return std::make_unique<LibsecretStore>(callTimeout);
}

std::unique_ptr<DesktopNotifications> Platform::desktopNotifications()
{
    return std::make_unique<FreedesktopNotifications>();
}

std::unique_ptr<SystemSettings> Platform::systemSettings()
{
    return std::make_unique<DesktopSettingsLauncher>();
}

std::unique_ptr<LoginItemService> Platform::loginItemService()
{
    return std::make_unique<XdgAutostartLoginItem>();
}

std::unique_ptr<LoginItemService> Platform::loginItemService(const LoginItemService::Paths &paths)
{
    return std::make_unique<XdgAutostartLoginItem>(paths);
}

std::optional<QString> Platform::displayProblem()
{
    return X11DisplayCheck::problem();
}

CrashRecorder &Platform::crashRecorder()
{
    return LinuxCrashRecorder::instance();
}

const ProcessInfo &Platform::processInfo()
{
    static const LinuxProcessInfo info;
    return info;
}
