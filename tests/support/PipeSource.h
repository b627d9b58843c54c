#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <thread>

// The harness's microphone: a PulseAudio pipe source fed through a FIFO
// (MURLEX_PIPE_SOURCE_FIFO, s16le at MURLEX_PIPE_SOURCE_RATE Hz, MURLEX_PIPE_SOURCE_CHANNELS channels).
// A pipe source delivers exactly what is written, as fast as it is written, so writes are paced in
// real time on a background thread. Write only while something records: a full FIFO would hand
// stale audio to the next recorder.
class PipeSource {
public:
    // Writes into the harness's pipe source, or into another pipe source's FIFO whose data rate
    // is `bytesPerSecond`.
    explicit PipeSource(QString fifo = fifoPath(), int bytesPerSecond = sampleRate() * channels() * 2);
    ~PipeSource(); // waits for a running write to finish

    static QString fifoPath();
    static QString sourceName();
    static int sampleRate();
    static int channels();

    // Interleaved s16le samples of a sine tone on every channel.
    static QByteArray tone(double frequencyHz, double seconds, double amplitude = 0.5,
                           int rate = sampleRate(), int channelCount = channels());
    static QByteArray silence(double seconds, int rate = sampleRate(), int channelCount = channels());

    // Starts writing `pcm` in real time (10 ms slices) on a background thread; returns at once.
    void start(const QByteArray &pcm);
    // Blocks until the running write has finished.
    void wait();
    // Writes `pcm` in real time and returns once it is all written.
    static void play(const QByteArray &pcm, const QString &fifo = fifoPath(),
                     int bytesPerSecond = sampleRate() * channels() * 2);

    // Takes the harness's pipe source (the only microphone) off the sound server, and puts it back
    // as the harness had it, the default source again.
    static bool unload();
    static bool load();

private:
    QString m_fifo;
    int m_bytesPerSecond;
    std::thread m_thread;
};
