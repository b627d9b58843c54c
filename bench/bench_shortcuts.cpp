// What one hot-key press costs the shortcuts library: every dispatch reads and decodes the stored
// shortcut of each name with handlers.
#include "shortcuts/KeyboardShortcuts.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace KeyboardShortcuts;

static void BM_DecodeStoredForm(benchmark::State &state)
{
    const QByteArray json = Shortcut(0x31, 6144).toJson();
    for (auto _ : state)
        benchmark::DoNotOptimize(Shortcut::fromJson(json));
}
BENCHMARK(BM_DecodeStoredForm);

static void BM_ReadNameFromSettings(benchmark::State &state)
{
    QSettings().setValue(QStringLiteral("KeyboardShortcuts_bench"), QString::fromUtf8(Shortcut(0x31, 6144).toJson()));
    const Name name = [] {
        Name n;
        n.rawValue = QStringLiteral("bench");
        return n;
    }();
    for (auto _ : state)
        benchmark::DoNotOptimize(getShortcut(name));
}
BENCHMARK(BM_ReadNameFromSettings);

static void BM_DescribeSpecialKey(benchmark::State &state)
{
    const Shortcut shortcut(0x31, 6144);
    for (auto _ : state)
        benchmark::DoNotOptimize(shortcut.description());
}
BENCHMARK(BM_DescribeSpecialKey);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QCoreApplication::setOrganizationName(QStringLiteral("quillfen"));
    QCoreApplication::setApplicationName(QStringLiteral("MurlexBench"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
