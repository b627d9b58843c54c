#include "platform/linux/pulse/PulseConnection.h"

#include "app/AppLogger.h"
#include "core/AppIdentity.h"

#include <cstring>

namespace {

bool propertyIs(const pa_proplist *properties, const char *key, const char *value)
{
    const char *actual = pa_proplist_gets(properties, key);
    return actual && std::strcmp(actual, value) == 0;
}

} // namespace

PulseSourceInfo PulseConnection::sourceInfo(const pa_source_info &source)
{
    PulseSourceInfo info;
    info.index = source.index;
    info.name = QString::fromUtf8(source.name);
    info.description = QString::fromUtf8(source.description ? source.description : source.name);
    info.sampleSpec = source.sample_spec;
    info.channelMap = source.channel_map;
    info.isMonitor = source.monitor_of_sink != PA_INVALID_INDEX
                     || propertyIs(source.proplist, PA_PROP_DEVICE_CLASS, "monitor");
    info.isBuiltIn = propertyIs(source.proplist, PA_PROP_DEVICE_FORM_FACTOR, "internal")
                     || propertyIs(source.proplist, PA_PROP_DEVICE_BUS, "pci");
    return info;
}

namespace {

struct SourceResult {
    QList<PulseSourceInfo> sources;
    bool failed = false;
};

void collectSource(pa_context *, const pa_source_info *source, int eol, void *result)
{
    auto *r = static_cast<SourceResult *>(result);
    if (eol < 0)
        r->failed = true;
    else if (eol == 0 && source)
        r->sources.append(PulseConnection::sourceInfo(*source));
}

struct Timer {
    pa_threaded_mainloop *loop;
    bool expired = false;
};

void onTimer(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *timer)
{
    auto *t = static_cast<Timer *>(timer);
    t->expired = true;
    pa_threaded_mainloop_signal(t->loop, 0);
}

} // namespace

PulseConnection::PulseConnection(QString server, std::chrono::milliseconds operationTimeout)
    : m_server(std::move(server)), m_timeout(operationTimeout)
{
    m_loop = pa_threaded_mainloop_new();
    Q_CHECK_PTR(m_loop);
    pa_threaded_mainloop_set_name(m_loop, "murlex-pulse");
    if (pa_threaded_mainloop_start(m_loop) < 0)
        qFatal("cannot start the PulseAudio thread");
}

PulseConnection::~PulseConnection()
{
    {
        Locker lock(*this);
        dropContextLocked();
    }
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
}

PulseConnection::Locker::Locker(PulseConnection &connection) : m_loop(connection.m_loop)
{
    pa_threaded_mainloop_lock(m_loop);
}

PulseConnection::Locker::~Locker() { pa_threaded_mainloop_unlock(m_loop); }

QString PulseConnection::lastError() const { return m_lastError; }

void PulseConnection::signal() { pa_threaded_mainloop_signal(m_loop, 0); }

void PulseConnection::noteContextError()
{
    m_lastError = QString::fromUtf8(pa_strerror(m_context ? pa_context_errno(m_context) : PA_ERR_CONNECTIONREFUSED));
}

bool PulseConnection::waitUntil(const std::function<bool()> &done)
{
    if (done())
        return true;
    Timer timer{m_loop};
    const pa_usec_t timeout = pa_usec_t(std::chrono::duration_cast<std::chrono::microseconds>(m_timeout).count());
    pa_time_event *event = pa_context_rttime_new(m_context, pa_rtclock_now() + timeout, &onTimer, &timer);
    if (!event)
        return false; // without a timer the wait could last for ever
    while (!done() && !timer.expired)
        pa_threaded_mainloop_wait(m_loop);
    pa_threaded_mainloop_get_api(m_loop)->time_free(event);
    return done();
}

bool PulseConnection::ensureConnected()
{
    Locker lock(*this);
    if (m_context && pa_context_get_state(m_context) == PA_CONTEXT_READY)
        return true;
    return connectLocked();
}

bool PulseConnection::connectLocked()
{
    dropContextLocked();
    pa_proplist *properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, AppIdentity::displayName);
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, AppIdentity::bundleIdentifier);
    m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), AppIdentity::displayName, properties);
    pa_proplist_free(properties);
    if (!m_context) {
        m_lastError = QString::fromUtf8(pa_strerror(PA_ERR_INTERNAL));
        return false;
    }
    pa_context_set_state_callback(m_context, &onContextState, this);
    const QByteArray server = m_server.toUtf8();
    if (pa_context_connect(m_context, m_server.isEmpty() ? nullptr : server.constData(), PA_CONTEXT_NOAUTOSPAWN,
                           nullptr)
        < 0) {
        noteContextError();
        dropContextLocked();
        return false;
    }
    const bool settled = waitUntil([this] {
        const pa_context_state_t state = pa_context_get_state(m_context);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    if (!settled || pa_context_get_state(m_context) != PA_CONTEXT_READY) {
        if (settled)
            noteContextError();
        else
            m_lastError = QString::fromUtf8(pa_strerror(PA_ERR_TIMEOUT));
        qCDebug(AppLogger::audio, "PulseAudio: cannot connect: %s", qPrintable(m_lastError));
        dropContextLocked();
        return false;
    }

    pa_context_set_subscribe_callback(m_context, &onSubscription, this);
    const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER);
    QString defaultSource;
    const bool ready = await(pa_context_subscribe(m_context, mask, nullptr, nullptr))
                       && await(pa_context_get_server_info(
                           m_context,
                           [](pa_context *, const pa_server_info *info, void *name) {
                               if (info && info->default_source_name)
                                   *static_cast<QString *>(name) = QString::fromUtf8(info->default_source_name);
                           },
                           &defaultSource));
    if (!ready) {
        dropContextLocked();
        return false;
    }
    m_defaultSource = defaultSource;
    return true;
}

void PulseConnection::dropContextLocked()
{
    if (!m_context)
        return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
}

bool PulseConnection::await(pa_operation *operation)
{
    if (!operation) {
        noteContextError();
        return false;
    }
    pa_operation_set_state_callback(
        operation, [](pa_operation *, void *self) { static_cast<PulseConnection *>(self)->signal(); }, this);
    const bool finished = waitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
    const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    if (!finished) {
        m_lastError = QString::fromUtf8(pa_strerror(PA_ERR_TIMEOUT));
        pa_operation_cancel(operation);
    } else if (!done) {
        noteContextError();
    }
    pa_operation_set_state_callback(operation, nullptr, nullptr);
    pa_operation_unref(operation);
    return done;
}

std::optional<QList<PulseSourceInfo>> PulseConnection::sources()
{
    if (!ensureConnected())
        return std::nullopt;
    Locker lock(*this);
    SourceResult result;
    if (!await(pa_context_get_source_info_list(m_context, &collectSource, &result)) || result.failed)
        return std::nullopt;
    return result.sources;
}

std::optional<PulseSourceInfo> PulseConnection::source(const QString &name)
{
    if (!ensureConnected())
        return std::nullopt;
    Locker lock(*this);
    SourceResult result;
    const QByteArray utf8 = name.toUtf8();
    if (!await(pa_context_get_source_info_by_name(m_context, utf8.constData(), &collectSource, &result))
        || result.sources.isEmpty())
        return std::nullopt;
    return result.sources.first();
}

std::optional<PulseSourceInfo> PulseConnection::source(uint32_t index)
{
    if (!ensureConnected())
        return std::nullopt;
    Locker lock(*this);
    SourceResult result;
    if (!await(pa_context_get_source_info_by_index(m_context, index, &collectSource, &result))
        || result.sources.isEmpty())
        return std::nullopt;
    return result.sources.first();
}

std::optional<QString> PulseConnection::defaultSourceName()
{
    if (!ensureConnected())
        return std::nullopt;
    Locker lock(*this);
    QString name;
    if (!await(pa_context_get_server_info(
            m_context,
            [](pa_context *, const pa_server_info *info, void *result) {
                if (info && info->default_source_name)
                    *static_cast<QString *>(result) = QString::fromUtf8(info->default_source_name);
            },
            &name)))
        return std::nullopt;
    return name;
}

int PulseConnection::addSubscriber(Subscriber subscriber)
{
    const int id = m_nextSubscriberId++;
    m_subscribers.emplace(id, std::move(subscriber));
    return id;
}

void PulseConnection::removeSubscriber(int id) { m_subscribers.erase(id); }

void PulseConnection::notify(Event event, uint32_t index)
{
    for (const auto &[id, subscriber] : m_subscribers)
        subscriber(event, index);
}

void PulseConnection::onContextState(pa_context *, void *self) { static_cast<PulseConnection *>(self)->signal(); }

void PulseConnection::onSubscription(pa_context *context, pa_subscription_event_type_t type, uint32_t index, void *self)
{
    auto *connection = static_cast<PulseConnection *>(self);
    const unsigned facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const unsigned kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SOURCE) {
        if (kind == PA_SUBSCRIPTION_EVENT_NEW)
            connection->notify(Event::sourceAdded, index);
        else if (kind == PA_SUBSCRIPTION_EVENT_CHANGE)
            connection->notify(Event::sourceChanged, index);
        else if (kind == PA_SUBSCRIPTION_EVENT_REMOVE)
            connection->notify(Event::sourceRemoved, index);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        if (pa_operation *operation = pa_context_get_server_info(context, &onServerInfoEvent, self))
            pa_operation_unref(operation);
    }
}

void PulseConnection::onServerInfoEvent(pa_context *, const pa_server_info *info, void *self)
{
    auto *connection = static_cast<PulseConnection *>(self);
    if (!info)
        return;
    const QString name = QString::fromUtf8(info->default_source_name ? info->default_source_name : "");
    if (name == connection->m_defaultSource)
        return;
    connection->m_defaultSource = name;
    connection->notify(Event::defaultSourceChanged, PA_INVALID_INDEX);
}
