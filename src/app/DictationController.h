#pragma once

#include "app/ConnectFailure.h"
#include "core/Expected.h"
#include "net/AccessTokenProvider.h"
#include "net/VoiceSocketEvent.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>

class AppState;
class AudioCapture;
class HotWordsSource;
class TextInjection;
class VoiceSocket;

// Turns the one toggle gesture into a whole dictation: a valid token, the microphone, the
// recognition socket (opened or reused), streaming, the stop, the recognised and polished text,
// and the injection of that text into the focused application. It is the only writer of the
// phases recording, finalizing, polishing and injecting, and turns every failure on the way into
// one message through AppState::setError(). Lives on the main thread.
class DictationController : public QObject {
    Q_OBJECT
public:
    struct Timing {
        // How long one connection attempt may take to open (the first one and the retry).
        std::chrono::milliseconds connectionWait = std::chrono::seconds(8);
        // How long after the stop the polished text (or a failure) may take to arrive.
        std::chrono::milliseconds watchdog = std::chrono::seconds(15);
    };

    // The state is held weakly: every step does nothing once it is gone. Timing{} holds the real
    // lengths; tests shorten them.
    DictationController(AudioCapture &engine, VoiceSocket &socket, TextInjection &injector,
                        AccessTokenProvider &tokens, HotWordsSource &hotWords, AppState *state,
                        Timing timing, QObject *parent = nullptr);
    ~DictationController() override;

    // The single entry point (global shortcut, menu item), decided on the current phase:
    // idle starts a dictation, recording ends it, an error is dismissed, the rest is ignored.
    void toggle();
    // Ends the dictation the way a second toggle does, without the toggle's other meanings: a
    // recording ends now, one still starting ends as soon as it records; anything else is left alone.
    void finish();
    // Gives up the dictation without delivering anything: a recording stops (capture and the
    // stop message, as at its end), a pending answer is no longer waited for, and the answer is
    // dropped when it comes; a start under way does not go on to record. The phase is idle at
    // once. Whether there was such a dictation (none while idle, in an error, or once the text is
    // being pasted).
    bool cancel();

    const Timing &timing() const { return m_timing; }
    // Whether a start sequence (token, microphone, connection) is in flight.
    bool isStarting() const { return m_starting; }

private:
    using ConnectOutcome = Expected<Done, ConnectFailure>;
    class ConnectionWait;

    QCoro::Task<> beginDictation();
    QCoro::Task<> runStartSequence();
    // Writes the polished text into the focused application, then ends the dictation.
    QCoro::Task<> deliver(QString text);
    QCoro::Task<bool> recoverConnection(const ConnectFailure &first);
    // Subscribes to the socket's events, then connects with `token`, and finishes once: on the
    // open, on an error or close before it, or after `timeout`. `token` is only read before the
    // first suspension. (Arguments of awaited calls here are plain references or trivial values:
    // g++ 12 may destroy a temporary of a co_await expression twice.)
    QCoro::Task<ConnectOutcome> waitForConnection(std::chrono::milliseconds timeout, const QString &token);
    void startRecording();
    void endDictation();
    void handleSocketEvent(const VoiceSocketEvent &event);
    void failDictation(const QString &message);
    // Whether the final answer arriving now belongs to an older dictation than the newest one on
    // the connection (the rule is at the definition).
    bool isAnswerToEarlierDictation() const;
    void forgetConnectionCounts();
    void armWatchdog();
    void cancelWatchdog();
    void watchdogFired();
    void showError(const QString &message);

    AudioCapture &m_engine;
    VoiceSocket &m_socket;
    TextInjection &m_injector;
    AccessTokenProvider &m_tokens;
    HotWordsSource &m_hotWords;
    QPointer<AppState> m_state;
    const Timing m_timing;

    QTimer m_endDictationWatchdog;
    bool m_starting = false;  // a start sequence is in flight
    bool m_capturing = false; // startCapture() was called and stopCapture() not yet
    // On the current connection: start and stop messages sent, and stops answered by polish_done.
    int m_startsSent = 0;
    int m_stopsSent = 0;
    int m_stopsAnswered = 0;
    // Stops on the current connection (numbered from 1) whose answers are dropped.
    QList<int> m_cancelledStops;
    bool m_startCancelled = false;     // the start sequence in flight ends without recording
    bool m_finishWhenRecording = false; // ... or ends its recording as soon as it begins
};
