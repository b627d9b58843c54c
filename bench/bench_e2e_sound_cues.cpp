// What the start and stop sounds cost a dictation's start, timed the way a person feels it: the
// murlex program (the shipped main over the test transport) against the stand-in, inside the test
// harness (scripts/bench.sh starts it there), once with the sounds off and once with them on
// (a fresh application each time, the option stored before launch). Over kDictations dictations
// of a short tone each: shortcut press -> first binary frame received by the stand-in, on
// CLOCK_MONOTONIC like the stand-in's *_ns timestamps. The row with the sounds on carries the
// ratio of its median (and p95) to the row with them off.
#include "EndToEndRig.h"
#include "Figure.h"
#include "PipeSource.h"
#include "store/DictationPreferences.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QSettings>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kDictations = 12;
constexpr double kToneSeconds = 0.5;

std::optional<Figure> pressToFirstFrame(bool soundCues)
{
    EndToEndRig rig;
    {
        QSettings settings(rig.appEnvironment().value(QStringLiteral("XDG_CONFIG_HOME")) + QStringLiteral("/quillfen/MurlexMac.conf"),
                           QSettings::IniFormat);
        settings.setValue(QLatin1String(DictationPreferences::soundCuesKey), soundCues);
    }
    if (!rig.start({QStringLiteral("Murlex")})) {
        std::fprintf(stderr, "bench_e2e_sound_cues: %s\n", qPrintable(rig.failure()));
        return std::nullopt;
    }
    const QByteArray tone = PipeSource::tone(440.0, kToneSeconds);
    std::vector<EndToEndRig::Dictation> runs;
    for (int i = 0; i < kDictations; ++i) {
        const auto run = rig.focusField() ? rig.dictate(tone) : std::nullopt;
        if (!run) {
            std::fprintf(stderr, "bench_e2e_sound_cues: dictation %d: %s\n", i + 1, qPrintable(rig.failure()));
            return std::nullopt;
        }
        runs.push_back(*run);
    }
    std::vector<QJsonObject> recorded;
    for (const auto &connection : rig.server().socketRecording())
        for (const auto &dictation : connection.toObject().value(QStringLiteral("dictations")).toArray())
            recorded.push_back(dictation.toObject());
    if (recorded.size() < runs.size())
        return std::nullopt;
    recorded.erase(recorded.begin(), recorded.end() - qsizetype(runs.size()));
    std::vector<double> toFirstFrame;
    for (size_t i = 0; i < runs.size(); ++i)
        toFirstFrame.push_back(
            (double(recorded[i].value(QStringLiteral("first_frame_ns")).toInteger()) - double(runs[i].firstPressNs)) / 1e6);
    return summarise(toFirstFrame);
}

void report(benchmark::State &state, const Figure &figure, const Figure *off)
{
    for (auto _ : state)
        state.SetIterationTime(figure.median / 1000.0);
    state.counters["median_ms"] = figure.median;
    state.counters["p95_ms"] = figure.p95;
    state.counters["samples"] = figure.samples;
    if (off && off->median > 0) {
        state.counters["median_per_cues_off"] = figure.median / off->median;
        state.counters["p95_per_cues_off"] = figure.p95 / off->p95;
    }
}

} // namespace

int main(int argc, char **argv)
{
    // Google Benchmark's own flags first; what is left goes to Qt.
    benchmark::Initialize(&argc, argv);
    QApplication app(argc, argv);
    const std::optional<Figure> off = pressToFirstFrame(false);
    const std::optional<Figure> on = off ? pressToFirstFrame(true) : std::nullopt;
    if (!off || !on)
        return 1;
    benchmark::RegisterBenchmark("e2e/press_to_first_frame/cues_off",
                                 [figure = *off](benchmark::State &state) { report(state, figure, nullptr); })
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("e2e/press_to_first_frame/cues_on",
                                 [figure = *on, baseline = *off](benchmark::State &state) { report(state, figure, &baseline); })
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
