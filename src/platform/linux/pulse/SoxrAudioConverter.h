#pragma once

#include "platform/AudioConverter.h"

#include <soxr.h>

#include <memory>
#include <vector>

// Converts interleaved audio of any rate and channel count to mono signed 16-bit samples at the
// output rate: the channels are averaged, then soxr resamples at its default quality (no dither,
// as the platform converter it stands in for). The resampler's state carries over from call to
// call, so one converter serves exactly one capture.
class SoxrAudioConverter final : public AudioConverter {
public:
    // nullptr when the pair is not supported: an unusable input, or an output that is not
    // mono signed 16-bit.
    static std::unique_ptr<SoxrAudioConverter> create(const AudioFormat &from, const AudioFormat &to);
    ~SoxrAudioConverter() override;

    Result convert(const AudioBuffer &input, qint16 *output, quint32 capacityFrames) override;
    Result drain(qint16 *output, quint32 capacityFrames) override;

private:
    SoxrAudioConverter(soxr_t resampler, AudioFormat from);
    const float *downmix(const AudioBuffer &input);

    soxr_t m_resampler;
    const AudioFormat m_from;
    std::vector<float> m_mono; // scratch; grows to the largest buffer seen, never shrinks
    bool m_drained = false;
};
