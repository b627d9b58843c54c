#pragma once

#include "audio/AudioCapture.h"

#include <QByteArray>
#include <QList>
#include <QMutex>

#include <atomic>
#include <chrono>
#include <thread>

// A microphone that delivers numbered PCM chunks from its own thread, like the capture thread of
// the real engine: every `interval` one chunk, and on stopCapture() one short last chunk.
// The size of chunk n (3200 bytes less 2·(n mod 16)) tells the receiver which chunk it is, so a
// server's list of frame sizes shows whether every chunk arrived once and in order.
// prepare() answers what the test set.
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

    // The chunk numbered `n`, or the short last chunk numbered `n`.
    static QByteArray chunk(int n);
    static QByteArray lastChunk(int n);
    // The sizes of chunks `first` .. `first + count - 1`.
    static QList<int> chunkSizes(int first, int count);

    void setPrepareError(std::optional<PlatformError> error) { m_prepareError = std::move(error); }
    bool isCapturing() const { return m_capturing; }
    int prepareCount() const { return m_prepareCount; }
    int startCount() const { return m_startCount; }
    // The sizes of the chunks handed to the handler so far, in order (all captures).
    QList<int> deliveredSizes() const;

private:
    void deliver(const QByteArray &frame);

    std::chrono::milliseconds m_interval;
    std::optional<PlatformError> m_prepareError;
    mutable QMutex m_handlerMutex;
    PCMFrameHandler m_handler;
    std::thread m_thread;
    std::atomic<bool> m_capturing{false};
    std::atomic<int> m_next{0};
    QList<int> m_deliveredSizes; // guarded by m_handlerMutex
    int m_prepareCount = 0;
    int m_startCount = 0;
};
