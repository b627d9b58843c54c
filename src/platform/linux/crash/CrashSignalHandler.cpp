#include "platform/linux/crash/CrashSignalHandler.h"

#include "platform/linux/crash/RunRecordLayout.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <ucontext.h>
#include <unistd.h>

namespace {

constexpr int fatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};
constexpr int terminationSignals[] = {SIGTERM, SIGINT, SIGHUP};
// How long a second crashing thread waits for the first one to finish the record.
constexpr int secondCrashWaitSteps = 500; // of 10 ms

// Everything the handlers touch exists before they run.
std::atomic<int> g_fd{-1};
std::atomic<bool> g_recording{false};
struct sigaction g_previous[NSIG];
bool g_installed[NSIG];
RunRecordLayout::Crash g_crash;
char g_copyBuffer[4096];
void *g_frames[RunRecordLayout::maxFrames];
alignas(16) char g_alternateStack[64 * 1024]; // a stack overflow still gets a recorded crash

std::int64_t clockNs(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return std::int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void writeAll(int fd, const void *data, std::size_t size, off_t offset)
{
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t written = pwrite(fd, bytes, size, offset);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        bytes += written;
        size -= std::size_t(written);
        offset += written;
    }
}

void writeState(int fd, std::uint32_t state)
{
    writeAll(fd, &state, sizeof state, off_t(offsetof(RunRecordLayout::Header, state)));
}

std::uint64_t interruptedPc(void *context)
{
    const auto *uc = static_cast<const ucontext_t *>(context);
    if (!uc)
        return 0;
#if defined(__x86_64__)
    return std::uint64_t(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return std::uint64_t(uc->uc_mcontext.pc);
#else
    return 0;
#endif
}

// Copies /proc/self/maps behind the crash section; answers the number of bytes copied.
std::uint64_t copyMemoryMap(int fd)
{
    const int maps = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps < 0)
        return 0;
    std::uint64_t total = 0;
    while (total < RunRecordLayout::maxMapsBytes) {
        const ssize_t got = read(maps, g_copyBuffer, sizeof g_copyBuffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        writeAll(fd, g_copyBuffer, std::size_t(got), RunRecordLayout::mapsOffset + off_t(total));
        total += std::uint64_t(got);
    }
    close(maps);
    return total;
}

// Hands the signal on: the earlier disposition comes back and the signal is raised again; it
// arrives when this handler returns (a fault that happens again does the same).
void passOn(int signal)
{
    sigaction(signal, &g_previous[signal], nullptr);
    raise(signal);
}

void onFatalSignal(int signal, siginfo_t *info, void *context)
{
    const int savedErrno = errno;
    const int fd = g_fd.load();
    if (fd >= 0 && !g_recording.exchange(true)) {
        std::memset(&g_crash, 0, sizeof g_crash);
        g_crash.signal = signal;
        g_crash.code = info ? info->si_code : 0;
        g_crash.faultAddress = info ? std::uint64_t(reinterpret_cast<std::uintptr_t>(info->si_addr)) : 0;
        g_crash.pc = interruptedPc(context);
        g_crash.realtimeNs = clockNs(CLOCK_REALTIME);
        g_crash.boottimeNs = clockNs(CLOCK_BOOTTIME);
        const int frames = backtrace(g_frames, RunRecordLayout::maxFrames);
        g_crash.frameCount = std::uint32_t(frames > 0 ? frames : 0);
        for (int i = 0; i < frames; ++i)
            g_crash.frames[i] = std::uint64_t(reinterpret_cast<std::uintptr_t>(g_frames[i]));
        g_crash.mapsBytes = copyMemoryMap(fd);
        writeAll(fd, &g_crash, sizeof g_crash, RunRecordLayout::crashOffset);
        writeState(fd, RunRecordLayout::crashed);
    } else if (fd >= 0) {
        // Another thread is writing the record; the process ends when it is done.
        const timespec step{0, 10 * 1000 * 1000};
        for (int i = 0; i < secondCrashWaitSteps; ++i)
            nanosleep(&step, nullptr);
    }
    passOn(signal);
    errno = savedErrno;
}

void onTerminationSignal(int signal, siginfo_t *, void *)
{
    const int savedErrno = errno;
    const int fd = g_fd.load();
    if (fd >= 0 && !g_recording.load())
        writeState(fd, RunRecordLayout::terminated);
    passOn(signal);
    errno = savedErrno;
}

bool isDefault(const struct sigaction &action)
{
    return !(action.sa_flags & SA_SIGINFO) && action.sa_handler == SIG_DFL;
}

void installOne(int signal, void (*handler)(int, siginfo_t *, void *))
{
    struct sigaction action {};
    action.sa_sigaction = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    if (sigaction(signal, &action, &g_previous[signal]) == 0)
        g_installed[signal] = true;
}

} // namespace

void CrashSignalHandler::install(int recordFd)
{
    // backtrace() loads the unwinder on its first call, which allocates: never let that first
    // call happen inside a handler.
    void *warmUp[4];
    backtrace(warmUp, 4);

    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE)) {
        stack_t alternate{};
        alternate.ss_sp = g_alternateStack;
        alternate.ss_size = sizeof g_alternateStack;
        sigaltstack(&alternate, nullptr);
    }

    g_recording = false;
    g_fd = recordFd;
    for (const int signal : fatalSignals)
        installOne(signal, onFatalSignal);
    for (const int signal : terminationSignals) {
        // An application that handles these itself ends through its normal exit path.
        struct sigaction existing {};
        if (sigaction(signal, nullptr, &existing) == 0 && isDefault(existing))
            installOne(signal, onTerminationSignal);
    }
}

void CrashSignalHandler::uninstall()
{
    g_fd = -1;
    for (int signal = 1; signal < NSIG; ++signal) {
        if (!g_installed[signal])
            continue;
        g_installed[signal] = false;
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) != 0 || !(current.sa_flags & SA_SIGINFO))
            continue;
        if (current.sa_sigaction == onFatalSignal || current.sa_sigaction == onTerminationSignal)
            sigaction(signal, &g_previous[signal], nullptr);
    }
}

bool CrashSignalHandler::crashRecorded()
{
    return g_recording.load();
}
