// A process that keeps a crash record like the application does, for the crash report tests.
// XDG_DATA_HOME decides where the record and the report cache live. Usage: crash_child MODE
//   exit    start the diagnostics observer (which reports how the previous run ended), exit cleanly
//   segv    start it, enter the phase "recording", then raise SIGSEGV
//   fault   start it, enter the phase "recording", then write to the unmapped address 0x10
//   abort   start it, enter the phase "injecting", then abort()
//   wait    start it, enter the phase "polishing", print "ready" and run until a signal ends it
#include "store/MetricsKitObserver.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[gnu::noinline]] void crashInsideDictation(int signal)
{
    if (signal == SIGABRT)
        std::abort();
    if (signal == 0)
        *reinterpret_cast<volatile int *>(std::uintptr_t(0x10)) = 1;
    else
        std::raise(signal);
    std::fputs("still alive after the signal\n", stderr);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    MetricsKitObserver::start();
    MetricsKitObserver &observer = MetricsKitObserver::shared();

    if (mode == QLatin1String("exit")) {
        observer.setDictationPhase(QStringLiteral("idle"));
        return 0;
    }
    if (mode == QLatin1String("segv")) {
        observer.setDictationPhase(QStringLiteral("recording"));
        crashInsideDictation(SIGSEGV);
        return 3;
    }
    if (mode == QLatin1String("fault")) {
        observer.setDictationPhase(QStringLiteral("recording"));
        crashInsideDictation(0);
        return 3;
    }
    if (mode == QLatin1String("abort")) {
        observer.setDictationPhase(QStringLiteral("injecting"));
        crashInsideDictation(SIGABRT);
        return 3;
    }
    if (mode == QLatin1String("wait")) {
        observer.setDictationPhase(QStringLiteral("polishing"));
        std::puts("ready");
        std::fflush(stdout);
        return app.exec();
    }
    std::fprintf(stderr, "usage: crash_child exit|segv|fault|abort|wait\n");
    return 2;
}
