// A process that keeps a crash record like the application does, for the crash report tests.
// XDG_DATA_HOME decides where the record and the report cache live. Every mode first starts the
// diagnostics observer (which reports how the previous run ended). Usage: crash_child MODE
//   exit    then exits cleanly
//   segv    enters the phase "recording", then raises SIGSEGV
//   fault   enters the phase "recording", then writes to the unmapped address 0x10
//   abort   enters the phase "injecting", then calls abort()
//   wait    enters the phase "polishing", prints "ready" and runs until a signal ends it
#include "store/MetricsKitObserver.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[gnu::noinline]] void crashInsideDictation(const QString &mode)
{
    if (mode == QLatin1String("abort"))
        std::abort();
    if (mode == QLatin1String("fault")) {
        volatile std::uintptr_t unmapped = 0x10; // opaque to the optimiser
        *reinterpret_cast<volatile int *>(std::uintptr_t(unmapped)) = 1;
    } else {
        std::raise(SIGSEGV);
    }
    std::fputs("still alive after the signal\n", stderr);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const QHash<QString, QString> phases{
        {QStringLiteral("exit"), QStringLiteral("idle")},       {QStringLiteral("segv"), QStringLiteral("recording")},
        {QStringLiteral("fault"), QStringLiteral("recording")}, {QStringLiteral("abort"), QStringLiteral("injecting")},
        {QStringLiteral("wait"), QStringLiteral("polishing")},
    };
    if (!phases.contains(mode)) {
        std::fprintf(stderr, "usage: crash_child exit|segv|fault|abort|wait\n");
        return 2;
    }
    MetricsKitObserver::start();
    MetricsKitObserver::shared().setDictationPhase(phases.value(mode));
    if (mode == QLatin1String("exit"))
        return 0;
    if (mode == QLatin1String("wait")) {
        std::puts("ready");
        std::fflush(stdout);
        return app.exec();
    }
    crashInsideDictation(mode);
    return 3;
}
