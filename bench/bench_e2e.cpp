// The application end to end, timed the way a person feels it: the murlex program (the shipped
// main over the test transport) against the stand-in, inside the test harness (scripts/bench.sh
// starts it there). Over kDictations dictations of a 1 s tone:
//   - shortcut press -> first binary frame received by the stand-in (the physical floor is one
//     100 ms chunk of audio);
//   - second press -> stop message received by the stand-in;
//   - polish_done sent by the stand-in -> the text present in the focused field;
// all on CLOCK_MONOTONIC, which the stand-in's *_ns timestamps use too. And the resident memory and
// CPU time of murlex after an idle minute from start, and after the dictations.
// Each figure is reported as one Google Benchmark row (manual time = the median) with counters.
#include "EndToEndRig.h"
#include "PipeSource.h"

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kDictations = 20;
constexpr double kToneSeconds = 1.0;
constexpr int kIdleSeconds = 60;
constexpr double kChunkFloorMs = 100.0;

struct Figure {
    double median = 0;
    double p95 = 0;
    double floor = 0; // 0: none
    int samples = 0;
};

struct ProcessFigures {
    double rssMiB = 0;
    double cpuSeconds = 0;
};

std::map<std::string, Figure> latencies;
std::map<std::string, ProcessFigures> processFigures;
double idleCpuPercent = 0;

Figure summarise(std::vector<double> values, double floor)
{
    Figure figure;
    figure.floor = floor;
    figure.samples = int(values.size());
    if (values.empty())
        return figure;
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        const double rank = q * double(values.size() - 1);
        const size_t low = size_t(rank);
        const size_t high = std::min(low + 1, values.size() - 1);
        return values[low] + (values[high] - values[low]) * (rank - double(low));
    };
    figure.median = at(0.5);
    figure.p95 = at(0.95);
    return figure;
}

std::optional<ProcessFigures> sample(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!status.open(QIODevice::ReadOnly) || !stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    ProcessFigures figures;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            figures.rssMiB = line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    // Fields after the command name (which may hold spaces): utime and stime are the 14th and 15th.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return std::nullopt;
    const double ticks = double(sysconf(_SC_CLK_TCK));
    figures.cpuSeconds = (fields.at(11).toDouble() + fields.at(12).toDouble()) / ticks;
    return figures;
}

bool runScenario()
{
    EndToEndRig rig;
    if (!rig.start({QStringLiteral("Murlex")})) {
        std::fprintf(stderr, "bench_e2e: %s\n", qPrintable(rig.failure()));
        return false;
    }
    const qint64 pid = rig.app().pid();
    const auto started = sample(pid);
    QTest::qWait(kIdleSeconds * 1000);
    const auto idle = sample(pid);
    if (!started || !idle)
        return false;
    processFigures["murlex/idle_60s_after_start"] = *idle;
    idleCpuPercent = 100.0 * (idle->cpuSeconds - started->cpuSeconds) / kIdleSeconds;

    const QByteArray tone = PipeSource::tone(440.0, kToneSeconds);
    std::vector<EndToEndRig::Dictation> runs;
    for (int i = 0; i < kDictations; ++i) {
        if (!rig.focusField())
            return false;
        const auto run = rig.dictate(tone);
        if (!run) {
            std::fprintf(stderr, "bench_e2e: dictation %d: %s\n", i + 1, qPrintable(rig.failure()));
            return false;
        }
        runs.push_back(*run);
    }
    const auto after = sample(pid);
    if (!after)
        return false;
    processFigures["murlex/after_20_dictations"] = *after;

    // The stand-in's record of the same dictations, in order, over every connection.
    std::vector<QJsonObject> recorded;
    for (const auto &connection : rig.server().socketRecording())
        for (const auto &dictation : connection.toObject().value(QStringLiteral("dictations")).toArray())
            recorded.push_back(dictation.toObject());
    if (recorded.size() < runs.size()) {
        std::fprintf(stderr, "bench_e2e: the stand-in recorded %zu dictations, not %zu\n", recorded.size(), runs.size());
        return false;
    }
    recorded.erase(recorded.begin(), recorded.end() - qsizetype(runs.size()));
    std::vector<double> toFirstFrame, toStop, toText;
    for (size_t i = 0; i < runs.size(); ++i) {
        const auto ns = [&](const char *key) { return double(recorded[i].value(QLatin1String(key)).toInteger()); };
        toFirstFrame.push_back((ns("first_frame_ns") - double(runs[i].firstPressNs)) / 1e6);
        toStop.push_back((ns("stop_ns") - double(runs[i].secondPressNs)) / 1e6);
        toText.push_back((double(runs[i].textSeenNs) - ns("polish_done_ns")) / 1e6);
    }
    latencies["e2e/press_to_first_frame"] = summarise(toFirstFrame, kChunkFloorMs);
    latencies["e2e/second_press_to_stop_received"] = summarise(toStop, 0);
    latencies["e2e/polish_done_to_text_in_field"] = summarise(toText, 0);
    return true;
}

void reportLatency(benchmark::State &state, const Figure &figure)
{
    for (auto _ : state)
        state.SetIterationTime(figure.median / 1000.0);
    state.counters["median_ms"] = figure.median;
    state.counters["p95_ms"] = figure.p95;
    state.counters["samples"] = figure.samples;
    if (figure.floor > 0) {
        state.counters["floor_ms"] = figure.floor;
        state.counters["median_per_floor"] = figure.median / figure.floor;
        state.counters["p95_per_floor"] = figure.p95 / figure.floor;
    }
}

void reportProcess(benchmark::State &state, const ProcessFigures &figures, bool idle)
{
    for (auto _ : state)
        state.SetIterationTime(0);
    state.counters["rss_MiB"] = figures.rssMiB;
    state.counters["cpu_s_total"] = figures.cpuSeconds;
    if (idle)
        state.counters["cpu_pct_idle_minute"] = idleCpuPercent;
}

} // namespace

int main(int argc, char **argv)
{
    // Google Benchmark's own flags first; what is left goes to Qt.
    benchmark::Initialize(&argc, argv);
    QApplication app(argc, argv);
    if (!runScenario())
        return 1;
    for (const auto &[name, figure] : latencies)
        benchmark::RegisterBenchmark(name.c_str(), [figure = figure](benchmark::State &state) { reportLatency(state, figure); })
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    for (const auto &[name, figures] : processFigures) {
        const bool idle = name.find("idle") != std::string::npos;
        benchmark::RegisterBenchmark(name.c_str(), [figures = figures, idle](benchmark::State &state) {
            reportProcess(state, figures, idle);
        })->Iterations(1)->UseManualTime();
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
