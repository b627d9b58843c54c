#pragma once

#include "net/NetworkAccess.h"

#include <QList>
#include <QMutex>
#include <QSslCertificate>
#include <QUrl>

// The test transport: the client keeps building production URLs (https://{host}/..., wss://...),
// this transport records each one and connects to a local server on 127.0.0.1:<port> instead,
// trusting only the given certificate authorities.
class RedirectingNetworkAccess : public NetworkAccess {
    Q_OBJECT
public:
    RedirectingNetworkAccess(quint16 port, QList<QSslCertificate> trusted, QObject *parent = nullptr);

    NetworkAccess *createSession(QObject *parent) const override;
    void openWebSocket(QWebSocket &socket, const QUrl &url) override;

    // Every URL a client asked for, in order, exactly as the client built it.
    QList<QUrl> requestedUrls() const;
    void clearRequestedUrls();

    // The URL the connection goes to instead of `url`.
    QUrl redirected(const QUrl &url) const;

protected:
    QNetworkRequest prepare(const QNetworkRequest &request) const override;
    QSslConfiguration tlsConfiguration() const override;

private:
    void record(const QUrl &url) const;

    quint16 m_port;
    QList<QSslCertificate> m_trusted;
    mutable QMutex m_mutex;
    mutable QList<QUrl> m_requested;
};
