#include "net/CloseFrameTap.h"

#include <QAbstractSocket>
#include <QChildEvent>
#include <QEvent>
#include <QWebSocket>

namespace {

constexpr quint8 closeOpcode = 0x8;
// Control frames carry at most 125 bytes; a longer "close" is not followed further.
constexpr qint64 maxControlPayload = 125;

// The header's total length once its first two bytes are known.
qsizetype headerLength(const QByteArray &start)
{
    const auto second = quint8(start.at(1));
    const quint8 length7 = second & 0x7f;
    const qsizetype extended = length7 == 126 ? 2 : length7 == 127 ? 8 : 0;
    const qsizetype mask = (second & 0x80) ? 4 : 0;
    return 2 + extended + mask;
}

qint64 payloadLength(const QByteArray &header)
{
    const quint8 length7 = quint8(header.at(1)) & 0x7f;
    if (length7 < 126)
        return length7;
    const int bytes = length7 == 126 ? 2 : 8;
    quint64 length = 0;
    for (int i = 0; i < bytes; ++i)
        length = (length << 8) | quint8(header.at(2 + i));
    return qint64(length & 0x7fffffffffffffffULL);
}

} // namespace

CloseFrameTap::CloseFrameTap(QWebSocket &socket)
    : QObject(&socket)
    , m_socket(socket)
{
    m_socket.installEventFilter(this);
}

bool CloseFrameTap::eventFilter(QObject *watched, QEvent *event)
{
    if (m_watchingChildren && watched == &m_socket && event->type() == QEvent::ChildAdded) {
        // Sent from inside the child's construction, before QWebSocket subscribes to it. Only its
        // QObject part exists yet, so its type cannot be checked: the subscription (kept by that
        // QObject part) is dropped in attach() unless the child turns out to be the transport. The
        // pointer is only reinterpreted, never used as a QIODevice before that check.
        QObject *child = static_cast<QChildEvent *>(event)->child();
        if (child != this) {
            const auto *device = reinterpret_cast<const QIODevice *>(child);
            m_candidates.append({child, QObject::connect(device, &QIODevice::readyRead, this,
                                                         [this, child] { peekNewBytes(child); })});
        }
    }
    return QObject::eventFilter(watched, event);
}

void CloseFrameTap::attach()
{
    m_watchingChildren = false;
    m_socket.removeEventFilter(this);
    for (const Candidate &candidate : std::as_const(m_candidates)) {
        auto *socket = qobject_cast<QAbstractSocket *>(candidate.child.data());
        if (socket && !m_transport && socket->parent() == &m_socket) {
            m_transport = socket;
            QObject::connect(socket, &QIODevice::readyRead, this, &CloseFrameTap::noteUnread);
        } else {
            QObject::disconnect(candidate.subscription);
        }
    }
    m_candidates.clear();
}

void CloseFrameTap::peekNewBytes(QObject *sender)
{
    if (!m_transport || sender != m_transport.data())
        return;
    const qint64 available = m_transport->bytesAvailable();
    if (available <= m_seen)
        return;
    if (!m_inHandshake && !m_isClose && m_payloadLeft > available - m_seen) {
        // Inside a long message: only counted, so a growing buffer is not copied again and again.
        m_payloadLeft -= available - m_seen;
        m_seen = available;
        return;
    }
    const QByteArray bytes = m_transport->peek(available);
    feed(bytes.constData() + m_seen, bytes.size() - m_seen);
    m_seen = bytes.size();
}

void CloseFrameTap::noteUnread()
{
    if (m_transport)
        m_seen = m_transport->bytesAvailable();
}

void CloseFrameTap::feed(const char *data, qsizetype size)
{
    qsizetype at = 0;
    while (at < size && !m_closePayload) {
        if (m_inHandshake) {
            // The server's answer to the upgrade ends with an empty line.
            m_handshakeTail.append(data[at++]);
            if (m_handshakeTail.endsWith("\r\n\r\n")) {
                m_inHandshake = false;
                m_handshakeTail.clear();
            } else if (m_handshakeTail.size() > 3) {
                m_handshakeTail.remove(0, m_handshakeTail.size() - 3);
            }
            continue;
        }
        if (m_payloadLeft < 0) {
            m_header.append(data[at++]);
            if (m_header.size() < 2 || m_header.size() < headerLength(m_header))
                continue;
            m_payloadLeft = payloadLength(m_header);
            m_isClose = (quint8(m_header.at(0)) & 0x0f) == closeOpcode && m_payloadLeft <= maxControlPayload;
            m_payload.clear();
        } else {
            const qsizetype take = qsizetype(qMin<qint64>(m_payloadLeft, size - at));
            if (m_isClose)
                m_payload.append(data + at, take);
            at += take;
            m_payloadLeft -= take;
        }
        if (m_payloadLeft == 0) {
            if (m_isClose) {
                if (quint8(m_header.at(1)) & 0x80) { // a masked frame (not from a server): unmask
                    const QByteArray key = m_header.right(4);
                    for (qsizetype i = 0; i < m_payload.size(); ++i)
                        m_payload[i] = char(m_payload.at(i) ^ key.at(i % 4));
                }
                m_closePayload = m_payload;
            }
            m_header.clear();
            m_payloadLeft = -1;
        }
    }
}
