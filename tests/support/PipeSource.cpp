#include "PipeSource.h"

#include "Pactl.h"

#include <QtGlobal>

#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace {
int envInt(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}
} // namespace

PipeSource::PipeSource(QString fifo, int bytesPerSecond) : m_fifo(std::move(fifo)), m_bytesPerSecond(bytesPerSecond) {}

PipeSource::~PipeSource() { wait(); }

QString PipeSource::fifoPath() { return qEnvironmentVariable("MURLEX_PIPE_SOURCE_FIFO"); }
QString PipeSource::sourceName() { return qEnvironmentVariable("MURLEX_PIPE_SOURCE_NAME"); }
int PipeSource::sampleRate() { return envInt("MURLEX_PIPE_SOURCE_RATE", 48000); }
int PipeSource::channels() { return envInt("MURLEX_PIPE_SOURCE_CHANNELS", 2); }

QByteArray PipeSource::tone(double frequencyHz, double seconds, double amplitude, int rate, int channelCount)
{
    const qsizetype frames = qsizetype(std::llround(seconds * rate));
    QByteArray out(frames * channelCount * 2, Qt::Uninitialized);
    auto *samples = reinterpret_cast<qint16 *>(out.data());
    for (qsizetype i = 0; i < frames; ++i) {
        const double v = amplitude * std::sin(2.0 * M_PI * frequencyHz * double(i) / rate);
        const auto s = qint16(std::lround(v * 32767.0));
        for (int c = 0; c < channelCount; ++c)
            samples[i * channelCount + c] = s;
    }
    return out;
}

void PipeSource::play(const QByteArray &pcm, const QString &fifo, int bytesPerSecond)
{
    PipeSource source(fifo, bytesPerSecond);
    source.start(pcm);
    source.wait();
}

QByteArray PipeSource::silence(double seconds, int rate, int channelCount)
{
    return QByteArray(qsizetype(std::llround(seconds * rate)) * channelCount * 2, '\0');
}

void PipeSource::start(const QByteArray &pcm)
{
    wait();
    const qsizetype slice = qsizetype(m_bytesPerSecond / 100); // 10 ms
    m_thread = std::thread([pcm, slice, fifo = m_fifo.toLocal8Bit()] {
        const int fd = ::open(fifo.constData(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        using clock = std::chrono::steady_clock;
        const auto begin = clock::now();
        for (qsizetype offset = 0, n = 0; offset < pcm.size(); offset += slice, ++n) {
            std::this_thread::sleep_until(begin + std::chrono::milliseconds(10 * n));
            if (!writeAll(fd, pcm.constData() + offset, qMin(slice, pcm.size() - offset)))
                break;
        }
        ::close(fd);
    });
}

void PipeSource::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

bool PipeSource::unload()
{
    const int module = Pactl::run({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules")})
                           .split(u'\n')
                           .filter(QStringLiteral("source_name=") + sourceName())
                           .value(0)
                           .section(u'\t', 0, 0)
                           .toInt();
    return module > 0 && Pactl::unloadModule(module);
}

bool PipeSource::load()
{
    return Pactl::loadPipeSource(sourceName(), fifoPath(), QStringLiteral("s16le"), sampleRate(), channels()) >= 0 &&
           Pactl::setDefaultSource(sourceName());
}
