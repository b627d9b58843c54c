#pragma once

#include "audio/AudioCapture.h"

#include <QByteArray>
#include <QMutex>

#include <atomic>
#include <chrono>
#include <thread>

// A microphone that delivers numbered PCM chunks from its own thread, like the capture thread of
// the real engine: every `interval` one full chunk (3200 bytes, every byte the chunk's number),
// and on stopCapture() one short last chunk (1000 bytes). prepare() answers what the test set.
class FakeAudioCapture : public AudioCapture {
public:
    static constexpr qsizetype chunkBytes = 3200;
    static constexpr qsizetype lastChunkBytes = 1000;

    explicit FakeAudioCapture(std::chrono::milliseconds interval = std::chrono::milliseconds(20));
    ~FakeAudioCapture() override;

    QCoro::Task<std::optional<PlatformError>> prepare() override;
    void startCapture() override;
    void stopCapture() override;
    void setOnPCMFrame(PCMFrameHandler handler) override;

    // The chunk numbered `n` (full) or the short last chunk numbered `n`.
    static QByteArray chunk(int n);
    static QByteArray lastChunk(int n);

    void setPrepareError(std::optional<PlatformError> error) { m_prepareError = std::move(error); }
    bool isCapturing() const { return m_capturing; }
    int prepareCount() const { return m_prepareCount; }
    int startCount() const { return m_startCount; }
    int stopCount() const { return m_stopCount; }
    // Chunks handed to the handler so far (all captures).
    int deliveredCount() const { return m_delivered; }

private:
    void deliver(const QByteArray &frame);

    std::chrono::milliseconds m_interval;
    std::optional<PlatformError> m_prepareError;
    QMutex m_handlerMutex;
    PCMFrameHandler m_handler;
    std::thread m_thread;
    std::atomic<bool> m_capturing{false};
    std::atomic<int> m_next{0};
    std::atomic<int> m_delivered{0};
    int m_prepareCount = 0;
    int m_startCount = 0;
    int m_stopCount = 0;
};
