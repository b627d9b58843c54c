#include "platform/linux/pulse/PulseSamplePlayer.h"

#include "app/AppLogger.h"

namespace {

void signalLoop(pa_stream *, void *connection) { static_cast<PulseConnection *>(connection)->signal(); }

} // namespace

PulseSamplePlayer::PulseSamplePlayer(QString server) : m_server(std::move(server)) {}

bool PulseSamplePlayer::upload(const QString &name, const QByteArray &pcm, const AudioFormat &format)
{
    if (pcm.isEmpty() || format.sampleType != AudioSampleType::int16 || !format.isUsable()
        || pcm.size() % qsizetype(format.bytesPerFrame()) != 0)
        return false;
    if (!m_connection)
        m_connection = std::make_unique<PulseConnection>(m_server);
    if (!m_connection->ensureConnected())
        return false;

    PulseConnection::Locker lock(*m_connection);
    const pa_sample_spec spec{PA_SAMPLE_S16NE, uint32_t(format.sampleRate), uint8_t(format.channelCount)};
    const QByteArray utf8 = name.toUtf8();
    pa_stream *stream = pa_stream_new(m_connection->context(), utf8.constData(), &spec, nullptr);
    if (!stream)
        return false;
    pa_stream_set_state_callback(stream, &signalLoop, m_connection.get());
    const auto state = [stream] { return pa_stream_get_state(stream); };
    const auto settled = [&state](pa_stream_state_t wanted) {
        return state() == wanted || !PA_STREAM_IS_GOOD(state());
    };
    bool ok = pa_stream_connect_upload(stream, size_t(pcm.size())) == 0
              && m_connection->waitUntil([&] { return settled(PA_STREAM_READY); }) && state() == PA_STREAM_READY
              // Without a free callback the data is copied before the call returns.
              && pa_stream_write(stream, pcm.constData(), size_t(pcm.size()), nullptr, 0, PA_SEEK_RELATIVE) == 0
              && pa_stream_finish_upload(stream) == 0
              && m_connection->waitUntil([&] { return settled(PA_STREAM_TERMINATED); })
              && state() == PA_STREAM_TERMINATED;
    if (!ok) {
        m_connection->noteContextError();
        qCCritical(AppLogger::audio, "cannot upload the sound %s: %s", utf8.constData(),
                   qUtf8Printable(m_connection->lastError()));
        if (PA_STREAM_IS_GOOD(state()))
            pa_stream_disconnect(stream);
    }
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_unref(stream);
    if (ok) {
        auto &sound = m_sounds[name];
        if (!sound)
            sound = std::make_unique<Sound>(Sound{utf8});
        sound->lost = false;
    }
    return ok;
}

void PulseSamplePlayer::onPlayed(pa_context *, int success, void *sound)
{
    if (!success)
        static_cast<Sound *>(sound)->lost = true;
}

bool PulseSamplePlayer::play(const QString &name)
{
    const auto found = m_sounds.find(name);
    if (!m_connection || found == m_sounds.end())
        return false;
    Sound *sound = found->second.get();
    PulseConnection::Locker lock(*m_connection);
    pa_context *context = m_connection->context();
    // Never connects here: with the server gone the sound is skipped rather than waited for.
    if (!context || pa_context_get_state(context) != PA_CONTEXT_READY)
        return false;
    if (sound->lost) {
        sound->lost = false;
        return false;
    }
    pa_operation *operation =
        pa_context_play_sample(context, sound->name.constData(), nullptr, PA_VOLUME_NORM, &onPlayed, sound);
    if (!operation)
        return false;
    pa_operation_unref(operation);
    return true;
}
