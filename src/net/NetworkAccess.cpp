#include "net/NetworkAccess.h"

#include "net/RestReply.h"

#include "BuildConfig.h"

#include <QNetworkRequest>
#include <QPointer>
#include <QSslCertificate>
#include <QWebSocket>

namespace {
QPointer<NetworkAccess> &overrideInstance()
{
    static QPointer<NetworkAccess> instance;
    return instance;
}
} // namespace

NetworkAccess::NetworkAccess(QObject *parent)
    : QNetworkAccessManager(parent)
{
}

NetworkAccess *NetworkAccess::shared()
{
    if (NetworkAccess *injected = overrideInstance())
        return injected;
    static NetworkAccess *instance = new NetworkAccess;
    return instance;
}

void NetworkAccess::setShared(NetworkAccess *access)
{
    overrideInstance() = access;
}

NetworkAccess *NetworkAccess::createSession(QObject *parent) const
{
    return new NetworkAccess(parent);
}

void NetworkAccess::openWebSocket(QWebSocket &socket, const QUrl &url)
{
    // QWebSocket::open(QNetworkRequest) ignores the request's TLS settings: set them on the socket.
    socket.setSslConfiguration(tlsConfiguration());
    socket.open(url);
}

QNetworkReply *NetworkAccess::createRequest(Operation op, const QNetworkRequest &request,
                                            QIODevice *outgoingData)
{
    QNetworkReply *reply = QNetworkAccessManager::createRequest(op, prepare(request), outgoingData);
    RestReply::limitBody(*reply, maxReplyBodyBytes);
    return reply;
}

QNetworkRequest NetworkAccess::prepare(const QNetworkRequest &request) const
{
    QNetworkRequest prepared(request);
    prepared.setSslConfiguration(tlsConfiguration());
    return prepared;
}

QSslConfiguration NetworkAccess::tlsConfiguration() const
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
#if MURLEX_DEV_BACKEND
    config.addCaCertificates(QSslCertificate::fromData(QByteArray(BuildConfig::devCaPem), QSsl::Pem));
#endif
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    return config;
}
