#include "platform/linux/pulse/PulseInputSources.h"

#include <QMetaObject>

PulseInputSources::PulseInputSources(QString server, QObject *parent)
    : InputSources(parent)
    , m_server(std::move(server))
{
}

PulseInputSources::~PulseInputSources()
{
    if (m_connection) {
        PulseConnection::Locker lock(*m_connection);
        stopLocked();
    }
}

void PulseInputSources::start()
{
    if (!m_connection)
        m_connection = std::make_unique<PulseConnection>(m_server);
    if (!m_connection->ensureConnected()) {
        publish({});
        return;
    }
    PulseConnection::Locker lock(*m_connection);
    if (m_subscription != 0)
        return;
    m_published.reset(); // a new start always hears the list once
    m_subscription = m_connection->addSubscriber([this](PulseConnection::Event, uint32_t) { requestListLocked(); });
    requestListLocked();
}

void PulseInputSources::stop()
{
    if (!m_connection)
        return;
    PulseConnection::Locker lock(*m_connection);
    stopLocked();
}

void PulseInputSources::stopLocked()
{
    if (m_subscription != 0) {
        m_connection->removeSubscriber(m_subscription);
        m_subscription = 0;
    }
    if (m_listing) {
        // A cancelled operation calls back no more.
        pa_operation_cancel(m_listing);
        pa_operation_unref(m_listing);
        m_listing = nullptr;
    }
    m_listAgain = false;
}

void PulseInputSources::requestListLocked()
{
    if (m_listing) {
        m_listAgain = true;
        return;
    }
    m_collected.clear();
    m_listing = pa_context_get_source_info_list(m_connection->context(), &onSource, this);
}

void PulseInputSources::onSource(pa_context *, const pa_source_info *source, int eol, void *self)
{
    auto *sources = static_cast<PulseInputSources *>(self);
    if (eol == 0) {
        if (source)
            sources->m_collected.append(PulseConnection::sourceInfo(*source));
        return;
    }
    pa_operation_unref(sources->m_listing);
    sources->m_listing = nullptr;
    if (eol > 0) {
        QList<InputSource> list;
        for (const PulseSourceInfo &info : std::as_const(sources->m_collected)) {
            if (!info.isMonitor)
                list.append(InputSource{info.name, info.description, info.isBuiltIn});
        }
        if (list != sources->m_published) {
            sources->m_published = list;
            // Queued to the main thread; dropped if this object is gone by then.
            QMetaObject::invokeMethod(
                sources, [sources, list] { Q_EMIT sources->sourcesChanged(list); }, Qt::QueuedConnection);
        }
    }
    if (sources->m_listAgain) {
        sources->m_listAgain = false;
        sources->requestListLocked();
    }
}

void PulseInputSources::publish(const QList<InputSource> &sources)
{
    QMetaObject::invokeMethod(
        this, [this, sources] { Q_EMIT sourcesChanged(sources); }, Qt::QueuedConnection);
}
