#include "platform/Platform.h"

#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/crash/LinuxCrashRecorder.h"
#include "platform/linux/desktop/DesktopSettingsLauncher.h"
#include "platform/linux/desktop/FreedesktopNotifications.h"
#include "platform/linux/desktop/XdgAutostartLoginItem.h"
#include "platform/linux/process/LinuxProcessInfo.h"
#include "platform/linux/portal/PortalHotKeyService.h"
#include "platform/linux/pulse/LinuxMicrophonePermission.h"
#include "platform/linux/pulse/PulseAudioSystem.h"
#include "platform/linux/pulse/PulseInputSources.h"
#include "platform/linux/pulse/PulseSamplePlayer.h"
#include "platform/linux/secret/LibsecretStore.h"
#include "platform/linux/x11/QtClipboard.h"
#include "platform/linux/x11/X11DisplayCheck.h"
#include "platform/linux/x11/X11FloatingWindow.h"
#include "platform/linux/x11/X11FocusedWindow.h"
#include "platform/linux/x11/X11HotKeyService.h"
#include "platform/linux/x11/X11KeyGrab.h"
#include "platform/linux/x11/XTestKeySynthesis.h"

#include "core/AppIdentity.h"

#include <QDBusConnection>
#include <QSettings>

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

std::unique_ptr<Clipboard> Platform::clipboard()
{
    return std::make_unique<QtClipboard>();
}

std::unique_ptr<KeySynthesis> Platform::keySynthesis(const QByteArray &display)
{
    return std::make_unique<XTestKeySynthesis>(display);
}

std::unique_ptr<FocusedWindow> Platform::focusedWindow(const QByteArray &display)
{
    return std::make_unique<X11FocusedWindow>(display);
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

QCoro::Task<std::optional<uint>> Platform::globalShortcutsPortalVersion()
{
    return PortalHotKeyService::globalShortcutsVersion(QDBusConnection::sessionBus(), PortalTimeouts{}.call);
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
