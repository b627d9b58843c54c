#pragma once

#include "app/DictationController.h"
#include "app/HistoryPaster.h"
#include "app/Phase.h"
#include "injection/TextInjection.h"
#include "platform/DesktopSession.h"
#include "shortcuts/Shortcut.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class AccessTokenProvider;
class AudioCapture;
class AudioCaptureEngine;
class DictationHistory;
class DictationPreferences;
class GlobalHotkey;
class HotWordsSource;
class HotWordsStore;
class LoginItemController;
class PermissionChecker;
class OverlayController;
class QSettings;
class SoundCueController;
class TextInjection;
class VoiceSocket;

// The one shared, observable state of the application and the owner of its long-lived
// components. Every field is a Qt property whose change is signalled (only on an actual change);
// all of it is read and written on the main thread.
//
// Components are built on first access and kept for the life of the state; none is ever
// replaced. By default they are the application's own (the PulseAudio capture engine, the
// clipboard injector, the keyring account, the settings-backed hot words store); a test installs
// factories of its own once, before first use (see Components).
//
// The launch services (diagnostics, the global shortcut, the device watch, the hot words sync at
// launch, usage figures) start in bootstrap() only for the application's state: shared(), or any
// state built with Options::launchServices.
class AppState : public QObject {
    Q_OBJECT
    Q_PROPERTY(Phase phase READ phase WRITE setPhase NOTIFY phaseChanged)
    Q_PROPERTY(QString partialText READ partialText WRITE setPartialText NOTIFY partialTextChanged)
    Q_PROPERTY(QString lastInjectedText READ lastInjectedText WRITE setLastInjectedText NOTIFY lastInjectedTextChanged)
    Q_PROPERTY(bool debugMode READ debugMode WRITE setDebugMode NOTIFY debugModeChanged)
    Q_PROPERTY(bool isConnected READ isConnected WRITE setConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(std::optional<KeyboardShortcuts::Shortcut> hotkeyShortcut READ hotkeyShortcut NOTIFY hotkeyShortcutChanged)

public:
    using Phase = ::Phase;

    // How long an error stays before the phase returns to idle.
    static constexpr std::chrono::milliseconds errorDisplayTime = std::chrono::seconds(3);
    // The settings key of debugMode.
    static constexpr const char *debugModeKey = "debugMode";

    // Builders of the components whose real classes come from other areas. Each is called at
    // most once, on first access of its component. Without installed factories the application's
    // own components are built.
    struct Components {
        std::function<std::unique_ptr<AudioCapture>()> audioEngine;
        std::function<std::unique_ptr<TextInjection>()> injector;
        std::function<std::unique_ptr<AccessTokenProvider>()> tokenProvider;
        std::function<std::unique_ptr<HotWordsSource>()> hotWordsStore;
    };

    // Runs `action` once, `delay` from now, on the state's thread. The default is a precise
    // single-shot timer; a test passes one that records the delay and fires when it says so.
    using Scheduler = std::function<void(std::chrono::milliseconds delay, std::function<void()> action)>;

    struct Options {
        std::chrono::milliseconds errorResetDelay = errorDisplayTime;
        // How the error's return to idle is scheduled (empty: a timer).
        Scheduler schedule;
        // An INI file to keep the settings in; empty for the application's standard store.
        QString settingsPath;
        DictationController::Timing dictationTiming;
        // The file of the dictation history; empty for the application's data directory.
        QString historyPath;
        HistoryPaster::Timing historyPasteTiming;
        // Start the running application's services in bootstrap() (the shared state does).
        bool launchServices = false;
    };

    // The process-wide instance, created on first use (after the application object exists, with
    // its organisation and application names set), with the launch services.
    static AppState &shared();

    // A standalone state (the shared one is built with the defaults). Schedules bootstrap() on the
    // event loop.
    explicit AppState(QObject *parent = nullptr);
    explicit AppState(Options options, QObject *parent = nullptr);
    ~AppState() override;

    // Installs the component factories (an empty one keeps the application's own component).
    // Refused (false, logged) once any of those components has been built, since built
    // components are never replaced.
    bool installComponents(Components components);

    Phase phase() const { return m_phase; }
    QString partialText() const { return m_partialText; }
    QString lastInjectedText() const { return m_lastInjectedText; }
    bool debugMode() const { return m_debugMode; }
    bool isConnected() const { return m_isConnected; }
    // The stored global shortcut of the toggle, as last read by refreshHotkeyShortcut().
    std::optional<KeyboardShortcuts::Shortcut> hotkeyShortcut() const { return m_hotkeyShortcut; }

    void setPhase(const Phase &phase);
    void setPartialText(const QString &text);
    void setLastInjectedText(const QString &text);
    void setDebugMode(bool enabled);
    void setConnected(bool connected);
    // Reads the stored global shortcut into hotkeyShortcut.
    void refreshHotkeyShortcut();
    // What the desktop session offers, once its probe at start has answered (none before that).
    std::optional<DesktopSession> desktopSession() const { return m_desktopSession; }
    void setDesktopSession(const std::optional<DesktopSession> &session);

    // The single way a failure reaches the user: logs the message, shows it as the error phase,
    // and returns the phase to idle errorResetDelay later if it is then still an error. That
    // return is never cancelled, so a newer error only stays for what is left of the older one's time.
    void setError(const QString &message);

    // Entry points for callbacks that run on other threads (the global shortcut, the capture
    // engine's device watcher): each only schedules its work on this object's thread.
    void requestToggle();                  // toggle() of the dictation controller
    void audioDeviceChangedDuringCapture(); // the device-change error
    void requestPasteLast();               // the newest history text into the focused field

    // Lazily built components.
    AudioCapture &audioEngine();
    VoiceSocket &voiceSocket();
    TextInjection &injector();
    AccessTokenProvider &tokenProvider();
    HotWordsSource &hotWordsStore();
    DictationController &dictation();
    // The application's global shortcut (built on first access).
    GlobalHotkey &hotkey();
    // Launch at login, and the permissions the application needs (built on first access).
    LoginItemController &loginItem();
    PermissionChecker &permissions();
    // The recording overlay (built on first access; bound to this state by the launch services).
    OverlayController &overlay();
    // The options beyond the standard behaviour, over this state's settings (built on first access).
    DictationPreferences &preferences();
    // The last dictated texts, and pasting them again (built on first access).
    DictationHistory &history();
    HistoryPaster &historyPaster();
    // Whether the dictation controller (and with it the socket and the injector) exists yet.
    bool hasDictation() const { return m_dictation != nullptr; }
    bool hasVoiceSocket() const { return m_voiceSocket != nullptr; }

Q_SIGNALS:
    void phaseChanged(const Phase &phase);
    void partialTextChanged(const QString &text);
    void lastInjectedTextChanged(const QString &text);
    void debugModeChanged(bool enabled);
    void isConnectedChanged(bool connected);
    void hotkeyShortcutChanged();
    void desktopSessionChanged();
    // What became of a dictated text given to the injector, told by the dictation controller as
    // soon as it knows, while the phase is still injecting (a failure then turns into the error).
    void textDelivered(TextInjection::Outcome outcome);

private:
    void bootstrap();
    void installApplicationComponents();
    void reportPhaseToDiagnostics(const Phase &phase);
    void reportSocketEventToDiagnostics(const VoiceSocketEvent &event);
    template <typename T>
    T &build(std::unique_ptr<T> &slot, const std::function<std::unique_ptr<T>()> &factory, const char *name);

    Options m_options;
    std::unique_ptr<QSettings> m_settings;
    Components m_components;

    Phase m_phase;
    QString m_partialText;
    QString m_lastInjectedText;
    bool m_debugMode = false;
    bool m_isConnected = false;
    bool m_reportSocketEvents = false; // diagnostics hear the socket's events once it exists
    std::optional<KeyboardShortcuts::Shortcut> m_hotkeyShortcut;
    std::optional<DesktopSession> m_desktopSession;

    // Declared in dependency order: the controller, which uses the others, goes first on destruction.
    std::unique_ptr<AudioCapture> m_audioEngine;
    std::unique_ptr<VoiceSocket> m_voiceSocket;
    std::unique_ptr<TextInjection> m_injector;
    std::unique_ptr<AccessTokenProvider> m_tokenProvider;
    std::unique_ptr<HotWordsSource> m_hotWordsStore;
    std::unique_ptr<DictationController> m_dictation;
    std::unique_ptr<GlobalHotkey> m_hotkey;
    std::unique_ptr<LoginItemController> m_loginItem;
    std::unique_ptr<PermissionChecker> m_permissions;
    std::unique_ptr<DictationPreferences> m_preferences;
    std::unique_ptr<SoundCueController> m_soundCues; // a launch service: the start and stop sounds
    std::unique_ptr<DictationHistory> m_history;
    std::unique_ptr<HistoryPaster> m_historyPaster;
    // Typed views of the application's own components, while those are the ones in use (the
    // device watch and the launch sync are theirs alone); null with installed factories.
    AudioCaptureEngine *m_captureEngine = nullptr;
    HotWordsStore *m_hotWordsStoreImpl = nullptr;
    // Last: it watches this state and goes first.
    std::unique_ptr<OverlayController> m_overlay;
};
