#include "platform/linux/crash/LinuxCrashRecorder.h"

#include "app/AppLogger.h"
#include "platform/linux/crash/CrashSignalHandler.h"
#include "platform/linux/crash/DwarfSymbolizer.h"
#include "platform/linux/process/ProcessClock.h"
#include "platform/linux/crash/RunRecordLayout.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QDateTime fromRealtimeNs(std::int64_t ns)
{
    return ns > 0 ? QDateTime::fromMSecsSinceEpoch(ns / 1000000, Qt::UTC) : QDateTime();
}

QString fixedText(const char *field, std::size_t size)
{
    return QString::fromUtf8(field, qsizetype(strnlen(field, size)));
}

// Copies `text` as UTF-8 into a fixed field, cut at a character boundary, always NUL-terminated.
template <std::size_t N>
void setFixedText(char (&field)[N], const QString &text)
{
    std::memset(field, 0, N);
    const QByteArray utf8 = text.toUtf8();
    qsizetype length = qMin(utf8.size(), qsizetype(N - 1));
    while (length > 0 && length < utf8.size() && (uchar(utf8.at(length)) & 0xC0) == 0x80)
        --length;
    std::memcpy(field, utf8.constData(), size_t(length));
}

bool readAt(int fd, void *buffer, std::size_t size, off_t offset)
{
    char *bytes = static_cast<char *>(buffer);
    while (size > 0) {
        const ssize_t got = pread(fd, bytes, size, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= std::size_t(got);
        offset += got;
    }
    return true;
}

bool writeAt(int fd, const void *data, std::size_t size, off_t offset)
{
    return pwrite(fd, data, size, offset) == ssize_t(size);
}

QString signalName(int signal)
{
    const char *abbreviation = sigabbrev_np(signal);
    return abbreviation ? QStringLiteral("SIG") + QString::fromLatin1(abbreviation) : QString::number(signal);
}

// Only a fault the kernel raised has an address; a signal sent by a process carries its sender there.
bool carriesFaultAddress(int signal, int code)
{
    return code > 0 && (signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE);
}

void endRunAtExit()
{
    LinuxCrashRecorder::instance().endRun();
}

} // namespace

LinuxCrashRecorder &LinuxCrashRecorder::instance()
{
    static LinuxCrashRecorder *instance = new LinuxCrashRecorder;
    return *instance;
}

std::optional<PreviousRun> LinuxCrashRecorder::beginRun(const QString &recordPath, const QString &appVersion)
{
    if (m_fd >= 0)
        return std::nullopt;
    QDir().mkpath(QFileInfo(recordPath).absolutePath());
    const int fd = open(QFile::encodeName(recordPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        qCCritical(AppLogger::metricsKitObserver, "Could not open the run record %s: %s", qPrintable(recordPath),
                   strerror(errno));
        return std::nullopt;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        qCInfo(AppLogger::metricsKitObserver, "Another instance holds the run record; this run is not recorded");
        close(fd);
        return std::nullopt;
    }
    m_fd = fd;
    RawBacktrace raw;
    std::optional<PreviousRun> previous = readPrevious(fd, raw);
    if (startRecord(appVersion)) {
        CrashSignalHandler::install(fd);
        static const bool registered = std::atexit(endRunAtExit) == 0;
        Q_UNUSED(registered);
    } else {
        qCCritical(AppLogger::metricsKitObserver, "Could not write the run record %s: %s", qPrintable(recordPath),
                   strerror(errno));
        close(fd);
        m_fd = -1;
    }
    if (previous && previous->end == PreviousRun::End::crashed)
        previous->backtrace = symbolized(raw);
    return previous;
}

bool LinuxCrashRecorder::startRecord(const QString &appVersion)
{
    if (ftruncate(m_fd, 0) != 0)
        return false;
    RunRecordLayout::Header header{};
    std::memcpy(header.magic, RunRecordLayout::magic, sizeof header.magic);
    header.state = RunRecordLayout::running;
    header.pid = getpid();
    const std::int64_t nowBoot = ProcessClock::boottimeNs();
    header.launchBoottimeNs = ProcessClock::startBoottimeNs().value_or(nowBoot);
    header.launchRealtimeNs = ProcessClock::realtimeNs() - (nowBoot - header.launchBoottimeNs);
    setFixedText(header.appVersion, appVersion);
    return writeAt(m_fd, &header, sizeof header, 0);
}

void LinuxCrashRecorder::setPhase(const QString &phase)
{
    if (m_fd < 0)
        return;
    struct {
        std::int64_t realtimeNs;
        char text[RunRecordLayout::phaseBytes];
    } update{};
    static_assert(sizeof update == sizeof(RunRecordLayout::Header::phaseRealtimeNs) + RunRecordLayout::phaseBytes);
    static_assert(offsetof(RunRecordLayout::Header, phase)
                  == offsetof(RunRecordLayout::Header, phaseRealtimeNs) + sizeof(std::int64_t));
    update.realtimeNs = ProcessClock::realtimeNs();
    setFixedText(update.text, phase);
    writeAt(m_fd, &update, sizeof update, off_t(offsetof(RunRecordLayout::Header, phaseRealtimeNs)));
}

void LinuxCrashRecorder::endRun()
{
    if (m_fd < 0)
        return;
    CrashSignalHandler::uninstall();
    if (!CrashSignalHandler::crashRecorded()) {
        const std::uint32_t state = RunRecordLayout::exited;
        writeAt(m_fd, &state, sizeof state, off_t(offsetof(RunRecordLayout::Header, state)));
    }
    close(m_fd); // also releases the lock
    m_fd = -1;
}

std::optional<PreviousRun> LinuxCrashRecorder::readPrevious(int fd, RawBacktrace &raw)
{
    RunRecordLayout::Header header{};
    if (!readAt(fd, &header, sizeof header, 0) || std::memcmp(header.magic, RunRecordLayout::magic, sizeof header.magic) != 0)
        return std::nullopt;
    if (header.state != RunRecordLayout::running && header.state != RunRecordLayout::crashed)
        return std::nullopt;

    PreviousRun run;
    run.end = PreviousRun::End::abnormal;
    run.appVersion = fixedText(header.appVersion, sizeof header.appVersion);
    run.pid = header.pid;
    run.launchTime = fromRealtimeNs(header.launchRealtimeNs);
    run.lastPhase = fixedText(header.phase, sizeof header.phase);
    run.lastPhaseTime = fromRealtimeNs(header.phaseRealtimeNs);

    RunRecordLayout::Crash crash{};
    if (header.state != RunRecordLayout::crashed || !readAt(fd, &crash, sizeof crash, RunRecordLayout::crashOffset))
        return run;
    run.end = PreviousRun::End::crashed;
    run.signal = crash.signal;
    run.signalName = signalName(crash.signal);
    run.signalCode = crash.code;
    if (carriesFaultAddress(crash.signal, crash.code))
        run.faultAddress = crash.faultAddress;
    run.crashTime = fromRealtimeNs(crash.realtimeNs);
    if (crash.boottimeNs >= header.launchBoottimeNs)
        run.uptimeSeconds = double(crash.boottimeNs - header.launchBoottimeNs) / 1e9;

    struct stat status {};
    if (fstat(fd, &status) == 0 && status.st_size > RunRecordLayout::mapsOffset) {
        const std::uint64_t available = std::uint64_t(status.st_size - RunRecordLayout::mapsOffset);
        const std::uint64_t length = std::min({crash.mapsBytes, available, std::uint64_t(RunRecordLayout::maxMapsBytes)});
        raw.memoryMap.resize(qsizetype(length));
        if (!readAt(fd, raw.memoryMap.data(), std::size_t(length), RunRecordLayout::mapsOffset))
            raw.memoryMap.clear();
    }
    for (std::uint32_t i = 0; i < std::min<std::uint32_t>(crash.frameCount, RunRecordLayout::maxFrames); ++i)
        raw.frames.append(crash.frames[i]);
    raw.pc = crash.pc;
    return run;
}

QList<StackFrame> LinuxCrashRecorder::symbolized(const RawBacktrace &raw)
{
    // The first frames are the handler and the signal trampoline: start at the interrupted code.
    qsizetype first = raw.pc ? raw.frames.indexOf(raw.pc) : -1;
    const bool pcFound = first >= 0;
    if (!pcFound)
        first = 0;
    const DwarfSymbolizer symbolizer(raw.memoryMap);
    QList<StackFrame> frames;
    for (qsizetype i = first; i < raw.frames.size(); ++i)
        frames.append(symbolizer.symbolize(raw.frames.at(i), !(pcFound && i == first)));
    return frames;
}
