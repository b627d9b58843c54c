#pragma once

#include "FakeAccessTokenProvider.h"
#include "FakeAudioCapture.h"
#include "FakeHotWordsSource.h"
#include "RecordingTextInjection.h"
#include "app/AppState.h"
#include "app/DictationController.h"
#include "net/VoiceSocket.h"

#include <QTemporaryDir>

// A dictation controller with the real state and the real socket, and fakes for the capture
// engine, the injector, the account tokens and the hot words. Timings are the real ones unless
// given; the error phase clears after `errorResetDelay`.
struct SpineRig {
    explicit SpineRig(DictationController::Timing timing = {},
                      std::chrono::milliseconds errorResetDelay = AppState::errorDisplayTime);

    static AppState::Options stateOptions(const QTemporaryDir &dir, std::chrono::milliseconds errorResetDelay);

    QTemporaryDir dir;
    AppState state;
    VoiceSocket socket;
    FakeAudioCapture engine;
    RecordingTextInjection injector;
    FakeAccessTokenProvider tokens;
    FakeHotWordsSource hotWords;
    DictationController controller; // last: destroyed first
};
