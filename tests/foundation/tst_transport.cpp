// test-labels: foundation
// The transport seam: clients keep production URLs, the test transport connects to the local
// stand-in underneath and trusts only the test authority.
#include "DevServer.h"
#include "RedirectingNetworkAccess.h"
#include "net/BackendConfig.h"

#include <QtTest>
#include <QNetworkReply>
#include <QWebSocket>

class TestTransport : public QObject {
    Q_OBJECT
    DevServer m_server;

    static QList<QSslCertificate> otherCa()
    {
        return QSslCertificate::fromPath(QStringLiteral(MURLEX_DEVCERT_DIR "/other-ca.pem"));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }

    void restRequestKeepsTheClientsUrl()
    {
        const auto tokens = m_server.issueTokens(QStringLiteral("transport-user"));
        QVERIFY(!tokens.access.isEmpty());
        RedirectingNetworkAccess access(m_server.port(), DevServer::caCertificates());
        QNetworkRequest request(BackendConfig::hotwordsURL());
        request.setRawHeader("Authorization", "Bearer " + tokens.access.toUtf8());
        QNetworkReply *reply = access.get(request);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        QCOMPARE(access.requestedUrls(), QList<QUrl>{QUrl(QStringLiteral("https://api.murlex.app/hotwords"))});
        QCOMPARE(m_server.requestCount("GET", QStringLiteral("/hotwords")), 1);
        reply->deleteLater();

        // A client's own session is redirected the same way.
        std::unique_ptr<NetworkAccess> session(access.createSession(nullptr));
        QNetworkReply *second = session->get(request);
        QSignalSpy secondFinished(second, &QNetworkReply::finished);
        QVERIFY(secondFinished.wait(10000));
        QCOMPARE(second->error(), QNetworkReply::NoError);
        second->deleteLater();
    }

    void serverSignedByAnotherAuthorityIsRefused()
    {
        // A fresh manager: a kept-alive connection would skip the certificate check.
        RedirectingNetworkAccess access(m_server.port(), otherCa());
        QNetworkReply *reply = access.get(QNetworkRequest(BackendConfig::hotwordsURL()));
        QSignalSpy finished(reply, &QNetworkReply::finished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(reply->error(), QNetworkReply::SslHandshakeFailedError);
        reply->deleteLater();
    }

    void webSocketIsRedirectedWithTheTransportsTls()
    {
        const auto tokens = m_server.issueTokens(QStringLiteral("transport-user"));
        const QUrl url = *BackendConfig::webSocketURL(tokens.access);

        RedirectingNetworkAccess trusted(m_server.port(), DevServer::caCertificates());
        QWebSocket socket;
        QSignalSpy connected(&socket, &QWebSocket::connected);
        trusted.openWebSocket(socket, url);
        QVERIFY(connected.wait(10000));
        QCOMPARE(trusted.requestedUrls(), QList<QUrl>{url});
        socket.close();

        RedirectingNetworkAccess untrusted(m_server.port(), otherCa());
        QWebSocket refused;
        QSignalSpy errors(&refused, &QWebSocket::sslErrors);
        QSignalSpy opened(&refused, &QWebSocket::connected);
        untrusted.openWebSocket(refused, url);
        QVERIFY(errors.wait(10000));
        QCOMPARE(opened.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTransport)
#include "tst_transport.moc"
