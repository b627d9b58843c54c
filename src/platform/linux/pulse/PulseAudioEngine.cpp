#include "platform/linux/pulse/PulseAudioEngine.h"

#include <QMetaObject>

#include <algorithm>

namespace {

AudioFormat formatOf(const pa_sample_spec &spec)
{
    if (!pa_sample_spec_valid(&spec))
        return {};
    AudioFormat format;
    format.sampleRate = spec.rate;
    format.channelCount = spec.channels;
    switch (spec.format) {
    case PA_SAMPLE_S16NE:
        format.sampleType = AudioSampleType::int16;
        break;
    case PA_SAMPLE_S32NE:
        format.sampleType = AudioSampleType::int32;
        break;
    default: // float, 24-bit, 8-bit, the other byte order: the server converts to float for us
        format.sampleType = AudioSampleType::float32;
        break;
    }
    return format;
}

pa_sample_format_t sampleFormatOf(AudioSampleType type)
{
    switch (type) {
    case AudioSampleType::int16:
        return PA_SAMPLE_S16NE;
    case AudioSampleType::int32:
        return PA_SAMPLE_S32NE;
    case AudioSampleType::float32:
        break;
    }
    return PA_SAMPLE_FLOAT32NE;
}

} // namespace

PulseAudioEngine::PulseAudioEngine(std::shared_ptr<PulseConnection> connection, QObject *parent)
    : AudioEngine(parent), m_connection(std::move(connection))
{
    pa_channel_map_init(&m_channelMap);
}

PulseAudioEngine::~PulseAudioEngine()
{
    PulseConnection::Locker lock(*m_connection);
    m_tap = {};
    releaseStreamLocked();
}

PlatformError PulseAudioEngine::error(int code, const QString &description)
{
    return PlatformError{QStringLiteral("PulseAudio"), code, description};
}

bool PulseAudioEngine::hasInputUnit() { return m_connection->ensureConnected(); }

int PulseAudioEngine::setCurrentDevice(AudioDeviceID device)
{
    const std::optional<PulseSourceInfo> source = m_connection->source(uint32_t(device));
    if (!source)
        return m_connection->ensureConnected() ? PA_ERR_NOENTITY : PA_ERR_CONNECTIONREFUSED;
    m_boundSource = source->name;
    m_format = {};
    return 0;
}

AudioFormat PulseAudioEngine::inputFormat()
{
    std::optional<PulseSourceInfo> source;
    if (!m_boundSource.isEmpty()) {
        source = m_connection->source(m_boundSource);
    } else if (const std::optional<QString> name = m_connection->defaultSourceName(); name && !name->isEmpty()) {
        source = m_connection->source(*name);
    }
    m_format = source ? formatOf(source->sampleSpec) : AudioFormat{};
    if (source && pa_channel_map_valid(&source->channelMap) && source->channelMap.channels == m_format.channelCount)
        m_channelMap = source->channelMap;
    else
        pa_channel_map_init(&m_channelMap);
    return m_format;
}

void PulseAudioEngine::prepare() {}

std::optional<PlatformError> PulseAudioEngine::start()
{
    if (isRunning())
        return std::nullopt;
    if (!m_format.isUsable())
        inputFormat();
    if (!m_connection->ensureConnected())
        return error(PA_ERR_CONNECTIONREFUSED, m_connection->lastError());
    if (!m_format.isUsable())
        return error(PA_ERR_NOENTITY, QString::fromUtf8(pa_strerror(PA_ERR_NOENTITY)));

    PulseConnection::Locker lock(*m_connection);
    releaseStreamLocked();
    const pa_sample_spec spec{sampleFormatOf(m_format.sampleType), uint32_t(m_format.sampleRate),
                              uint8_t(m_format.channelCount)};
    const pa_channel_map *channelMap = pa_channel_map_valid(&m_channelMap) ? &m_channelMap : nullptr;
    m_stream = pa_stream_new(m_connection->context(), "Murlex dictation", &spec, channelMap);
    if (!m_stream) {
        m_connection->noteContextError();
        return error(pa_context_errno(m_connection->context()), m_connection->lastError());
    }
    m_streamFormat = m_format;
    pa_stream_set_state_callback(m_stream, &onStreamState, this);
    pa_stream_set_read_callback(m_stream, &onStreamRead, this);
    pa_stream_set_moved_callback(m_stream, &onStreamMoved, this);

    pa_buffer_attr attributes;
    attributes.maxlength = uint32_t(-1);
    attributes.tlength = attributes.prebuf = attributes.minreq = uint32_t(-1);
    const auto fragmentFrames = std::max<quint64>(1, quint64(m_streamFormat.sampleRate) * quint64(kFragmentDuration.count()) / 1000);
    attributes.fragsize = uint32_t(fragmentFrames * m_streamFormat.bytesPerFrame());
    const bool bound = !m_boundSource.isEmpty();
    const QByteArray device = m_boundSource.toUtf8();
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | (bound ? PA_STREAM_DONT_MOVE : 0));
    int failure = 0;
    if (pa_stream_connect_record(m_stream, bound ? device.constData() : nullptr, &attributes, flags) < 0) {
        failure = pa_context_errno(m_connection->context());
    } else {
        const bool settled = m_connection->waitUntil([this] {
            const pa_stream_state_t state = pa_stream_get_state(m_stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        });
        if (!settled)
            failure = PA_ERR_TIMEOUT;
        else if (pa_stream_get_state(m_stream) != PA_STREAM_READY)
            failure = pa_context_errno(m_connection->context());
    }
    if (failure != 0 || pa_stream_get_state(m_stream) != PA_STREAM_READY) {
        releaseStreamLocked();
        if (failure == 0)
            failure = PA_ERR_UNKNOWN;
        return error(failure, QString::fromUtf8(pa_strerror(failure)));
    }
    m_sourceIndex = pa_stream_get_device_index(m_stream);
    m_subscription = m_connection->addSubscriber(
        [this](PulseConnection::Event event, uint32_t sourceIndex) { onServerEvent(event, sourceIndex); });
    return std::nullopt;
}

void PulseAudioEngine::stop()
{
    PulseConnection::Locker lock(*m_connection);
    releaseStreamLocked();
}

bool PulseAudioEngine::isRunning()
{
    PulseConnection::Locker lock(*m_connection);
    return m_stream && pa_stream_get_state(m_stream) == PA_STREAM_READY;
}

void PulseAudioEngine::installTap(quint32 bufferFrames, const AudioFormat &, TapBlock block)
{
    PulseConnection::Locker lock(*m_connection);
    m_tapFrames = std::max<quint32>(bufferFrames, 1);
    m_tap = std::move(block);
}

void PulseAudioEngine::removeTap()
{
    PulseConnection::Locker lock(*m_connection);
    m_tap = {};
}

void PulseAudioEngine::releaseStreamLocked()
{
    if (m_subscription != 0) {
        m_connection->removeSubscriber(m_subscription);
        m_subscription = 0;
    }
    if (!m_stream)
        return;
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    pa_stream_set_read_callback(m_stream, nullptr, nullptr);
    pa_stream_set_moved_callback(m_stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)))
        pa_stream_disconnect(m_stream);
    pa_stream_unref(m_stream);
    m_stream = nullptr;
    m_sourceIndex = PA_INVALID_INDEX;
}

void PulseAudioEngine::onServerEvent(PulseConnection::Event event, uint32_t sourceIndex)
{
    switch (event) {
    case PulseConnection::Event::sourceAdded: // a new source changes nothing for a running stream
        break;
    case PulseConnection::Event::sourceChanged:
    case PulseConnection::Event::sourceRemoved:
        if (sourceIndex == m_sourceIndex)
            postConfigurationChange();
        break;
    case PulseConnection::Event::defaultSourceChanged:
        postConfigurationChange();
        break;
    }
}

void PulseAudioEngine::postConfigurationChange()
{
    // One notification in flight is enough: the receiver reads the situation as it then is.
    if (m_changePosted.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_changePosted = false;
            Q_EMIT configurationChanged();
        },
        Qt::QueuedConnection);
}

void PulseAudioEngine::onStreamState(pa_stream *stream, void *self)
{
    auto *engine = static_cast<PulseAudioEngine *>(self);
    engine->m_connection->signal();
    // A stream that dies after it was started (its source went away, the server quit) is a
    // change of configuration as well.
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) && engine->m_subscription != 0)
        engine->postConfigurationChange();
}

void PulseAudioEngine::onStreamMoved(pa_stream *stream, void *self)
{
    auto *engine = static_cast<PulseAudioEngine *>(self);
    engine->m_sourceIndex = pa_stream_get_device_index(stream);
    engine->postConfigurationChange();
}

void PulseAudioEngine::onStreamRead(pa_stream *stream, size_t, void *self)
{
    auto *engine = static_cast<PulseAudioEngine *>(self);
    const size_t frameBytes = engine->m_streamFormat.bytesPerFrame();
    for (;;) {
        const size_t readable = pa_stream_readable_size(stream);
        if (readable == 0 || readable == size_t(-1))
            return;
        const void *data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
            return;
        // data is null for a hole in the stream: nothing was recorded there.
        if (data && engine->m_tap && frameBytes > 0) {
            const auto *frames = static_cast<const char *>(data);
            for (size_t left = bytes / frameBytes; left > 0;) {
                const auto n = quint32(std::min<size_t>(left, engine->m_tapFrames));
                engine->m_tap(AudioBuffer{frames, n, engine->m_streamFormat});
                frames += size_t(n) * frameBytes;
                left -= n;
            }
        }
        pa_stream_drop(stream);
    }
}
