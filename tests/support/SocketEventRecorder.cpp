#include "SocketEventRecorder.h"

#include <QMutexLocker>

SocketEventRecorder::SocketEventRecorder(VoiceSocket &socket)
    : m_thread(QThread::currentThread())
{
    m_connection = QObject::connect(
        &socket, &VoiceSocket::events, &socket,
        [this](const VoiceSocketEvent &event) {
            QMutexLocker lock(&m_mutex);
            m_events.append(event);
            m_allOnCreatingThread = m_allOnCreatingThread && QThread::currentThread() == m_thread;
        },
        Qt::DirectConnection);
}

SocketEventRecorder::~SocketEventRecorder()
{
    QObject::disconnect(m_connection);
}

QList<VoiceSocketEvent> SocketEventRecorder::events() const
{
    QMutexLocker lock(&m_mutex);
    return m_events;
}

QList<VoiceSocketEvent::Kind> SocketEventRecorder::kinds() const
{
    QList<VoiceSocketEvent::Kind> kinds;
    for (const VoiceSocketEvent &event : events())
        kinds.append(event.kind());
    return kinds;
}

bool SocketEventRecorder::allOnCreatingThread() const
{
    QMutexLocker lock(&m_mutex);
    return m_allOnCreatingThread;
}

void SocketEventRecorder::clear()
{
    QMutexLocker lock(&m_mutex);
    m_events.clear();
}
