#pragma once

#include "platform/AudioEngine.h"

#include <QString>

#include <optional>

// Converts captured buffers to one fixed output format (signed 16-bit samples). One converter
// serves one capture: its resampling state carries over from call to call. Not thread-safe; one
// thread at a time.
class AudioConverter {
public:
    enum class Status { haveData, inputRanDry, endOfStream, error };
    struct Result {
        Status status = Status::error;
        quint32 frameLength = 0;      // frames written to the output
        std::optional<QString> error; // the platform's description when the conversion failed
    };

    virtual ~AudioConverter() = default;
    // Converts all of `input`, writing at most `capacityFrames` frames to `output`.
    virtual Result convert(const AudioBuffer &input, qint16 *output, quint32 capacityFrames) = 0;
    // Ends the input: writes what the converter still holds back (at most `capacityFrames`).
    // No further conversion is possible afterwards.
    virtual Result drain(qint16 *output, quint32 capacityFrames) = 0;
};
