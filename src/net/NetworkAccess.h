#pragma once

#include <QNetworkAccessManager>
#include <QSslConfiguration>

class QWebSocket;

// The one way the REST and socket clients reach the network. In a production build it adds
// nothing to what the client asked for; the development flavour also trusts the local
// stand-in's certificate authority. Tests install a subclass that keeps the client's URL and
// connects to a local server underneath (see tests/support).
class NetworkAccess : public QNetworkAccessManager {
    Q_OBJECT
public:
    explicit NetworkAccess(QObject *parent = nullptr);

    // The largest answer body a reply may bring; the backend's answers are a few kilobytes. A reply
    // whose body grows beyond it (or announces more) is aborted and reads as RestReply::bodyTooLarge.
    static constexpr qint64 maxReplyBodyBytes = 4 * 1024 * 1024;

    // The process-wide instance the stateless clients send through.
    static NetworkAccess *shared();
    // Replaces the process-wide instance (not owned); nullptr restores the default one.
    static void setShared(NetworkAccess *access);

    // A new, independent instance of the same kind, for a client that owns its own session.
    virtual NetworkAccess *createSession(QObject *parent) const;

    // Opens `socket` to `url` with the TLS settings of this transport.
    virtual void openWebSocket(QWebSocket &socket, const QUrl &url);

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request,
                                 QIODevice *outgoingData) override;

    // The request actually sent for `request`; the identity in a production build.
    virtual QNetworkRequest prepare(const QNetworkRequest &request) const;

    // The TLS configuration used for every connection of this transport.
    virtual QSslConfiguration tlsConfiguration() const;
};
