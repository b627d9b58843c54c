#pragma once

#include "net/VoiceSocket.h"

#include <QList>
#include <QMutex>
#include <QThread>

// Subscribes directly to a VoiceSocket's event channel and records every event, with whether it
// was delivered on the thread that created the recorder.
class SocketEventRecorder {
public:
    explicit SocketEventRecorder(VoiceSocket &socket);
    ~SocketEventRecorder();

    QList<VoiceSocketEvent> events() const;
    QList<VoiceSocketEvent::Kind> kinds() const;
    bool allOnCreatingThread() const;
    void clear();

private:
    QMetaObject::Connection m_connection;
    QThread *m_thread;
    mutable QMutex m_mutex;
    QList<VoiceSocketEvent> m_events;
    bool m_allOnCreatingThread = true;
};
