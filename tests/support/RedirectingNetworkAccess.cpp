#include "RedirectingNetworkAccess.h"

#include <QMutexLocker>
#include <QNetworkRequest>
#include <QWebSocket>

RedirectingNetworkAccess::RedirectingNetworkAccess(quint16 port, QList<QSslCertificate> trusted, QObject *parent)
    : NetworkAccess(parent)
    , m_port(port)
    , m_trusted(std::move(trusted))
{
}

NetworkAccess *RedirectingNetworkAccess::createSession(QObject *parent) const
{
    return new RedirectingNetworkAccess(m_port, m_trusted, parent);
}

QUrl RedirectingNetworkAccess::redirected(const QUrl &url) const
{
    QUrl target(url);
    target.setHost(QStringLiteral("127.0.0.1"));
    target.setPort(m_port);
    return target;
}

void RedirectingNetworkAccess::record(const QUrl &url) const
{
    QMutexLocker lock(&m_mutex);
    m_requested.append(url);
}

QList<QUrl> RedirectingNetworkAccess::requestedUrls() const
{
    QMutexLocker lock(&m_mutex);
    return m_requested;
}

void RedirectingNetworkAccess::clearRequestedUrls()
{
    QMutexLocker lock(&m_mutex);
    m_requested.clear();
}

void RedirectingNetworkAccess::openWebSocket(QWebSocket &socket, const QUrl &url)
{
    record(url);
    socket.setSslConfiguration(tlsConfiguration());
    socket.open(redirected(url));
}

QNetworkRequest RedirectingNetworkAccess::prepare(const QNetworkRequest &request) const
{
    record(request.url());
    QNetworkRequest prepared(request);
    prepared.setUrl(redirected(request.url()));
    prepared.setSslConfiguration(tlsConfiguration());
    return prepared;
}

QSslConfiguration RedirectingNetworkAccess::tlsConfiguration() const
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setCaCertificates(m_trusted); // replaces the system set: only the test CA is trusted
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    return config;
}
