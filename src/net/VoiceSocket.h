#pragma once

#include "net/VoiceSocketEvent.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QStringList>

class QJsonObject;
class QWebSocket;

// The client side of the streaming recognition protocol: one WebSocket connection at a time to
// wss://{host}/ws?token=..., PCM frames out as binary messages, the start and stop control
// messages out as compact JSON, and every server message turned into a typed event on `events`.
// It holds no dictation logic; one instance serves every connection of the application's life.
//
// A connection that cannot be established publishes one `error` (never `connected`); one that
// opened ends with one `disconnected`: the code and reason of the server's close frame as it sent
// them (1005 when the frame has no code; no reason when it has none or it is not UTF-8), or 1006
// when it was lost without a closing handshake. disconnect() publishes nothing.
//
// Threads: the object and its QWebSocket live on the thread that created it (the main thread).
// sendAudio() may be called from any thread (the capture thread); every outgoing message is handed
// to the socket's thread in call order, so a frame is sent or queued exactly once and never
// overtakes, or is overtaken by, an earlier message.
class VoiceSocket : public QObject {
    Q_OBJECT
public:
    using Event = VoiceSocketEvent;

    // A server message larger than this is refused by the socket without being buffered.
    static constexpr quint64 maxIncomingMessageBytes = 1024 * 1024;
    // The close code the client closes with (going away).
    static constexpr int clientCloseCode = 1001;
    // The close code published for an open connection lost without a closing handshake.
    static constexpr int abnormalClosureCode = 1006;
    // The close code published for a server's close frame that carries no code.
    static constexpr int noStatusCode = 1005;

    explicit VoiceSocket(QObject *parent = nullptr);
    ~VoiceSocket() override;

    // Opens a new connection with the token; returns at once, the outcome arrives on `events`.
    void connect(const QString &token);
    // {"hotwords":[...],"type":"start"}; nothing is sent or queued without a connection.
    void sendStart(const QStringList &hotwords);
    // {"type":"stop"}; nothing is sent or queued without a connection.
    void sendStop();
    // Sends one PCM frame as one binary message, or queues it until the connection opens; drops
    // it when there is no connection. Callable from any thread.
    void sendAudio(const QByteArray &frame);
    // Closes (code 1001) and forgets the connection, and drops every queued frame. Publishes nothing.
    void disconnect();

    // True between the open notification and a close notification or disconnect().
    bool isOpen() const;

Q_SIGNALS:
    // The event channel. Emitted on the socket's thread; a subscriber connected with
    // Qt::DirectConnection is called synchronously there, and only the subscribers present at
    // that moment are told (nothing is buffered or replayed). Subscribers that must run on another
    // thread connect queued.
    void events(const VoiceSocketEvent &event);

private:
    struct Outgoing {
        QByteArray bytes;
        bool isText = false;
    };

    void enqueue(Outgoing message);
    void sendJSON(const QJsonObject &object);
    void deliver(const Outgoing &message, quint64 generation);
    void transmit(QWebSocket &socket, const Outgoing &message);
    void handleOpened(quint64 generation);
    void handleClosed(quint64 generation);
    void handleFailure(quint64 generation);
    void handleMessage(const QString &message);
    void retire(QWebSocket *socket);
    QWebSocket *current(quint64 generation) const;
    void publish(const VoiceSocketEvent &event);

    // Guarded by m_mutex: read from any thread, written only on the socket's thread.
    mutable QMutex m_mutex;
    QWebSocket *m_task = nullptr;
    bool m_isOpen = false;
    QList<Outgoing> m_pendingFrames;
    quint64 m_generation = 0; // identifies the current connection

    // Socket thread only.
    bool m_opened = false;          // the current connection has opened at some point
    bool m_failurePublished = false; // the current connection's failure to open has been published
    bool m_lostWithoutClose = false; // the current connection failed after it had opened
    bool m_lastSentWasText = true;   // the first audio frame after a control message is timed
};
