#include "app/DictationController.h"

#include "app/AppLogger.h"
#include "app/AppState.h"
#include "audio/AudioCapture.h"
#include "core/LeadingCharacters.h"
#include "core/TimingPoint.h"
#include "injection/TextInjection.h"
#include "net/VoiceSocket.h"
#include "store/DictationHistory.h"
#include "store/DictationPreferences.h"
#include "store/HotWordsSource.h"

#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <coroutine>
#include <exception>
#include <memory>
#include <optional>

namespace {

constexpr int policyViolationCloseCode = 1008;

QString tokenFailureMessage(const TokenFailure &failure)
{
    if (const auto *auth = std::get_if<AuthError>(&failure)) {
        if (auth->kind == AuthError::Kind::noRefreshToken || auth->kind == AuthError::Kind::noAccessToken)
            return QStringLiteral("登录已失效，请重新登录");
        return QStringLiteral("Token 刷新失败，请检查网络后重试");
    }
    return QStringLiteral("Token 刷新失败：") + std::get<PlatformError>(failure).localizedDescription;
}

// The message for a first connection attempt that failed and could not be recovered by a refresh.
QString firstFailureMessage(const ConnectFailure &failure)
{
    switch (failure.kind()) {
    case ConnectFailure::Kind::transport:
        return QStringLiteral("网络异常，无法连接服务器（") + failure.detail() + QStringLiteral("）");
    case ConnectFailure::Kind::timeout:
        return QStringLiteral("连接超时，请检查网络后重试");
    case ConnectFailure::Kind::unknown:
    case ConnectFailure::Kind::unauthorized:
        break;
    }
    return QStringLiteral("无法连接服务器，请重试");
}

} // namespace

// One connection wait: finishes exactly once, from whichever comes first of the socket's open,
// its failure before opening (both seen on the thread that publishes them) and the timer (on the
// main thread), and resumes the waiting coroutine on the main thread.
class DictationController::ConnectionWait : public std::enable_shared_from_this<ConnectionWait> {
public:
    explicit ConnectionWait(QObject *context) : m_context(context) {}

    void setSubscription(QMetaObject::Connection subscription)
    {
        QMutexLocker lock(&m_mutex);
        m_subscription = std::move(subscription);
    }

    // Any thread. Every event but the three outcomes is ignored.
    void observe(const VoiceSocketEvent &event)
    {
        switch (event.kind()) {
        case VoiceSocketEvent::Kind::connected:
            finish(Done{});
            break;
        case VoiceSocketEvent::Kind::error:
            finish(ConnectFailure::transport(event.text()));
            break;
        case VoiceSocketEvent::Kind::disconnected: {
            const QString reason = event.reason().value_or(QString());
            if (event.closeCode() == policyViolationCloseCode || reason.toLower().contains(QLatin1String("token")))
                finish(ConnectFailure::unauthorized());
            else
                finish(ConnectFailure::unknown(event.reason() ? *event.reason()
                                                              : QStringLiteral("code ") + QString::number(event.closeCode())));
            break;
        }
        default:
            break;
        }
    }

    // Any thread. The first call wins; every later one is ignored.
    void finish(ConnectOutcome outcome)
    {
        if (m_finished.exchange(true, std::memory_order_acq_rel))
            return;
        {
            QMutexLocker lock(&m_mutex);
            QObject::disconnect(m_subscription);
        }
        m_outcome.emplace(std::move(outcome));
        // The posted call happens after this write and after the waiter has suspended (the main
        // thread only runs it once the coroutine has given control back to the event loop).
        QMetaObject::invokeMethod(
            m_context, [self = shared_from_this()] { self->m_waiter.resume(); }, Qt::QueuedConnection);
    }

    // What the waiting coroutine awaits: always suspends, and is resumed by finish().
    struct Awaiter {
        std::shared_ptr<ConnectionWait> wait;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> waiter) noexcept { wait->m_waiter = waiter; }
        ConnectOutcome await_resume() { return std::move(*wait->m_outcome); }
    };
    Awaiter outcome() { return Awaiter{shared_from_this()}; }

private:
    QObject *m_context;
    std::atomic<bool> m_finished{false};
    QMutex m_mutex;
    QMetaObject::Connection m_subscription;
    std::optional<ConnectOutcome> m_outcome;
    std::coroutine_handle<> m_waiter;
};

DictationController::DictationController(AudioCapture &engine, VoiceSocket &socket, TextInjection &injector,
                                         AccessTokenProvider &tokens, HotWordsSource &hotWords, AppState *state,
                                         Timing timing, QObject *parent)
    : QObject(parent)
    , m_engine(engine)
    , m_socket(socket)
    , m_injector(injector)
    , m_tokens(tokens)
    , m_hotWords(hotWords)
    , m_state(state)
    , m_timing(timing)
{
    m_endDictationWatchdog.setSingleShot(true);
    m_endDictationWatchdog.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_endDictationWatchdog, &QTimer::timeout, this, &DictationController::watchdogFired);

    // Re-delivered on this object's thread, after the publisher has returned.
    QObject::connect(&m_socket, &VoiceSocket::events, this, &DictationController::handleSocketEvent,
                     Qt::QueuedConnection);

    // The only audio path: every frame goes unchanged from the capture thread to the socket,
    // which is safe to call from any thread.
    VoiceSocket *target = &m_socket;
    m_engine.setOnPCMFrame([target](const QByteArray &frame) { target->sendAudio(frame); });
}

DictationController::~DictationController()
{
    m_engine.setOnPCMFrame({});
}

void DictationController::toggle()
{
    if (!m_state)
        return;
    TimingPoint::mark(AppLogger::dictation, "toggle");
    const Phase phase = m_state->phase();
    switch (phase.kind()) {
    case Phase::Kind::idle:
        if (m_starting) {
            // The first press is still fetching the token, preparing the microphone or connecting.
            qCInfo(AppLogger::dictation, "ignored toggle: a dictation is already starting");
            return;
        }
        beginDictation();
        break;
    case Phase::Kind::recording:
        endDictation();
        break;
    case Phase::Kind::finalizing:
    case Phase::Kind::polishing:
    case Phase::Kind::injecting:
        qCInfo(AppLogger::dictation, "ignored toggle: still in %s", qUtf8Printable(phase.describe()));
        break;
    case Phase::Kind::error:
        m_state->setPhase(Phase::idle());
        break;
    }
}

void DictationController::finish()
{
    if (!m_state)
        return;
    const Phase::Kind phase = m_state->phase().kind();
    if (phase == Phase::Kind::recording)
        endDictation();
    else if (phase == Phase::Kind::idle && m_starting)
        m_finishWhenRecording = true;
}

bool DictationController::cancel()
{
    if (!m_state)
        return false;
    const Phase phase = m_state->phase();
    switch (phase.kind()) {
    case Phase::Kind::idle:
        if (!m_starting)
            return false;
        qCInfo(AppLogger::dictation, "cancelDictation(): the dictation will not start recording");
        m_startCancelled = true;
        return true;
    case Phase::Kind::recording:
        qCInfo(AppLogger::dictation, "cancelDictation()");
        m_capturing = false;
        m_engine.stopCapture();
        m_socket.sendStop();
        ++m_stopsSent;
        break;
    case Phase::Kind::finalizing:
    case Phase::Kind::polishing:
        qCInfo(AppLogger::dictation, "cancelDictation(): no longer waiting in %s", qUtf8Printable(phase.describe()));
        cancelWatchdog();
        break;
    case Phase::Kind::injecting:
        qCInfo(AppLogger::dictation, "nothing to cancel: the text is already being pasted");
        return false;
    case Phase::Kind::error:
        return false;
    }
    m_cancelledStops.append(m_stopsSent);
    m_state->setPartialText(QString());
    m_state->setPhase(Phase::idle());
    return true;
}

QCoro::Task<> DictationController::beginDictation()
{
    QPointer<DictationController> self(this);
    m_starting = true;
    m_startCancelled = false;
    m_finishWhenRecording = false;
    try {
        co_await runStartSequence();
    } catch (const std::exception &e) {
        qCCritical(AppLogger::dictation, "beginDictation() failed unexpectedly: %s", e.what());
    } catch (...) {
        qCCritical(AppLogger::dictation, "beginDictation() failed unexpectedly");
    }
    if (self) {
        m_starting = false;
        m_startCancelled = false;
        m_finishWhenRecording = false;
    }
}

QCoro::Task<> DictationController::deliver(QString text)
{
    QPointer<DictationController> self(this);
    TextInjection::Outcome outcome = TextInjection::Outcome::failed;
    // Copy only: the text stays on the clipboard, no key is sent, nothing is restored.
    const bool copyOnly = m_state && m_state->preferences().copyOnly();
    try {
        if (copyOnly) {
            QCoro::Task<bool> copy = m_injector.copy(text);
            const bool copied = co_await copy;
            outcome = copied ? TextInjection::Outcome::copiedOnly : TextInjection::Outcome::failed;
        } else {
            QCoro::Task<TextInjection::Outcome> injection = m_injector.inject(text);
            outcome = co_await std::move(injection);
        }
    } catch (const std::exception &e) {
        qCCritical(AppLogger::dictation, "injection failed unexpectedly: %s", e.what());
    } catch (...) {
        qCCritical(AppLogger::dictation, "injection failed unexpectedly");
    }
    if (!self || !m_state)
        co_return;
    // The paste may have waited a moment for a held key; whatever reached the phase meanwhile (a
    // failure of the connection) stays.
    const bool stillInjecting = m_state->phase().kind() == Phase::Kind::injecting;
    const bool delivered = outcome != TextInjection::Outcome::failed;
    Q_EMIT m_state->textDelivered(outcome);
    if (!self || !m_state)
        co_return;
    m_state->history().record(text, outcome == TextInjection::Outcome::pasted     ? DictationHistory::Delivery::pasted
                                    : outcome == TextInjection::Outcome::copiedOnly ? DictationHistory::Delivery::copied
                                                                                    : DictationHistory::Delivery::failed);
    if (delivered)
        m_state->setLastInjectedText(text);
    else
        m_state->setError(QStringLiteral("文字注入失败：检查辅助功能权限"));
    if (stillInjecting) {
        m_state->setPhase(Phase::idle());
        m_state->setPartialText(QString());
    }
}

QCoro::Task<> DictationController::runStartSequence()
{
    QPointer<DictationController> self(this);
    if (!m_state)
        co_return;
    qCInfo(AppLogger::dictation, "beginDictation()");

    const TokenResult token = co_await m_tokens.validAccessToken();
    if (!self)
        co_return;
    if (!token) {
        showError(tokenFailureMessage(token.error()));
        co_return;
    }
    TimingPoint::mark(AppLogger::dictation, "token_ready");

    const std::optional<PlatformError> microphoneError = co_await m_engine.prepare();
    if (!self)
        co_return;
    if (microphoneError) {
        showError(QStringLiteral("麦克风初始化失败：") + microphoneError->localizedDescription);
        co_return;
    }

    if (!m_state)
        co_return;
    if (!m_state->isConnected()) {
        const QString accessToken = token.value();
        const ConnectOutcome first = co_await waitForConnection(m_timing.connectionWait, accessToken);
        if (!self)
            co_return;
        if (!first) {
            m_socket.disconnect();
            const bool recovered = co_await recoverConnection(first.error()); // `first` outlives the call
            if (!self || !recovered)
                co_return;
        }
    }
    if (m_startCancelled) {
        qCInfo(AppLogger::dictation, "the dictation was cancelled before it recorded");
        co_return;
    }
    startRecording();
    if (m_finishWhenRecording)
        endDictation();
}

QCoro::Task<bool> DictationController::recoverConnection(const ConnectFailure &first)
{
    QPointer<DictationController> self(this);
    if (first.kind() == ConnectFailure::Kind::unauthorized) {
        qCCritical(AppLogger::dictation, "waitForConnection: token 失效，需重新登录");
        showError(QStringLiteral("登录已失效，请重新登录"));
        co_return false;
    }

    qCInfo(AppLogger::dictation, "connect failed, probing with /auth/refresh once");
    const TokenResult refreshed = co_await m_tokens.refreshAccessToken();
    if (!self)
        co_return false;

    if (refreshed) {
        qCInfo(AppLogger::dictation, "refresh probe succeeded, retrying connect");
        const QString accessToken = refreshed.value();
        const ConnectOutcome retry = co_await waitForConnection(m_timing.connectionWait, accessToken);
        if (!self)
            co_return false;
        if (retry)
            co_return true;
        qCCritical(AppLogger::dictation, "retry connect also failed: %s", qUtf8Printable(retry.error().describe()));
        m_socket.disconnect();
        showError(QStringLiteral("网络异常，无法连接服务器，请重试"));
        co_return false;
    }

    if (const auto *auth = std::get_if<AuthError>(&refreshed.error())) {
        if (auth->kind == AuthError::Kind::http && auth->status == 401) {
            qCCritical(AppLogger::dictation, "refresh probe 401: token 真的失效");
            m_tokens.signOut();
            showError(QStringLiteral("登录已失效，请重新登录"));
            co_return false;
        }
        qCCritical(AppLogger::dictation, "refresh probe failed: %s", qUtf8Printable(auth->describe()));
    } else {
        qCCritical(AppLogger::dictation, "refresh probe error: %s",
                   qUtf8Printable(std::get<PlatformError>(refreshed.error()).describe()));
    }
    showError(firstFailureMessage(first));
    co_return false;
}

QCoro::Task<DictationController::ConnectOutcome>
DictationController::waitForConnection(std::chrono::milliseconds timeout, const QString &token)
{
    auto wait = std::make_shared<ConnectionWait>(this);
    // Direct: the wait sees each event on the publishing thread, as it happens.
    wait->setSubscription(QObject::connect(
        &m_socket, &VoiceSocket::events, this, [wait](const VoiceSocketEvent &event) { wait->observe(event); },
        Qt::DirectConnection));
    // Not cancelled when the wait finishes earlier: it then finds the wait finished and does nothing.
    QTimer::singleShot(timeout, Qt::PreciseTimer, this, [wait] { wait->finish(ConnectFailure::timeout()); });
    forgetConnectionCounts(); // a new connection: nothing sent on it yet
    m_socket.connect(token); // only now: an event it publishes at once still reaches the wait
    ConnectionWait::Awaiter outcome = wait->outcome();
    co_return co_await outcome;
}

void DictationController::startRecording()
{
    if (!m_state)
        return;
    m_socket.sendStart(m_hotWords.words());
    ++m_startsSent;
    m_capturing = true;
    TimingPoint::mark(AppLogger::dictation, "capture_requested");
    // A capture that fails to start reports it through the engine's own state; the dictation then
    // ends through the second toggle or the watchdog. The microphone first: what the new phase
    // sets off (the overlay, the menu) can wait until the audio flows.
    m_engine.startCapture();
    m_state->setPartialText(QString());
    m_state->setPhase(Phase::recording());
}

void DictationController::endDictation()
{
    if (!m_state)
        return;
    qCInfo(AppLogger::dictation, "endDictation()");
    m_state->setPhase(Phase::finalizing());
    m_capturing = false;
    m_engine.stopCapture();
    m_socket.sendStop();
    ++m_stopsSent;
    armWatchdog();
    // The answer is awaited from now on; with copy only the text just goes on the clipboard.
    if (!m_state->preferences().copyOnly())
        m_injector.expectText();
}

void DictationController::armWatchdog()
{
    m_endDictationWatchdog.start(m_timing.watchdog); // restarting replaces a pending watchdog
}

void DictationController::cancelWatchdog()
{
    m_endDictationWatchdog.stop();
}

void DictationController::watchdogFired()
{
    if (!m_state)
        return;
    const Phase phase = m_state->phase();
    if (phase.kind() != Phase::Kind::finalizing && phase.kind() != Phase::Kind::polishing)
        return;
    qCCritical(AppLogger::dictation, "endDictation watchdog fired: phase still %s,给 setError 脱困",
               qUtf8Printable(phase.describe()));
    m_state->setError(QStringLiteral("处理超时,请重试(检查麦克风是否切换到了无效设备)"));
}

void DictationController::handleSocketEvent(const VoiceSocketEvent &event)
{
    if (!m_state)
        return;
    switch (event.kind()) {
    case VoiceSocketEvent::Kind::partial:
    case VoiceSocketEvent::Kind::finalSentence:
        // Live text is sent while the server receives a dictation's audio, so it is the one
        // recording now (an older dictation's last live text arrives before its stop's answer,
        // long before a newer one starts). A cancelled dictation's live text is not shown.
        if (!m_cancelledStops.isEmpty() && m_state->phase().kind() != Phase::Kind::recording)
            break;
        m_state->setPartialText(event.text());
        break;
    case VoiceSocketEvent::Kind::asrDone:
        if (m_cancelledStops.contains(m_stopsAnswered + 1))
            break; // its polish_done is dropped in turn
        if (isAnswerToEarlierDictation()) {
            qCInfo(AppLogger::dictation, "ignored asr_done of an earlier dictation (%lld characters)",
                   static_cast<long long>(characterCount(event.text())));
            break;
        }
        qCInfo(AppLogger::dictation, "asr_done in %fs: %s", event.asrTime(), qUtf8Printable(event.text()));
        m_state->setPhase(Phase::polishing());
        break;
    case VoiceSocketEvent::Kind::polishDone: {
        const bool earlier = isAnswerToEarlierDictation();
        const bool cancelled = m_cancelledStops.removeOne(m_stopsAnswered + 1);
        if (m_stopsAnswered < m_stopsSent)
            ++m_stopsAnswered;
        if (cancelled) {
            qCInfo(AppLogger::dictation, "dropped polish_done of a cancelled dictation (%lld characters)",
                   static_cast<long long>(characterCount(event.text())));
            break;
        }
        if (earlier) {
            // Its dictation was given up (the watchdog told the user to try again) and a newer
            // one is under way: pasting it now would land in the middle of that one.
            qCInfo(AppLogger::dictation, "dropped polish_done of an earlier dictation (%lld characters)",
                   static_cast<long long>(characterCount(event.text())));
            break;
        }
        qCInfo(AppLogger::dictation, "polish_done in %fs: %s", event.totalTime(), qUtf8Printable(event.text()));
        TimingPoint::mark(AppLogger::dictation, "polish_done_received");
        cancelWatchdog();
        m_state->setPhase(Phase::injecting());
        deliver(event.text());
        break;
    }
    case VoiceSocketEvent::Kind::error:
        // Not tied to a stop: whichever dictation it concerns, the connection the current one
        // uses has reported a failure, so the current one ends with the message.
        failDictation(QStringLiteral("服务端错误：") + event.text());
        break;
    case VoiceSocketEvent::Kind::disconnected: {
        const QString reason = event.reason().value_or(QString());
        const bool unauthorized =
            event.closeCode() == policyViolationCloseCode || reason.contains(QLatin1String("token"));
        failDictation(unauthorized ? QStringLiteral("Token 失效，请重新登录") : QStringLiteral("连接断开，请重试"));
        break;
    }
    case VoiceSocketEvent::Kind::connected:
        m_state->setConnected(true);
        qCInfo(AppLogger::dictation, "socket connected");
        m_hotWords.scheduleFlush();
        break;
    }
}

// Which dictation a final answer (asr_done, then polish_done) belongs to. On one connection the
// server answers every stop exactly once and in order, so the answer arriving now is the one to
// stop number m_stopsAnswered + 1. It is the newest dictation's only when that is the last stop
// sent and no newer dictation is starting or recording; a late answer to the last stop after the
// watchdog therefore still lands, while one that arrives during the next dictation does not.
bool DictationController::isAnswerToEarlierDictation() const
{
    const bool newerDictationOpen = m_starting || m_stopsSent < m_startsSent;
    return newerDictationOpen || m_stopsAnswered + 1 < m_stopsSent;
}

void DictationController::forgetConnectionCounts()
{
    m_startsSent = 0;
    m_stopsSent = 0;
    m_stopsAnswered = 0;
    m_cancelledStops.clear();
}

void DictationController::failDictation(const QString &message)
{
    cancelWatchdog();
    if (m_capturing) {
        // The recording this dictation started has nowhere to go any more: release the microphone.
        m_capturing = false;
        m_engine.stopCapture();
    }
    m_socket.disconnect();
    forgetConnectionCounts();
    if (!m_state)
        return;
    m_state->setConnected(false);
    m_state->setError(message);
}

void DictationController::showError(const QString &message)
{
    if (m_state)
        m_state->setError(message);
}
