#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>

#include <optional>

class QAbstractSocket;
class QWebSocket;

// Keeps the payload of the close frame a server sent, exactly as sent. QWebSocket passes a close
// frame through its own checks before anyone sees it: a reason that is not UTF-8 becomes code 1007
// with Qt's own text, a code Qt considers invalid becomes 1002, a frame without a code 1000; the
// server's code and reason are gone by then. The tap reads the server's bytes just before
// QWebSocket does and follows the frames itself.
//
// Made for one QWebSocket before its open() and told after it (attach()): while open() runs it sees
// the transport socket being added as a child and subscribes to the transport's readyRead before
// QWebSocket can, so at each arrival it peeks at the bytes it has not seen yet; a second
// subscription, made after QWebSocket's, notes how many bytes QWebSocket left unread. When the
// transport cannot be found the tap stays inert and closePayload() stays none.
class CloseFrameTap : public QObject {
    Q_OBJECT
public:
    // A child of `socket`; call before socket.open().
    explicit CloseFrameTap(QWebSocket &socket);
    // Call right after socket.open().
    void attach();

    // The payload of the server's close frame once one has arrived in full (possibly empty).
    const std::optional<QByteArray> &closePayload() const { return m_closePayload; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void peekNewBytes(QObject *sender);
    void noteUnread();
    void feed(const char *data, qsizetype size);

    QWebSocket &m_socket;
    bool m_watchingChildren = true;
    struct Candidate {
        QPointer<QObject> child;
        QMetaObject::Connection subscription;
    };
    QList<Candidate> m_candidates; // children added during open(), subscribed before QWebSocket
    QPointer<QAbstractSocket> m_transport;
    qint64 m_seen = 0; // bytes at the head of the transport's buffer already fed

    // The stream: the handshake answer up to its blank line, then frames.
    bool m_inHandshake = true;
    QByteArray m_handshakeTail;
    QByteArray m_header;          // the current frame's header so far
    qint64 m_payloadLeft = -1;    // bytes of the current frame's payload still to come; -1: in the header
    bool m_isClose = false;
    QByteArray m_payload;         // the current close frame's payload
    std::optional<QByteArray> m_closePayload;
};
