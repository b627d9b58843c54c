#include "BackendServer.h"

#include "BackendState.h"
#include "VoiceSession.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QLoggingCategory>
#include <QMetaEnum>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>

Q_LOGGING_CATEGORY(lcHttp, "murlex.devserver.http")

namespace {

QByteArray methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get: return "GET";
    case QHttpServerRequest::Method::Put: return "PUT";
    case QHttpServerRequest::Method::Delete: return "DELETE";
    case QHttpServerRequest::Method::Post: return "POST";
    case QHttpServerRequest::Method::Head: return "HEAD";
    case QHttpServerRequest::Method::Options: return "OPTIONS";
    case QHttpServerRequest::Method::Patch: return "PATCH";
    case QHttpServerRequest::Method::Connect: return "CONNECT";
    case QHttpServerRequest::Method::Trace: return "TRACE";
    default: return "UNKNOWN";
    }
}

QByteArray reasonPhrase(int status)
{
    const QMetaEnum statuses = QMetaEnum::fromType<QHttpServerResponder::StatusCode>();
    const char *key = statuses.valueToKey(status);
    return key ? QByteArray(key) : QByteArray("Status");
}

bool refusesUpgrade(const QList<SocketFault> &faults)
{
    return std::any_of(faults.cbegin(), faults.cend(),
                       [](const SocketFault &fault) { return fault.action == SocketFault::Action::Refuse; });
}

QPair<QString, quint16> peerOf(const QHostAddress &address, quint16 port)
{
    return {address.toString(), port};
}

} // namespace

BackendServer::BackendServer(BackendState &state, QObject *parent)
    : QAbstractHttpServer(parent), m_state(state), m_rest(state), m_control(state)
{
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &BackendServer::acceptWebSockets);
}

bool BackendServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const QUrl url = request.url();
    HttpRequestInfo info{
        methodName(request.method()),
        url.path(QUrl::FullyEncoded).toLatin1(),
        url.query(QUrl::FullyEncoded).toLatin1(),
        request.value("authorization"),
        request.body(),
    };
    if (info.rawPath.isEmpty())
        info.rawPath = "/";

    if (info.rawPath == "/ws" && request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0) {
        m_state.countRequest(info.method, info.rawPath);
        handleUpgrade(request, socket);
        return true;
    }

    const bool tooLarge = info.body.size() > kMaxBodyBytes;
    const HttpReply tooLargeReply = HttpReply::error(413, QStringLiteral("body larger than 1 MiB"));

    if (ControlApi::isControlPath(info.rawPath)) {
        if (!request.remoteAddress().isLoopback())
            reply(request, socket, HttpReply::error(403, QStringLiteral("the control API is for loopback peers only")));
        else
            reply(request, socket, tooLarge ? tooLargeReply : m_control.handle(info));
        return true;
    }

    m_state.countRequest(info.method, info.rawPath);
    if (tooLarge) {
        reply(request, socket, tooLargeReply);
        return true;
    }
    const std::optional<RestFault> fault = m_state.faults().takeRestFault(info.method, info.rawPath);
    if (fault && fault->stall) {
        qCInfo(lcHttp).noquote() << info.method << info.rawPath << "-> never answered (fault)";
        return true;
    }
    HttpReply answer = fault && fault->status != 0 ? HttpReply{fault->status, fault->body, fault->contentType}
                                                   : m_rest.handle(info);
    if (fault && fault->padBytes > 0)
        answer.body.append(QByteArray(fault->padBytes, ' '));
    if (fault && fault->delayMs > 0) {
        qCInfo(lcHttp).noquote() << info.method << info.rawPath << "->" << answer.status << "in" << fault->delayMs
                                 << "ms (fault)";
        writeLater(socket, answer, fault->delayMs);
        return true;
    }
    qCInfo(lcHttp).noquote() << info.method << info.rawPath << "->" << answer.status << (fault ? "(fault)" : "");
    reply(request, socket, answer);
    return true;
}

void BackendServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    reply(request, socket, HttpReply::error(404, QStringLiteral("not found")));
}

void BackendServer::handleUpgrade(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const QList<SocketFault> faults = m_state.faults().takeSocketFaults();
    if (refusesUpgrade(faults)) {
        // The 403 reaches the client before the handshake the server still completes after this
        // returns; acceptWebSockets() then drops that socket unheard.
        qCInfo(lcHttp) << "GET /ws -> upgrade refused with 403 (fault)";
        reply(request, socket, HttpReply::error(403, QStringLiteral("upgrade refused")));
    }
    // Nothing else is written here: the server completes the handshake once this returns.
    m_faultsByPeer.insert(peerOf(socket->peerAddress(), socket->peerPort()), faults);
    m_transportByPeer.insert(peerOf(socket->peerAddress(), socket->peerPort()), socket);
}

void BackendServer::acceptWebSockets()
{
    while (hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = nextPendingWebSocketConnection();
        if (!socket)
            continue;
        const QList<SocketFault> faults = m_faultsByPeer.take(peerOf(socket->peerAddress(), socket->peerPort()));
        const QPointer<QTcpSocket> transport = m_transportByPeer.take(peerOf(socket->peerAddress(), socket->peerPort()));
        if (refusesUpgrade(faults)) {
            socket->abort();
            continue;
        }
        const QString token = QUrlQuery(socket->requestUrl()).queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
        const QString subject = m_state.tokens().verifyAccess(token).value_or(QString());
        if (subject.isEmpty())
            qCInfo(lcHttp) << "socket token refused:" << TokenIssuer::logForm(token);
        new VoiceSession(std::move(socket), subject, faults, m_state.newSocketRecord(), transport, this);
    }
}

void BackendServer::reply(const QHttpServerRequest &request, QTcpSocket *socket, const HttpReply &reply)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    const auto status = QHttpServerResponder::StatusCode(reply.status);
    if (reply.contentType.isEmpty())
        responder.write(status);
    else
        responder.write(reply.body, reply.contentType, status);
}

void BackendServer::writeLater(QTcpSocket *socket, const HttpReply &reply, int delayMs)
{
    // Written by hand: a responder must not outlive its socket, and the client may give up first.
    QTimer::singleShot(delayMs, socket, [socket, reply] {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
        head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        if (!reply.contentType.isEmpty())
            head += "Content-Type: " + reply.contentType + "\r\n";
        socket->write(head + "\r\n" + reply.body);
    });
}
