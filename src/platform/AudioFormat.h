#pragma once

#include <QString>
#include <QtGlobal>

// Identifies an input device of the sound server (on PulseAudio: the source index).
using AudioDeviceID = quint32;

// Sample encodings a capture can deliver, all interleaved in the machine's byte order.
enum class AudioSampleType { int16, int32, float32 };

// The format of audio as a device delivers it or as a converter produces it.
struct AudioFormat {
    double sampleRate = 0;
    quint32 channelCount = 0;
    AudioSampleType sampleType = AudioSampleType::int16;

    // A sample rate that is not greater than 0 (also NaN) or no channels means "no usable input".
    bool isUsable() const { return sampleRate > 0 && channelCount > 0; }
    quint32 bytesPerFrame() const
    {
        return channelCount * (sampleType == AudioSampleType::int16 ? 2u : 4u);
    }
    // e.g. "2 ch, 48000 Hz, Int16, interleaved"
    QString description() const
    {
        const char *type = sampleType == AudioSampleType::int16   ? "Int16"
                           : sampleType == AudioSampleType::int32 ? "Int32"
                                                                  : "Float32";
        return QStringLiteral("%1 ch, %2 Hz, %3, interleaved")
            .arg(channelCount)
            .arg(sampleRate, 0, 'g', 10)
            .arg(QLatin1String(type));
    }
    bool operator==(const AudioFormat &) const = default;
};
