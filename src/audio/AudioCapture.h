#pragma once

#include "core/PlatformError.h"

#include <QByteArray>
#include <QCoro/QCoroTask>

#include <functional>
#include <optional>

// What the dictation controller needs of the microphone. AudioCaptureEngine is the real one.
class AudioCapture {
public:
    using PCMFrameHandler = std::function<void(const QByteArray &)>;

    virtual ~AudioCapture() = default;
    // Confirms the microphone permission; an error value when it is refused.
    virtual QCoro::Task<std::optional<PlatformError>> prepare() = 0;
    // Start and stop delivering 3200-byte chunks of 16 kHz mono s16le PCM; they report their
    // own failures through the engine's state.
    virtual void startCapture() = 0;
    virtual void stopCapture() = 0;
    // Receives every chunk, on the capture thread. Set before the first capture.
    virtual void setOnPCMFrame(PCMFrameHandler handler) = 0;
};
