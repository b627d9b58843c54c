#pragma once

#include "PipeSource.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>

// The harness's pipe source fed the way a real microphone delivers: from start() until it is
// destroyed, a steady real-time stream of samples in slices of `slice`, whether anyone records or
// not; silence unless something is being said. What speak() is given goes out from the next slice
// on, after anything still being said. The sound server must keep draining the source while no
// one records (the harness does not suspend idle sources); late() counts the slices that could not
// be written on time because it did not.
class LiveMicrophone {
public:
    static constexpr int kSliceMs = 10;

    explicit LiveMicrophone(QString fifo = PipeSource::fifoPath(), int bytesPerSecond =
                                                                        PipeSource::sampleRate() * PipeSource::channels() * 2);
    ~LiveMicrophone();
    LiveMicrophone(const LiveMicrophone &) = delete;
    LiveMicrophone &operator=(const LiveMicrophone &) = delete;

    // Opens the FIFO and starts delivering. False when the FIFO cannot be opened.
    bool start();
    void speak(const QByteArray &pcm);
    // Whether something said is not yet out.
    bool isSpeaking() const;
    int late() const { return m_late; }
    // Why the microphone stopped delivering (the FIFO refused a write); empty while it delivers.
    QString failure() const;

private:
    void run(int fd);

    const QString m_fifo;
    const int m_bytesPerSecond;
    mutable std::mutex m_mutex;
    QByteArray m_speech; // guarded by m_mutex
    QString m_failure;   // guarded by m_mutex
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_late{0};
    std::thread m_thread;
};
