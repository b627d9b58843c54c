#include "FakeAudioCapture.h"

#include <QMutexLocker>

FakeAudioCapture::FakeAudioCapture(std::chrono::milliseconds interval)
    : m_interval(interval)
{
}

FakeAudioCapture::~FakeAudioCapture()
{
    m_capturing = false;
    if (m_thread.joinable())
        m_thread.join();
}

QCoro::Task<std::optional<PlatformError>> FakeAudioCapture::prepare()
{
    ++m_prepareCount;
    co_return std::optional<PlatformError>(m_prepareError); // a copy: co_return of a member would move it
}

void FakeAudioCapture::startCapture()
{
    ++m_startCount;
    if (m_capturing.exchange(true))
        return;
    if (m_thread.joinable())
        m_thread.join();
    m_thread = std::thread([this] {
        while (m_capturing) {
            std::this_thread::sleep_for(m_interval);
            if (!m_capturing)
                break;
            deliver(chunk(m_next++));
        }
    });
}

void FakeAudioCapture::stopCapture()
{
    if (!m_capturing.exchange(false))
        return;
    if (m_thread.joinable())
        m_thread.join();
    deliver(lastChunk(m_next++));
}

void FakeAudioCapture::setOnPCMFrame(PCMFrameHandler handler)
{
    QMutexLocker lock(&m_handlerMutex);
    m_handler = std::move(handler);
}

void FakeAudioCapture::deliver(const QByteArray &frame)
{
    QMutexLocker lock(&m_handlerMutex);
    if (m_handler) {
        m_handler(frame);
        m_deliveredSizes.append(int(frame.size()));
    }
}

QByteArray FakeAudioCapture::chunk(int n)
{
    return QByteArray(chunkBytes - 2 * (n % 16), char(n & 0x7f));
}

QList<int> FakeAudioCapture::chunkSizes(int first, int count)
{
    QList<int> sizes;
    for (int n = first; n < first + count; ++n)
        sizes.append(int(chunk(n).size()));
    return sizes;
}

QList<int> FakeAudioCapture::deliveredSizes() const
{
    QMutexLocker lock(&m_handlerMutex);
    return m_deliveredSizes;
}

QByteArray FakeAudioCapture::lastChunk(int n)
{
    return QByteArray(lastChunkBytes, char(n & 0x7f));
}
