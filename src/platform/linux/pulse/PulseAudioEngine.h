#pragma once

#include "platform/AudioEngine.h"
#include "platform/linux/pulse/PulseConnection.h"

#include <atomic>
#include <memory>

// The engine object over PulseAudio: a record stream on one source at that source's own sample
// spec. Bound to a device it records from that source and fails when the source goes away;
// unbound it records from the server's default source and follows it. The stream's read
// callback on the PulseAudio thread is the tap.
class PulseAudioEngine final : public AudioEngine {
    Q_OBJECT
public:
    explicit PulseAudioEngine(std::shared_ptr<PulseConnection> connection, QObject *parent = nullptr);
    ~PulseAudioEngine() override;

    bool hasInputUnit() override;
    int setCurrentDevice(AudioDeviceID device) override;
    AudioFormat inputFormat() override;
    void prepare() override;
    std::optional<PlatformError> start() override;
    void stop() override;
    bool isRunning() override;
    void installTap(quint32 bufferFrames, const AudioFormat &format, TapBlock block) override;
    void removeTap() override;

private:
    void releaseStreamLocked();
    void onServerEvent(PulseConnection::Event event, uint32_t sourceIndex);
    void postConfigurationChange();
    static PlatformError error(int code, const QString &description);

    static void onStreamState(pa_stream *stream, void *self);
    static void onStreamRead(pa_stream *stream, size_t bytes, void *self);
    static void onStreamMoved(pa_stream *stream, void *self);

    // The stream asks for fragments of this much audio, so that a chunk of the stream's output
    // leaves as soon as its last samples are recorded, not up to a fragment later.
    static constexpr std::chrono::milliseconds kFragmentDuration{10};
    // The tap's buffers when the tap asks for none.
    static constexpr quint32 kFragmentFrames = 1024;

    const std::shared_ptr<PulseConnection> m_connection;
    QString m_boundSource;            // empty: the server's default source
    AudioFormat m_format;             // the format read last; the stream records in it
    pa_channel_map m_channelMap{};    // the channel map of that source
    // Touched with the loop locked:
    pa_stream *m_stream = nullptr;
    AudioFormat m_streamFormat; // what the stream delivers
    uint32_t m_sourceIndex = PA_INVALID_INDEX;
    int m_subscription = 0;
    TapBlock m_tap;
    quint32 m_tapFrames = kFragmentFrames;
    std::atomic<bool> m_changePosted{false};
};
