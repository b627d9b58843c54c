#pragma once

#include "platform/DesktopSession.h"
#include "platform/LoginItemService.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class Accessibility;
class AudioSystem;
class Clipboard;
class CrashRecorder;
class DesktopNotifications;
class FloatingWindow;
class FocusedWindow;
class HotKeyService;
class InputMethodCommit;
class InputSources;
class KeyGrab;
class KeySynthesis;
class MicrophonePermission;
class ProcessInfo;
class QCoreApplication;
class QObject;
class QSettings;
class SamplePlayer;
class SecretStore;
class SystemSettings;
namespace QCoro {
template <typename T> class Task;
}

// The one entry to the operating system's services: every platform service is obtained here, one
// factory per service family, and nothing outside platform/linux/ reaches an implementation any
// other way. The functions are those of the platform this build runs on (platform/linux/).
//
// Arguments that name a server, a display or a bound exist for the callers that need another one
// than the session's (tests, mostly); the defaults are the session's own.
namespace Platform {

// Sound. `server` names a sound server; empty for the session's. `operationTimeout` bounds every
// exchange with it, connecting included (the default is a few seconds).
std::shared_ptr<AudioSystem> audioSystem(const QString &server = {});
std::shared_ptr<AudioSystem> audioSystem(const QString &server, std::chrono::milliseconds operationTimeout);
// Whether the microphone may be used; the flag that the user was asked lives in `settings` (the
// application's own settings when none are given).
std::shared_ptr<MicrophonePermission> microphonePermission(std::shared_ptr<AudioSystem> audio,
                                                           std::unique_ptr<QSettings> settings = {});
// The sound server's input sources, followed while started, and short sounds played through it;
// each has a connection of its own to the server, made when first needed.
std::unique_ptr<InputSources> inputSources(const QString &server = {});
std::unique_ptr<SamplePlayer> samplePlayer(const QString &server = {});

// The desktop session: its kind and, under Wayland, the compositor's protocols (the compositor's
// answer bounded). The text injection's services below follow from it.
DesktopSession desktopSession();
// desktopSession() completed from the session bus (the desktop portal's interfaces, the input-method
// frameworks), every call bounded so a missing portal holds nothing up; logs one line with what
// was found and the way text takes.
QCoro::Task<DesktopSession> probeDesktopSession();
// What the last probeDesktopSession() of this process found; none before one has finished.
std::optional<DesktopSession> probedDesktopSession();

// Text injection, through the session's own means (X11, or the Wayland compositor's protocols
// where it offers them). `display` names an X display; empty for the session's. Where the
// compositor has no such protocols (GNOME), the clipboard and the paste chord's keys share the
// process's one session of the desktop portal's RemoteDesktop interface, started by the keys'
// prepare() with one dialog of the desktop; the clipboard then goes through the portal's
// Clipboard interface where the portal has it, else through XWayland.
std::unique_ptr<Clipboard> clipboard();
std::unique_ptr<KeySynthesis> keySynthesis(const QByteArray &display = {});
std::unique_ptr<FocusedWindow> focusedWindow(const QByteArray &display = {});
std::unique_ptr<Accessibility> accessibility();
// The input method framework's direct commit into the focused field (Fcitx5 with Murlex's module),
// giving up on an answer after `replyTimeout` (InputMethodCommit::defaultReplyTimeout by default).
std::unique_ptr<InputMethodCommit> inputMethodCommit();
std::unique_ptr<InputMethodCommit> inputMethodCommit(std::chrono::milliseconds replyTimeout);

// A floating status window's needs beyond the toolkit (pointer pass-through, staying on top).
std::unique_ptr<FloatingWindow> floatingWindow();

// Global hot keys on the display the application runs on, owned by `parent`; nullptr when there
// is no display.
HotKeyService *hotKeyService(QObject *parent);
// Global hot keys through the desktop portal's GlobalShortcuts interface on the session bus (for
// Wayland sessions), owned by `parent`; key events in the application's own windows are read
// through the display's hot-key service. Every method call to the portal is bounded by `call`,
// the wait for a request's answer by `answer` (binding may wait for the person to confirm the keys
// in a dialog of the desktop).
struct PortalTimeouts {
    std::chrono::milliseconds call{5000};
    std::chrono::milliseconds answer{std::chrono::minutes(2)};
};
HotKeyService *portalHotKeyService(QObject *parent, PortalTimeouts timeouts = {});

// How long the clipboard through the desktop portal waits: for each reply of the portal (a
// snapshot or a set waits for it without running the event loop, so it stays short), for the
// owner to hand over every format of a snapshot, and for a reader to take what we offer.
struct PortalClipboardBounds {
    std::chrono::milliseconds call{500};
    std::chrono::milliseconds read{1000};
    std::chrono::milliseconds serve{5000};
};
// The name key bindings of the desktop write for the key with this kVK_ virtual key code: the
// xkb keysym name of that key on a US layout ("space", "k", "Return", "F5"); none for a key
// without one.
std::optional<QString> keyName(qint64 keyCode);
// The key with this kVK_ virtual key code, ready to be taken from the display for a while; nullptr
// when there is no display.
std::unique_ptr<KeyGrab> keyGrab(qint64 keyCode);

// The user's secret store (process-wide, never destroyed), and one whose calls give up after
// `callTimeout`.
SecretStore &secretStore();
std::unique_ptr<SecretStore> secretStore(std::chrono::milliseconds callTimeout);

// The desktop: notification bubbles, its own settings tools, and starting at login (for the
// running executable, or for the given paths).
std::unique_ptr<DesktopNotifications> desktopNotifications();
std::unique_ptr<SystemSettings> systemSettings();
std::unique_ptr<LoginItemService> loginItemService();
std::unique_ptr<LoginItemService> loginItemService(const LoginItemService::Paths &paths);

// The line to print when the application cannot show itself here (no display it can use); none
// when it can. Asked before the application object exists.
std::optional<QString> displayProblem();

// This process (process-wide, never destroyed).
CrashRecorder &crashRecorder();
const ProcessInfo &processInfo();

// SIGINT and SIGTERM end the event loop of `app` the normal way, on the main thread: `onSignal`
// runs first, then quit(). False when the handlers cannot be installed. Once per process.
bool quitOnTerminationSignals(QCoreApplication &app, std::function<void()> onSignal = {});

} // namespace Platform
