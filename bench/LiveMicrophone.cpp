#include "LiveMicrophone.h"

#include <cerrno>
#include <cstring>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

LiveMicrophone::LiveMicrophone(QString fifo, int bytesPerSecond)
    : m_fifo(std::move(fifo)), m_bytesPerSecond(bytesPerSecond)
{
}

LiveMicrophone::~LiveMicrophone()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

bool LiveMicrophone::start()
{
    if (m_thread.joinable())
        return true;
    // Non-blocking, so that a stalled source shows as a late slice instead of a hung writer.
    const int fd = ::open(m_fifo.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    m_thread = std::thread([this, fd] { run(fd); });
    return true;
}

void LiveMicrophone::speak(const QByteArray &pcm)
{
    const std::lock_guard lock(m_mutex);
    m_speech.append(pcm);
}

QString LiveMicrophone::failure() const
{
    const std::lock_guard lock(m_mutex);
    return m_failure;
}

bool LiveMicrophone::isSpeaking() const
{
    const std::lock_guard lock(m_mutex);
    return !m_speech.isEmpty();
}

void LiveMicrophone::run(int fd)
{
    using clock = std::chrono::steady_clock;
    const qsizetype frameBytes = PipeSource::channels() * 2;
    const qsizetype sliceBytes = qsizetype(m_bytesPerSecond) * kSliceMs / 1000 / frameBytes * frameBytes;
    const QByteArray silence(sliceBytes, '\0');
    const auto begin = clock::now();
    for (qint64 n = 0; !m_stop; ++n) {
        std::this_thread::sleep_until(begin + std::chrono::milliseconds(kSliceMs * n));
        QByteArray slice;
        {
            const std::lock_guard lock(m_mutex);
            slice = m_speech.left(sliceBytes);
            m_speech.remove(0, slice.size());
        }
        if (slice.size() < sliceBytes)
            slice.append(silence.constData(), sliceBytes - slice.size());
        bool late = false;
        for (qsizetype written = 0; written < slice.size() && !m_stop;) {
            const ssize_t w = ::write(fd, slice.constData() + written, size_t(slice.size() - written));
            if (w > 0) {
                written += w;
                continue;
            }
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0 && errno != EAGAIN) {
                const std::lock_guard lock(m_mutex);
                m_failure = QStringLiteral("writing to %1 failed: %2").arg(m_fifo, QString::fromLocal8Bit(std::strerror(errno)));
                m_stop = true;
                break;
            }
            // The source is not draining: the slice is late; wait a little for room.
            if (!late) {
                late = true;
                ++m_late;
            }
            pollfd room{fd, POLLOUT, 0};
            ::poll(&room, 1, kSliceMs);
        }
    }
    ::close(fd);
}
