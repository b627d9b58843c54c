#pragma once

#include "platform/AudioFormat.h"

#include <QByteArray>

// The two short sounds around a recording, made in code: a rising pair of notes when the
// recording starts and a falling pair when it ends, each about 0.16 s long, quiet, and faded in
// and out so that they do not click.
class CueSounds {
public:
    // Mono, 48 kHz, signed 16-bit.
    static AudioFormat format();
    static QByteArray start();
    static QByteArray stop();

    // Notes of the cues, in Hz, and how long each note lasts.
    static constexpr double kLowNoteHz = 659.25;  // E5
    static constexpr double kHighNoteHz = 880.0;  // A5
    static constexpr double kNoteSeconds = 0.08;
    static constexpr double kAmplitude = 0.25;    // of full scale
    static constexpr double kFadeSeconds = 0.006; // at both ends of every note

private:
    static QByteArray notes(double first, double second);
};
