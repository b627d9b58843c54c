#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

// The stand-in's "speech recogniser": a deterministic description of the PCM received since the last
// reset, so a test that feeds a known signal can predict the text exactly.
//
// Input: 16 kHz mono signed 16-bit little-endian PCM, in chunks of any size (an odd byte is carried over
// to the next chunk).
//   duration  = bytes received / 32000, in seconds
//   level     = 20·log10(RMS / 32768) in dBFS (a full-scale sine reads -3.0); -120.0 when there is no
//               audio or it is all zero, and never lower than -120.0
//   frequency = rate of rising zero crossings, measured between the first and the last crossing with
//               sub-sample interpolation; a crossing only counts after the signal went below -16, so
//               noise within ±16 is ignored; 0 when fewer than two crossings were seen
//
// transcript(): "duration=2.00s level=-9.0dBFS freq=440.0Hz"
// polished():   "Duration 2.00 s, level -9.0 dBFS, frequency 440 Hz." and, when hot words were given,
//               " Hot words: a, b." appended.
class Recogniser
{
public:
    void reset();
    void feed(const QByteArray &pcm);

    double durationSeconds() const;
    double levelDbfs() const;
    double frequencyHz() const;

    QString transcript() const;
    QString polished(const QStringList &hotWords) const;

private:
    void takeSample(int sample);

    std::int64_t m_bytes = 0;
    std::int64_t m_samples = 0;
    double m_sumOfSquares = 0.0;
    int m_carryByte = -1;       // low byte of a sample split across chunks, or -1
    int m_previous = 0;
    bool m_armed = false;       // the signal went below the hysteresis floor since the last crossing
    std::int64_t m_crossings = 0;
    double m_firstCrossing = 0.0;   // in samples
    double m_lastCrossing = 0.0;
};
