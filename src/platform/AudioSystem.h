#pragma once

#include "platform/AudioConverter.h"
#include "platform/AudioEngine.h"
#include "platform/AudioFormat.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>

// An input device as the system lists it.
struct AudioDevice {
    AudioDeviceID id = 0;
    QString name;
    bool isBuiltIn = false; // the machine's own microphone

    bool operator==(const AudioDevice &) const = default;
};

// The sound system: makes engine objects and converters and answers device queries.
// Main thread only.
class AudioSystem {
public:
    virtual ~AudioSystem() = default;

    // A new, stopped engine object.
    virtual std::unique_ptr<AudioEngine> createEngine() = 0;
    // A converter from `from` to `to`, or nullptr when the pair is not supported.
    virtual std::unique_ptr<AudioConverter> createConverter(const AudioFormat &from, const AudioFormat &to) = 0;

    // The devices that have inputs, in the system's order; nullopt when the list cannot be read.
    virtual std::optional<QList<AudioDevice>> inputDevices() = 0;
    // The system's default input device; nullopt when it cannot be read.
    virtual std::optional<AudioDeviceID> defaultInputDevice() = 0;
};
