#include "platform/linux/pulse/SoxrAudioConverter.h"

#include <cmath>

namespace {

// Averages `channels` interleaved samples per frame into one float in [-1, 1]. Indices are
// size_t and the pointers restrict-qualified so that the compiler can vectorise the loops.
template <typename Sample>
void averageChannels(const Sample *__restrict in, size_t frames, size_t channels, float scale, float *__restrict out)
{
    if (channels == 1) {
        for (size_t i = 0; i < frames; ++i)
            out[i] = float(in[i]) * scale;
        return;
    }
    if (channels == 2) {
        const float half = scale * 0.5f;
        for (size_t i = 0; i < frames; ++i)
            out[i] = (float(in[2 * i]) + float(in[2 * i + 1])) * half;
        return;
    }
    const float share = scale / float(channels);
    for (size_t i = 0; i < frames; ++i) {
        float sum = 0;
        for (size_t c = 0; c < channels; ++c)
            sum += float(in[i * channels + c]);
        out[i] = sum * share;
    }
}

// The resampler's filter: soxr's default (high) quality, in its minimum-phase form and worked in
// small transform blocks. The magnitude response is the default one; what changes is how long the
// output lags the input: with the linear-phase filter in default-sized blocks, 48 kHz -> 16 kHz gives
// its first 1600 samples (one 100 ms chunk) only after some 130 ms of input, here after about 102 ms.
constexpr double kMinimumPhase = 0;
constexpr unsigned kLog2MinTransformSize = 8;
constexpr unsigned kLog2LargeTransformSize = 10;

// The converter's input buffers of one callback are at most this long before the scratch grows.
constexpr size_t kInitialScratchFrames = 4096;

} // namespace

std::unique_ptr<SoxrAudioConverter> SoxrAudioConverter::create(const AudioFormat &from, const AudioFormat &to)
{
    if (!from.isUsable() || !std::isfinite(from.sampleRate) || !to.isUsable() || !std::isfinite(to.sampleRate)
        || to.channelCount != 1 || to.sampleType != AudioSampleType::int16)
        return nullptr;
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_INT16_I);
    io.flags |= SOXR_NO_DITHER;
    soxr_error_t error = nullptr;
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    quality.phase_response = kMinimumPhase;
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    runtime.log2_min_dft_size = kLog2MinTransformSize;
    runtime.log2_large_dft_size = kLog2LargeTransformSize;
    soxr_t resampler = soxr_create(from.sampleRate, to.sampleRate, 1, &error, &io, &quality, &runtime);
    if (!resampler || error) {
        soxr_delete(resampler);
        return nullptr;
    }
    return std::unique_ptr<SoxrAudioConverter>(new SoxrAudioConverter(resampler, from));
}

SoxrAudioConverter::SoxrAudioConverter(soxr_t resampler, AudioFormat from) : m_resampler(resampler), m_from(from)
{
    m_mono.reserve(kInitialScratchFrames);
}

SoxrAudioConverter::~SoxrAudioConverter() { soxr_delete(m_resampler); }

const float *SoxrAudioConverter::downmix(const AudioBuffer &input)
{
    if (m_mono.size() < input.frameLength)
        m_mono.resize(input.frameLength);
    const quint32 channels = input.format.channelCount;
    switch (input.format.sampleType) {
    case AudioSampleType::int16:
        averageChannels(static_cast<const qint16 *>(input.data), input.frameLength, channels, 1.0f / 32768.0f,
                        m_mono.data());
        break;
    case AudioSampleType::int32:
        averageChannels(static_cast<const qint32 *>(input.data), input.frameLength, channels, 1.0f / 2147483648.0f,
                        m_mono.data());
        break;
    case AudioSampleType::float32:
        averageChannels(static_cast<const float *>(input.data), input.frameLength, channels, 1.0f, m_mono.data());
        break;
    }
    return m_mono.data();
}

AudioConverter::Result SoxrAudioConverter::convert(const AudioBuffer &input, qint16 *output, quint32 capacityFrames)
{
    if (m_drained)
        return {Status::endOfStream, 0, std::nullopt};
    if (input.format.channelCount != m_from.channelCount || input.format.sampleType != m_from.sampleType
        || !input.data)
        return {Status::error, 0, QStringLiteral("input format does not match the converter")};
    const float *mono = downmix(input);
    size_t consumed = 0;
    size_t produced = 0;
    // soxr takes all input into its own buffer as long as it has room to give output; keep
    // feeding until it has taken everything or the output is full.
    while (consumed < input.frameLength) {
        size_t inDone = 0;
        size_t outDone = 0;
        if (soxr_error_t error = soxr_process(m_resampler, mono + consumed, input.frameLength - consumed, &inDone,
                                              output + produced, capacityFrames - produced, &outDone))
            return {Status::error, quint32(produced), QString::fromUtf8(error)};
        consumed += inDone;
        produced += outDone;
        if (inDone == 0 && outDone == 0)
            break;
    }
    return {produced > 0 ? Status::haveData : Status::inputRanDry, quint32(produced), std::nullopt};
}

AudioConverter::Result SoxrAudioConverter::drain(qint16 *output, quint32 capacityFrames)
{
    m_drained = true;
    size_t produced = 0;
    for (;;) {
        size_t outDone = 0;
        if (soxr_error_t error = soxr_process(m_resampler, nullptr, 0, nullptr, output + produced,
                                              capacityFrames - produced, &outDone))
            return {Status::error, quint32(produced), QString::fromUtf8(error)};
        produced += outDone;
        if (outDone == 0 || produced == capacityFrames)
            break;
    }
    return {Status::endOfStream, quint32(produced), std::nullopt};
}
