#include "app/AppState.h"

#include "app/AppLogger.h"
#include "app/CancelKey.h"
#include "app/HistoryPaster.h"
#include "app/ShortcutGesture.h"
#include "app/SoundCueController.h"
#include "audio/AudioCaptureEngine.h"
#include "core/AppIdentity.h"
#include "injection/TextInjector.h"
#include "net/AuthTokenProvider.h"
#include "net/VoiceSocket.h"
#include "platform/KeyGrab.h"
#include "platform/Platform.h"
#include "platform/SamplePlayer.h"
#include "shortcuts/GlobalHotkey.h"
#include "shortcuts/Key.h"
#include "store/DictationHistory.h"
#include "store/DictationPreferences.h"
#include "store/HotWordsStore.h"
#include "store/MetricsKitObserver.h"
#include "ui/LoginItemController.h"
#include "ui/PermissionChecker.h"
#include "ui/OverlayController.h"

#include <QCoro/QCoroTask>
#include <QPointer>
#include <QSettings>
#include <QTimer>

namespace {
std::unique_ptr<QSettings> openSettings(const QString &path)
{
    if (path.isEmpty())
        return std::make_unique<QSettings>();
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}
} // namespace

AppState &AppState::shared()
{
    // Lives until the process ends, like the application itself.
    static AppState *instance = [] {
        Options options;
        options.launchServices = true;
        return new AppState(std::move(options));
    }();
    return *instance;
}

AppState::AppState(QObject *parent)
    : AppState(Options{}, parent)
{
}

AppState::AppState(Options options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_settings(openSettings(m_options.settingsPath))
{
    qRegisterMetaType<Phase>();
    m_debugMode = m_settings->value(QLatin1String(debugModeKey), false).toBool();
    installApplicationComponents();
    QMetaObject::invokeMethod(this, &AppState::bootstrap, Qt::QueuedConnection);
}

void AppState::installApplicationComponents()
{
    m_components.audioEngine = [this]() -> std::unique_ptr<AudioCapture> {
        auto audioSystem = Platform::audioSystem();
        auto engine = std::make_unique<AudioCaptureEngine>(audioSystem, Platform::microphonePermission(audioSystem));
        engine->setChosenInput([this] { return preferences().inputSource(); });
        m_captureEngine = engine.get();
        return engine;
    };
    m_components.injector = [] { return std::make_unique<TextInjector>(); };
    m_components.tokenProvider = [] { return std::make_unique<AuthTokenProvider>(); };
    m_components.hotWordsStore = [this]() -> std::unique_ptr<HotWordsSource> {
        auto store = HotWordsStore::create(*m_settings);
        m_hotWordsStoreImpl = store.get();
        return store;
    };
}

AppState::~AppState() = default;

LoginItemController &AppState::loginItem()
{
    if (!m_loginItem)
        m_loginItem = std::make_unique<LoginItemController>(Platform::loginItemService());
    return *m_loginItem;
}

DictationPreferences &AppState::preferences()
{
    if (!m_preferences)
        m_preferences = std::make_unique<DictationPreferences>(*m_settings);
    return *m_preferences;
}

DictationHistory &AppState::history()
{
    if (!m_history)
        m_history = std::make_unique<DictationHistory>(preferences(), m_options.historyPath.isEmpty()
                                                                          ? DictationHistory::defaultFilePath()
                                                                          : m_options.historyPath);
    return *m_history;
}

HistoryPaster &AppState::historyPaster()
{
    if (!m_historyPaster)
        m_historyPaster = std::make_unique<HistoryPaster>(*this, Platform::focusedWindow(), m_options.historyPasteTiming);
    return *m_historyPaster;
}

PermissionChecker &AppState::permissions()
{
    if (!m_permissions) {
        // The same services the capture engine and the injector ask.
        PermissionChecker::Services services;
        services.microphone = Platform::microphonePermission(Platform::audioSystem());
        services.keys = Platform::keySynthesis();
        services.notifications = Platform::desktopNotifications();
        services.settings = Platform::systemSettings();
        m_permissions = std::make_unique<PermissionChecker>(std::move(services));
    }
    return *m_permissions;
}

void AppState::bootstrap()
{
    qCInfo(AppLogger::app, "%s bootstrapping", AppIdentity::applicationName);
    const bool services = m_options.launchServices;

    if (services) {
        MetricsKitObserver::start();
        QObject::connect(this, &AppState::phaseChanged, this, &AppState::reportPhaseToDiagnostics);
        // The socket is built by the first toggle; voiceSocket() hooks it up then.
        m_reportSocketEvents = true;
        if (m_voiceSocket)
            QObject::connect(m_voiceSocket.get(), &VoiceSocket::events, this, &AppState::reportSocketEventToDiagnostics);

        // The shortcut's press and release arrive inside the key events: what they do runs after
        // them, on the loop, as the shortcut mode says.
        auto *gesture = new ShortcutGesture(*this, {}, ShortcutGesture::shortPressLimit, this);
        hotkey().onTrigger = [gesture = QPointer<ShortcutGesture>(gesture)] {
            if (gesture)
                gesture->pressed();
        };
        hotkey().onRelease = [gesture = QPointer<ShortcutGesture>(gesture)] {
            if (gesture)
                gesture->released();
        };
        new CancelKey(*this, Platform::keyGrab(KeyboardShortcuts::Key::escape.rawValue), this);
        hotkey().registerHotkey();
        QObject::connect(&hotkey(), &GlobalHotkey::shortcutChanged, this, &AppState::refreshHotkeyShortcut);

        audioEngine();
        if (m_captureEngine) {
            m_captureEngine->setOnDeviceChangedDuringCapture(
                [state = QPointer<AppState>(this)] {
                    if (state)
                        state->audioDeviceChangedDuringCapture();
                });
        }
        overlay().bind(*this);
        m_soundCues = std::make_unique<SoundCueController>(*this, preferences(), [] { return Platform::samplePlayer(); });
    }

    // Persist debugMode from now on, on every change and only on change.
    QObject::connect(this, &AppState::debugModeChanged, this, [this](bool enabled) {
        m_settings->setValue(QLatin1String(debugModeKey), enabled);
        m_settings->sync();
    });

    if (services) {
        hotWordsStore();
        if (m_hotWordsStoreImpl) {
            // Runs on its own; the store outlives it (it lives as long as this state) and ends
            // quietly if it is destroyed first.
            [](QPointer<HotWordsStore> store) -> QCoro::Task<> {
                try {
                    if (store)
                        co_await store->sync();
                } catch (const std::exception &e) {
                    qCCritical(AppLogger::app, "hot words sync at launch failed unexpectedly: %s", e.what());
                } catch (...) {
                    qCCritical(AppLogger::app, "hot words sync at launch failed unexpectedly");
                }
            }(m_hotWordsStoreImpl);
        }
        refreshHotkeyShortcut();
    }
}

void AppState::reportPhaseToDiagnostics(const Phase &phase)
{
    auto &metrics = MetricsKitObserver::shared();
    metrics.setDictationPhase(phase.describe());
    if (phase.kind() == Phase::Kind::recording)
        metrics.usage().recordDictation();
}

void AppState::reportSocketEventToDiagnostics(const VoiceSocketEvent &event)
{
    auto &usage = MetricsKitObserver::shared().usage();
    if (event.kind() == VoiceSocketEvent::Kind::asrDone) {
        usage.recordLatency(QStringLiteral("asr_time"), event.asrTime());
    } else if (event.kind() == VoiceSocketEvent::Kind::polishDone) {
        usage.recordLatency(QStringLiteral("polish_time"), event.polishTime());
        usage.recordLatency(QStringLiteral("total_time"), event.totalTime());
    }
}

void AppState::refreshHotkeyShortcut()
{
    const auto shortcut = GlobalHotkey::currentShortcut();
    if (m_hotkeyShortcut == shortcut)
        return;
    m_hotkeyShortcut = shortcut;
    Q_EMIT hotkeyShortcutChanged();
}

OverlayController &AppState::overlay()
{
    if (!m_overlay)
        m_overlay = std::make_unique<OverlayController>();
    return *m_overlay;
}

GlobalHotkey &AppState::hotkey()
{
    if (!m_hotkey)
        m_hotkey = std::make_unique<GlobalHotkey>();
    return *m_hotkey;
}

bool AppState::installComponents(Components components)
{
    if (m_audioEngine || m_injector || m_tokenProvider || m_hotWordsStore) {
        qCCritical(AppLogger::app, "component factories installed after a component was built; ignored");
        return false;
    }
    // A factory left empty keeps the application's own component.
    if (components.audioEngine)
        m_components.audioEngine = std::move(components.audioEngine);
    if (components.injector)
        m_components.injector = std::move(components.injector);
    if (components.tokenProvider)
        m_components.tokenProvider = std::move(components.tokenProvider);
    if (components.hotWordsStore)
        m_components.hotWordsStore = std::move(components.hotWordsStore);
    return true;
}

template <typename T>
T &AppState::build(std::unique_ptr<T> &slot, const std::function<std::unique_ptr<T>()> &factory, const char *name)
{
    if (!slot) {
        slot = factory();
        if (!slot)
            qFatal("AppState: the factory of the %s built nothing", name);
    }
    return *slot;
}

AudioCapture &AppState::audioEngine() { return build(m_audioEngine, m_components.audioEngine, "audio engine"); }
TextInjection &AppState::injector() { return build(m_injector, m_components.injector, "injector"); }
AccessTokenProvider &AppState::tokenProvider() { return build(m_tokenProvider, m_components.tokenProvider, "token provider"); }
HotWordsSource &AppState::hotWordsStore() { return build(m_hotWordsStore, m_components.hotWordsStore, "hot words store"); }

VoiceSocket &AppState::voiceSocket()
{
    if (!m_voiceSocket) {
        m_voiceSocket = std::make_unique<VoiceSocket>();
        if (m_reportSocketEvents)
            QObject::connect(m_voiceSocket.get(), &VoiceSocket::events, this, &AppState::reportSocketEventToDiagnostics);
    }
    return *m_voiceSocket;
}

DictationController &AppState::dictation()
{
    if (!m_dictation) {
        m_dictation = std::make_unique<DictationController>(audioEngine(), voiceSocket(), injector(), tokenProvider(),
                                                            hotWordsStore(), this, m_options.dictationTiming);
    }
    return *m_dictation;
}

void AppState::setPhase(const Phase &phase)
{
    if (m_phase == phase)
        return;
    m_phase = phase;
    Q_EMIT phaseChanged(m_phase);
}

void AppState::setPartialText(const QString &text)
{
    if (m_partialText == text)
        return;
    m_partialText = text;
    Q_EMIT partialTextChanged(m_partialText);
}

void AppState::setLastInjectedText(const QString &text)
{
    if (m_lastInjectedText == text)
        return;
    m_lastInjectedText = text;
    Q_EMIT lastInjectedTextChanged(m_lastInjectedText);
}

void AppState::setDesktopSession(const std::optional<DesktopSession> &session)
{
    m_desktopSession = session;
    Q_EMIT desktopSessionChanged();
}

void AppState::setDebugMode(bool enabled)
{
    if (m_debugMode == enabled)
        return;
    m_debugMode = enabled;
    Q_EMIT debugModeChanged(m_debugMode);
}

void AppState::setConnected(bool connected)
{
    if (m_isConnected == connected)
        return;
    m_isConnected = connected;
    Q_EMIT isConnectedChanged(m_isConnected);
}

void AppState::setError(const QString &message)
{
    qCCritical(AppLogger::app, "%s", qUtf8Printable(message));
    if (m_options.launchServices)
        MetricsKitObserver::shared().usage().recordFailure(message);
    setPhase(Phase::error(message));
    auto reset = [state = QPointer<AppState>(this)] {
        if (state && state->m_phase.isError())
            state->setPhase(Phase::idle());
    };
    if (m_options.schedule)
        m_options.schedule(m_options.errorResetDelay, std::move(reset));
    else
        QTimer::singleShot(m_options.errorResetDelay, Qt::PreciseTimer, this, std::move(reset));
}

void AppState::requestToggle()
{
    QMetaObject::invokeMethod(this, [this] { dictation().toggle(); }, Qt::QueuedConnection);
}

void AppState::requestPasteLast()
{
    QMetaObject::invokeMethod(this, [this] { historyPaster().pasteLast(); }, Qt::QueuedConnection);
}

void AppState::audioDeviceChangedDuringCapture()
{
    QMetaObject::invokeMethod(
        this, [this] { setError(QStringLiteral("音频设备已切换,请重新开始录音")); }, Qt::QueuedConnection);
}
