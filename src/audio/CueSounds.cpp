#include "audio/CueSounds.h"

#include <cmath>

namespace {
constexpr double kRate = 48000;
} // namespace

AudioFormat CueSounds::format() { return AudioFormat{kRate, 1, AudioSampleType::int16}; }

QByteArray CueSounds::start() { return notes(kLowNoteHz, kHighNoteHz); }

QByteArray CueSounds::stop() { return notes(kHighNoteHz, kLowNoteHz); }

QByteArray CueSounds::notes(double first, double second)
{
    const auto noteFrames = qsizetype(std::lround(kNoteSeconds * kRate));
    const double fadeFrames = kFadeSeconds * kRate;
    QByteArray pcm(2 * noteFrames * qsizetype(sizeof(qint16)), Qt::Uninitialized);
    auto *samples = reinterpret_cast<qint16 *>(pcm.data());
    for (qsizetype i = 0; i < 2 * noteFrames; ++i) {
        const qsizetype inNote = i % noteFrames;
        const double hz = i < noteFrames ? first : second;
        const double edge = double(std::min(inNote, noteFrames - 1 - inNote));
        // Raised-cosine fade over the first and last few milliseconds of each note.
        const double envelope = edge >= fadeFrames ? 1.0 : 0.5 - 0.5 * std::cos(M_PI * edge / fadeFrames);
        const double value = kAmplitude * envelope * std::sin(2.0 * M_PI * hz * double(inNote) / kRate);
        samples[i] = qint16(std::lround(value * 32767.0));
    }
    return pcm;
}
