#pragma once

#include "core/PlatformError.h"
#include "platform/AudioFormat.h"

#include <QObject>

#include <functional>
#include <optional>

// One buffer of captured audio as the tap sees it; valid only during the tap call.
struct AudioBuffer {
    const void *data = nullptr; // frameLength interleaved frames of `format`
    quint32 frameLength = 0;
    AudioFormat format;
};

// The platform's audio engine object: an input node that records from one input device and a
// tap that receives its buffers. A new object is stopped and holds no device; it is cheap to
// create, so the capture engine makes a fresh one for every capture.
//
// Threads: every function is called on the main thread. The tap block runs on the platform's
// audio thread; installTap() and removeTap() return only when no tap call is in progress, so
// after removeTap() the block is never called again. configurationChanged() is emitted on the
// main thread while the engine runs, when the device it records from changes or disappears or
// the system's default input changes.
class AudioEngine : public QObject {
    Q_OBJECT
public:
    using TapBlock = std::function<void(const AudioBuffer &)>;

    using QObject::QObject;
    ~AudioEngine() override = default;

    // False when the input node has no audio unit to bind (the sound server cannot be reached).
    virtual bool hasInputUnit() = 0;
    // Records from `device` from the next start on. 0 on success, otherwise the platform's status.
    virtual int setCurrentDevice(AudioDeviceID device) = 0;
    // The input node's current hardware format: that of the bound device, or else of the system
    // default input. Not usable (sample rate 0) when there is no usable input. The next start()
    // records in the format read last.
    virtual AudioFormat inputFormat() = 0;

    virtual void prepare() = 0;
    // Starts recording; an error value carrying the platform's description when that fails.
    virtual std::optional<PlatformError> start() = 0;
    virtual void stop() = 0;
    virtual bool isRunning() = 0;

    // Delivers captured buffers of at most `bufferFrames` frames to `block`.
    virtual void installTap(quint32 bufferFrames, const AudioFormat &format, TapBlock block) = 0;
    virtual void removeTap() = 0;

Q_SIGNALS:
    void configurationChanged();
};
