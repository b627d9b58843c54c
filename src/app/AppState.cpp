#include "app/AppState.h"

#include "app/AppLogger.h"
#include "audio/AudioCapture.h"
#include "injection/TextInjection.h"
#include "net/AccessTokenProvider.h"
#include "net/VoiceSocket.h"
#include "store/HotWordsSource.h"

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
    static AppState *instance = new AppState;
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
    QMetaObject::invokeMethod(this, &AppState::bootstrap, Qt::QueuedConnection);
}

AppState::~AppState() = default;

void AppState::bootstrap()
{
    qCInfo(AppLogger::app, "MurlexMac bootstrapping");

    // The order of startup, with the places where the components of other areas attach:
    //  - the diagnostics observer registers with the metric source;
    //  - the global shortcut's trigger calls requestToggle(), then the shortcut is registered;
    //  - the capture engine's device-change callback calls audioDeviceChangedDuringCapture();
    //  - the overlay binds to this state;
    //  - debugMode is persisted on every change (below);
    //  - a full hot words sync starts in its own task;
    //  - the stored shortcut is read into the state.

    // Persist debugMode from now on, on every change and only on change.
    QObject::connect(this, &AppState::debugModeChanged, this, [this](bool enabled) {
        m_settings->setValue(QLatin1String(debugModeKey), enabled);
        m_settings->sync();
    });
}

bool AppState::installComponents(Components components)
{
    if (m_audioEngine || m_injector || m_tokenProvider || m_hotWordsStore) {
        qCCritical(AppLogger::app, "component factories installed after a component was built; ignored");
        return false;
    }
    m_components = std::move(components);
    return true;
}

template <typename T>
T &AppState::build(std::unique_ptr<T> &slot, const std::function<std::unique_ptr<T>()> &factory, const char *name)
{
    if (!slot) {
        if (!factory)
            qFatal("AppState: the %s was used before its factory was installed", name);
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
    if (!m_voiceSocket)
        m_voiceSocket = std::make_unique<VoiceSocket>();
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
    setPhase(Phase::error(message));
    QTimer::singleShot(m_options.errorResetDelay, Qt::PreciseTimer, this, [this] {
        if (m_phase.isError())
            setPhase(Phase::idle());
    });
}

void AppState::requestToggle()
{
    QMetaObject::invokeMethod(this, [this] { dictation().toggle(); }, Qt::QueuedConnection);
}

void AppState::audioDeviceChangedDuringCapture()
{
    QMetaObject::invokeMethod(
        this, [this] { setError(QStringLiteral("音频设备已切换,请重新开始录音")); }, Qt::QueuedConnection);
}
