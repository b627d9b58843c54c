// What it costs to turn captured audio into streaming chunks: the capture engine's own path
// (tap buffer -> channel average -> soxr -> output buffer -> 3200-byte chunks -> onPCMFrame)
// beside bare soxr doing just the resampling of the same audio (48 kHz -> 16 kHz, signed
// 16-bit out, default quality, no dither), each in 1024-frame buffers as the tap delivers them.
// soxr cannot average channels, so the bare run resamples the already averaged (mono) signal
// of the same input: the difference is exactly what the engine adds around the resampler.
// Figures are multiples of real time (seconds of audio per second of CPU), and the ratio of the
// two costs (the goal: the engine's path costs at most 1.3 x bare soxr).
#include "audio/AudioCaptureEngine.h"
#include "platform/AudioSystem.h"
#include "platform/Platform.h"

#include <QLoggingCategory>

#include <benchmark/benchmark.h>
#include <soxr.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kInputRate = 48000;
constexpr int kInputChannels = 2;
constexpr quint32 kTapFrames = 1024;
constexpr int kSecondsPerIteration = 1;
constexpr int kFrames = kInputRate * kSecondsPerIteration;

// A voice-like test signal: two tones and a little noise, the same on both channels but for the noise.
template <typename Sample>
std::vector<Sample> interleavedInput()
{
    std::vector<Sample> out(size_t(kFrames) * kInputChannels);
    uint32_t noise = 12345;
    for (int i = 0; i < kFrames; ++i) {
        for (int c = 0; c < kInputChannels; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double v = 0.4 * std::sin(2 * M_PI * 220 * i / kInputRate) + 0.2 * std::sin(2 * M_PI * 1870 * i / kInputRate)
                             + 0.01 * (double(noise >> 8) / double(1u << 24) - 0.5);
            if constexpr (std::is_same_v<Sample, float>)
                out[size_t(i) * kInputChannels + c] = float(v);
            else
                out[size_t(i) * kInputChannels + c] = Sample(std::lround(v * 32767));
        }
    }
    return out;
}

template <typename Sample>
std::vector<Sample> averagedInput(const std::vector<Sample> &interleaved)
{
    std::vector<Sample> out(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        const double sum = double(interleaved[size_t(i) * 2]) + double(interleaved[size_t(i) * 2 + 1]);
        out[size_t(i)] = Sample(sum / 2);
    }
    return out;
}

template <typename Sample>
constexpr AudioSampleType sampleType()
{
    return std::is_same_v<Sample, float> ? AudioSampleType::float32 : AudioSampleType::int16;
}

// An engine object whose tap the benchmark drives by hand; the rest of the engine is real.
class HandDrivenEngine final : public AudioEngine {
public:
    explicit HandDrivenEngine(AudioFormat format) : m_format(format) {}
    bool hasInputUnit() override { return true; }
    int setCurrentDevice(AudioDeviceID) override { return 0; }
    AudioFormat inputFormat() override { return m_format; }
    void prepare() override {}
    std::optional<PlatformError> start() override
    {
        m_running = true;
        return std::nullopt;
    }
    void stop() override { m_running = false; }
    bool isRunning() override { return m_running; }
    void installTap(quint32, const AudioFormat &, TapBlock block) override { tap = std::move(block); }
    void removeTap() override { tap = {}; }

    TapBlock tap;

private:
    AudioFormat m_format;
    bool m_running = false;
};

class HandDrivenSystem final : public AudioSystem {
public:
    explicit HandDrivenSystem(AudioFormat format) : m_format(format) {}
    std::unique_ptr<AudioEngine> createEngine() override
    {
        auto engine = std::make_unique<HandDrivenEngine>(m_format);
        latest = engine.get();
        return engine;
    }
    std::unique_ptr<AudioConverter> createConverter(const AudioFormat &from, const AudioFormat &to) override
    {
        return m_real->createConverter(from, to);
    }
    std::optional<QList<AudioDevice>> inputDevices() override { return QList<AudioDevice>{}; }
    std::optional<AudioDeviceID> defaultInputDevice() override { return std::nullopt; }

    HandDrivenEngine *latest = nullptr;

private:
    std::shared_ptr<AudioSystem> m_real = Platform::audioSystem();
    AudioFormat m_format;
};

class Granted final : public MicrophonePermission {
public:
    MicStatus status() override { return MicStatus::granted; }
    QCoro::Task<MicStatus> request() override { co_return MicStatus::granted; }
};

void setRealTimeCounter(benchmark::State &state)
{
    state.counters["x_realtime"] =
        benchmark::Counter(double(state.iterations()) * kSecondsPerIteration, benchmark::Counter::kIsRate);
}

template <typename Sample>
void enginePath(benchmark::State &state)
{
    const std::vector<Sample> input = interleavedInput<Sample>();
    const AudioFormat format{double(kInputRate), kInputChannels, sampleType<Sample>()};
    auto system = std::make_shared<HandDrivenSystem>(format);
    AudioCaptureEngine engine(system, std::make_shared<Granted>());
    qint64 bytes = 0;
    engine.setOnPCMFrame([&bytes](const QByteArray &chunk) {
        bytes += chunk.size();
        benchmark::DoNotOptimize(chunk.constData());
    });
    engine.startCapture();
    HandDrivenEngine *device = system->latest;
    for (auto _ : state) {
        for (int frame = 0; frame < kFrames; frame += int(kTapFrames)) {
            const auto n = quint32(std::min<int>(int(kTapFrames), kFrames - frame));
            device->tap(AudioBuffer{input.data() + size_t(frame) * kInputChannels, n, format});
        }
    }
    engine.stopCapture();
    benchmark::DoNotOptimize(bytes);
    setRealTimeCounter(state);
}

template <typename Sample>
void bareSoxr(benchmark::State &state)
{
    const std::vector<Sample> input = averagedInput(interleavedInput<Sample>());
    soxr_io_spec_t io = soxr_io_spec(std::is_same_v<Sample, float> ? SOXR_FLOAT32_I : SOXR_INT16_I, SOXR_INT16_I);
    io.flags |= SOXR_NO_DITHER;
    // The filter the capture engine uses: high quality, minimum phase, small transform blocks.
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    quality.phase_response = 0;
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    runtime.log2_min_dft_size = 8;
    runtime.log2_large_dft_size = 10;
    soxr_t resampler = soxr_create(kInputRate, 16000, 1, nullptr, &io, &quality, &runtime);
    std::vector<qint16> output(kTapFrames);
    for (auto _ : state) {
        for (int frame = 0; frame < kFrames; frame += int(kTapFrames)) {
            const size_t n = size_t(std::min<int>(int(kTapFrames), kFrames - frame));
            size_t used = 0, produced = 0;
            soxr_process(resampler, input.data() + frame, n, &used, output.data(), output.size(), &produced);
            benchmark::DoNotOptimize(output.data());
        }
    }
    soxr_delete(resampler);
    setRealTimeCounter(state);
}

// Prints the usual table and keeps each run's time for the ratios printed at the end.
class RatioReporter final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                times[run.benchmark_name()] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

} // namespace

int main(int argc, char **argv)
{
    QLoggingCategory::setFilterRules(QStringLiteral("quillfen.*=false"));
    benchmark::RegisterBenchmark("engine_path/float32_stereo_48k", enginePath<float>);
    benchmark::RegisterBenchmark("bare_soxr/float32_stereo_48k", bareSoxr<float>);
    benchmark::RegisterBenchmark("engine_path/s16_stereo_48k", enginePath<qint16>);
    benchmark::RegisterBenchmark("bare_soxr/s16_stereo_48k", bareSoxr<qint16>);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char *input : {"float32_stereo_48k", "s16_stereo_48k"}) {
        const auto engine = reporter.times.find(std::string("engine_path/") + input);
        const auto bare = reporter.times.find(std::string("bare_soxr/") + input);
        if (engine == reporter.times.end() || bare == reporter.times.end() || bare->second <= 0)
            continue;
        std::printf("engine path / bare soxr, %s: %.2fx (goal <= 1.30x)\n", input, engine->second / bare->second);
    }
    benchmark::Shutdown();
    return 0;
}
