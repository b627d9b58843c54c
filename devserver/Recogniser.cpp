#include "Recogniser.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kSampleRate = 16000.0;
constexpr double kBytesPerSecond = kSampleRate * 2;
constexpr int kHysteresis = 16;
constexpr double kFloorDbfs = -120.0;
} // namespace

void Recogniser::reset()
{
    *this = Recogniser{};
}

void Recogniser::feed(const QByteArray &pcm)
{
    m_bytes += pcm.size();
    qsizetype i = 0;
    if (m_carryByte >= 0 && !pcm.isEmpty()) {
        takeSample(std::int16_t(std::uint16_t(m_carryByte) | std::uint16_t(std::uint8_t(pcm[0])) << 8));
        m_carryByte = -1;
        i = 1;
    }
    for (; i + 1 < pcm.size(); i += 2)
        takeSample(std::int16_t(std::uint16_t(std::uint8_t(pcm[i])) | std::uint16_t(std::uint8_t(pcm[i + 1])) << 8));
    if (i < pcm.size())
        m_carryByte = std::uint8_t(pcm[i]);
}

void Recogniser::takeSample(int sample)
{
    if (sample < -kHysteresis)
        m_armed = true;
    if (m_armed && m_samples > 0 && m_previous < 0 && sample >= 0) {
        // Where the line between the two samples crosses zero, in samples since the reset.
        const double at = double(m_samples - 1) + double(-m_previous) / double(sample - m_previous);
        if (m_crossings == 0)
            m_firstCrossing = at;
        m_lastCrossing = at;
        ++m_crossings;
        m_armed = false;
    }
    m_sumOfSquares += double(sample) * double(sample);
    m_previous = sample;
    ++m_samples;
}

double Recogniser::durationSeconds() const
{
    return double(m_bytes) / kBytesPerSecond;
}

double Recogniser::levelDbfs() const
{
    if (m_samples == 0 || m_sumOfSquares <= 0.0)
        return kFloorDbfs;
    const double rms = std::sqrt(m_sumOfSquares / double(m_samples));
    return std::max(kFloorDbfs, 20.0 * std::log10(rms / 32768.0));
}

double Recogniser::frequencyHz() const
{
    if (m_crossings < 2 || m_lastCrossing <= m_firstCrossing)
        return 0.0;
    return double(m_crossings - 1) * kSampleRate / (m_lastCrossing - m_firstCrossing);
}

QString Recogniser::transcript() const
{
    return QString::asprintf("duration=%.2fs level=%.1fdBFS freq=%.1fHz", durationSeconds(), levelDbfs(),
                             frequencyHz());
}

QString Recogniser::polished(const QStringList &hotWords) const
{
    QString text = QString::asprintf("Duration %.2f s, level %.1f dBFS, frequency %.0f Hz.", durationSeconds(),
                                     levelDbfs(), frequencyHz());
    if (!hotWords.isEmpty())
        text += QStringLiteral(" Hot words: ") + hotWords.join(QStringLiteral(", ")) + QLatin1Char('.');
    return text;
}
