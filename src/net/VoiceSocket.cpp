#include "net/VoiceSocket.h"

#include "app/AppLogger.h"
#include "core/LeadingCharacters.h"
#include "core/PlatformError.h"
#include "core/TimingPoint.h"
#include "core/StrictUtf8.h"
#include "net/CloseFrameTap.h"
#include "net/BackendConfig.h"
#include "net/NetworkAccess.h"

#include <QtEndian>

#include <tuple>
#include <utility>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QNetworkProxy>
#include <QWebSocket>

namespace {

// The code and reason of a close frame's payload as the server sent them: the code (1005, "no
// status received", when the frame has none) and the reason decoded as UTF-8 (none when absent or
// not UTF-8).
std::pair<int, std::optional<QString>> decodeClosePayload(const QByteArray &payload)
{
    if (payload.size() < 2)
        return {VoiceSocket::noStatusCode, std::nullopt};
    const int code = qFromBigEndian<quint16>(payload.constData());
    std::optional<QString> reason = StrictUtf8::decode(payload.mid(2));
    if (reason && reason->isEmpty())
        reason.reset();
    return {code, reason};
}

// The proxy settings a socket will use, as a dictionary of the three switches
// (1 when that kind of proxy may be used, 0 when it is off).
QString describeProxySwitches(const QNetworkProxy &proxy)
{
    const QNetworkProxy::ProxyType type = proxy.type();
    const bool system = type == QNetworkProxy::DefaultProxy;
    const int http = system || type == QNetworkProxy::HttpProxy || type == QNetworkProxy::HttpCachingProxy;
    const int socks = system || type == QNetworkProxy::Socks5Proxy;
    return QStringLiteral("{HTTPEnable = %1; HTTPSEnable = %2; SOCKSEnable = %3;}").arg(http).arg(http).arg(socks);
}

PlatformError socketError(const QWebSocket &socket)
{
    return {QStringLiteral("QAbstractSocket"), int(socket.error()), socket.errorString()};
}

} // namespace

VoiceSocket::VoiceSocket(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<VoiceSocketEvent>();
}

VoiceSocket::~VoiceSocket() = default; // sockets are children: closed and freed with this object

bool VoiceSocket::isOpen() const
{
    QMutexLocker lock(&m_mutex);
    return m_isOpen;
}

void VoiceSocket::connect(const QString &token)
{
    const std::optional<QUrl> url = BackendConfig::webSocketURL(token);
    if (!url) {
        publish(VoiceSocketEvent::error(QStringLiteral("invalid websocket URL")));
        return;
    }
    qCInfo(AppLogger::socket, "connecting to %s...", qUtf8Printable(leadingCharacters(url->toString(QUrl::FullyEncoded), 40)));

    auto *socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    socket->setProxy(QNetworkProxy::NoProxy);
    qCInfo(AppLogger::socket, "URLSession proxy dict (should be all 0): %s",
           qUtf8Printable(describeProxySwitches(socket->proxy())));
    socket->setMaxAllowedIncomingMessageSize(maxIncomingMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(maxIncomingMessageBytes);

    QWebSocket *previous = nullptr;
    quint64 generation = 0;
    {
        QMutexLocker lock(&m_mutex);
        previous = m_task;
        m_task = socket;
        m_isOpen = false;
        m_pendingFrames = {}; // anything queued belonged to the previous connection
        generation = ++m_generation;
    }
    m_opened = false;
    m_failurePublished = false;
    m_lostWithoutClose = false;
    if (previous)
        retire(previous);

    QObject::connect(socket, &QWebSocket::connected, this, [this, generation] { handleOpened(generation); });
    QObject::connect(socket, &QWebSocket::disconnected, this, [this, generation] { handleClosed(generation); });
    QObject::connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
                     [this, generation](QAbstractSocket::SocketError) { handleFailure(generation); });
    QObject::connect(socket, &QWebSocket::textMessageReceived, this, [this, generation](const QString &message) {
        if (current(generation))
            handleMessage(message);
    });
    QObject::connect(socket, &QWebSocket::binaryMessageReceived, this, [this, generation](const QByteArray &) {
        if (current(generation))
            qCCritical(AppLogger::socket, "unexpected binary message from server (server only sends JSON)");
    });

    // Sees the server's close frame before QWebSocket rewrites it.
    auto *tap = new CloseFrameTap(*socket);
    NetworkAccess::shared()->openWebSocket(*socket, *url);
    tap->attach();
}

void VoiceSocket::sendStart(const QStringList &hotwords)
{
    sendJSON(QJsonObject{{QStringLiteral("type"), QStringLiteral("start")},
                         {QStringLiteral("hotwords"), QJsonArray::fromStringList(hotwords)}});
}

void VoiceSocket::sendStop()
{
    sendJSON(QJsonObject{{QStringLiteral("type"), QStringLiteral("stop")}});
}

void VoiceSocket::sendJSON(const QJsonObject &object)
{
    // Without a connection enqueue() drops it: control messages are never kept for a later one.
    // QJsonDocument always serialises an object; its compact form is valid UTF-8.
    enqueue({QJsonDocument(object).toJson(QJsonDocument::Compact), true});
}

void VoiceSocket::sendAudio(const QByteArray &frame)
{
    enqueue({frame, false});
}

void VoiceSocket::enqueue(Outgoing message)
{
    QMutexLocker lock(&m_mutex);
    if (!m_task)
        return;
    if (!m_isOpen) {
        m_pendingFrames.append(std::move(message));
        return;
    }
    // Posted while holding the lock, so the order of posting is the order of the calls, and a
    // flush (which takes the lock) cannot slip between a check and its post.
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this, [this, message = std::move(message), generation] { deliver(message, generation); },
        Qt::QueuedConnection);
}

void VoiceSocket::deliver(const Outgoing &message, quint64 generation)
{
    QWebSocket *socket = nullptr;
    {
        QMutexLocker lock(&m_mutex);
        if (generation != m_generation || !m_isOpen)
            return; // the connection it was meant for is gone
        socket = m_task;
    }
    if (socket)
        transmit(*socket, message);
}

void VoiceSocket::transmit(QWebSocket &socket, const Outgoing &message)
{
    if (message.isText) {
        const QString text = QString::fromUtf8(message.bytes);
        if (socket.sendTextMessage(text) < message.bytes.size())
            qCCritical(AppLogger::socket, "send JSON failed: %s", qUtf8Printable(socketError(socket).describe()));
        TimingPoint::mark(AppLogger::socket, "control_sent");
    } else if (socket.sendBinaryMessage(message.bytes) < message.bytes.size()) {
        qCCritical(AppLogger::socket, "send audio failed: %s", qUtf8Printable(socketError(socket).describe()));
    } else if (m_lastSentWasText) {
        TimingPoint::mark(AppLogger::socket, "first_frame_sent");
    }
    m_lastSentWasText = message.isText;
}

void VoiceSocket::disconnect()
{
    qCInfo(AppLogger::socket, "disconnect()");
    QWebSocket *socket = nullptr;
    {
        QMutexLocker lock(&m_mutex);
        socket = m_task;
        m_task = nullptr;
        m_isOpen = false;
        m_pendingFrames = {}; // releases the storage too
        ++m_generation;
    }
    if (socket)
        retire(socket);
}

void VoiceSocket::retire(QWebSocket *socket)
{
    // Nothing of a retired connection reaches the channel any more.
    QObject::disconnect(socket, nullptr, this, nullptr);
    if (socket->state() == QAbstractSocket::ConnectedState) {
        QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
        socket->close(QWebSocketProtocol::CloseCode(clientCloseCode));
    } else {
        socket->abort();
        socket->deleteLater();
    }
}

QWebSocket *VoiceSocket::current(quint64 generation) const
{
    QMutexLocker lock(&m_mutex);
    return generation == m_generation ? m_task : nullptr;
}

void VoiceSocket::handleOpened(quint64 generation)
{
    QWebSocket *socket = current(generation);
    if (!socket)
        return;
    qCInfo(AppLogger::socket, "websocket opened");
    m_opened = true;
    {
        QMutexLocker lock(&m_mutex);
        m_isOpen = true;
    }
    publish(VoiceSocketEvent::connected());

    // A subscriber may have disconnected or reconnected while `connected` was being delivered.
    QList<Outgoing> pending;
    {
        QMutexLocker lock(&m_mutex);
        if (generation != m_generation || !m_isOpen)
            return;
        pending.swap(m_pendingFrames);
    }
    // Sent here, on the socket's thread, before any message posted after the swap is delivered.
    for (const Outgoing &message : std::as_const(pending))
        transmit(*socket, message);
}

void VoiceSocket::handleClosed(quint64 generation)
{
    QWebSocket *socket = current(generation);
    if (!socket)
        return;
    if (!m_opened) {
        // Never opened: the connection could not be established (refused, TLS, handshake). Qt
        // reports that as a close, usually followed by the error itself; the failure is published
        // with the error's description, or with what is known once the close has been handled.
        QMetaObject::invokeMethod(this, [this, generation] { handleFailure(generation); }, Qt::QueuedConnection);
        return;
    }
    {
        QMutexLocker lock(&m_mutex);
        m_isOpen = false;
    }
    // A connection lost without a closing handshake (the server went away, the network dropped)
    // ends as an abnormal closure; otherwise the server's close frame is passed on as it was sent.
    // Only when that frame was not seen does QWebSocket's reading of it stand in.
    int code = abnormalClosureCode;
    std::optional<QString> reason;
    const auto *tap = socket->findChild<CloseFrameTap *>(QString(), Qt::FindDirectChildrenOnly);
    if (!m_lostWithoutClose && tap && tap->closePayload()) {
        std::tie(code, reason) = decodeClosePayload(*tap->closePayload());
    } else if (!m_lostWithoutClose) {
        code = int(socket->closeCode());
        if (!socket->closeReason().isEmpty())
            reason = socket->closeReason();
    }
    qCInfo(AppLogger::socket, "websocket closed code=%ld reason=%s", long(code),
           reason ? qUtf8Printable(*reason) : "nil");
    publish(VoiceSocketEvent::disconnected(code, reason));
}

void VoiceSocket::handleFailure(quint64 generation)
{
    QWebSocket *socket = current(generation);
    if (!socket || m_failurePublished || m_lostWithoutClose)
        return; // Qt may report one failure several times
    const PlatformError error = socketError(*socket);
    qCCritical(AppLogger::socket, "receive failed: %s", qUtf8Printable(error.describe()));
    if (m_opened) {
        // An open connection that fails is closed by Qt right after; that close is published.
        m_lostWithoutClose = true;
        return;
    }
    m_failurePublished = true;
    publish(VoiceSocketEvent::error(error.localizedDescription));
}

void VoiceSocket::handleMessage(const QString &message)
{
    if (const std::optional<VoiceSocketEvent> event = VoiceSocketEvent::fromServerMessage(message))
        publish(*event);
}

void VoiceSocket::publish(const VoiceSocketEvent &event)
{
    Q_EMIT events(event);
}
