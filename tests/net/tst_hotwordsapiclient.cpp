// test-labels: hotwords
// The hot words REST client against the stand-in backend over TLS, with the token in the real
// keyring: exact requests, success statuses, every error value and the two time limits.
#include "net/HotWordsAPIClient.h"
#include "store/TokenStore.h"

#include "StandIn.h"
#include "TaskResult.h"

#include <QElapsedTimer>
#include <QNetworkReply>
#include <QTcpServer>
#include <QtTest>

namespace {

const QString hotwordsPath = QStringLiteral("/hotwords");

template <typename T>
Expected<T, HotWordsFailure> finished(QCoro::Task<Expected<T, HotWordsFailure>> task)
{
    std::optional<Expected<T, HotWordsFailure>> result = taskResult(std::move(task));
    if (!result)
        return HotWordsFailure(PlatformError{QStringLiteral("test"), -1, QStringLiteral("did not finish")});
    return std::move(*result);
}

// The APIError of a failure; a passed-through error reads as http(-1, its description).
template <typename T>
APIError apiError(const Expected<T, HotWordsFailure> &result)
{
    if (result.hasValue())
        return APIError::http(-2, QStringLiteral("succeeded"));
    if (const APIError *error = std::get_if<APIError>(&result.error()))
        return *error;
    return APIError::http(-1, std::get<PlatformError>(result.error()).describe());
}

} // namespace

class TestHotWordsAPIClient : public QObject {
    Q_OBJECT

    StandIn m_standIn;
    DevServer &m_server = m_standIn.server;
    RecordingNetworkAccess *m_access = nullptr;
    QString m_token;

    bool fault(const QByteArray &method, int status, const QByteArray &body = {}, bool stall = false)
    {
        return m_server.setRestFault({.method = method, .path = hotwordsPath, .status = status, .body = body, .stall = stall, .count = stall ? -1 : 1});
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_standIn.start());
        m_access = &m_standIn.access();
    }
    void init()
    {
        QVERIFY(m_standIn.reset());
        m_token = m_server.issueTokens(QStringLiteral("alice")).access;
        QVERIFY(!m_token.isEmpty());
        TokenStore::setAccessToken(m_token);
    }

    void fetchSendsAnAuthorisedGetAndKeepsServerOrder()
    {
        QVERIFY(m_server.setHotWords(QStringLiteral("alice"), {QStringLiteral("热词"), QStringLiteral("b"), QStringLiteral("热词")}));
        HotWordsAPIClient client;
        const auto result = finished(client.fetch());
        QVERIFY(result.hasValue());
        QCOMPARE(result.value(), (QStringList{QStringLiteral("热词"), QStringLiteral("b"), QStringLiteral("热词")}));

        QCOMPARE(m_access->sent().size(), 1);
        const QNetworkRequest request = m_access->sent().at(0).request;
        QCOMPARE(request.url(), QUrl(QStringLiteral("https://api.murlex.app/hotwords")));
        QCOMPARE(request.rawHeader("Authorization"), QByteArray("Bearer ") + m_token.toUtf8());
        QVERIFY(!request.header(QNetworkRequest::ContentTypeHeader).isValid());
        QCOMPARE(m_server.requestCount("GET", hotwordsPath), 1);
        QVERIFY(fault("GET", 200, R"({"hotwords":[],"more":1})"));
        QCOMPARE(finished(client.fetch()).value(), QStringList());

        // The real limits: the session gives up after 15 s without progress; the whole request
        // may take a minute.
        QVERIFY(m_access->lastSession());
        QCOMPARE(m_access->lastSession()->transferTimeout(), 15000);
        QCOMPARE(HotWordsAPIClient::requestTimeout, std::chrono::milliseconds(60000));
    }

    // Anything but the operation's success status, and success bodies that do not decode.
    void answersOtherThanSuccess_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<APIError>("error");
        QTest::newRow("fetch 201") << QByteArray("GET") << 201 << QByteArray(R"({"hotwords":[]})") << APIError::http(201, QStringLiteral(R"({"hotwords":[]})"));
        QTest::newRow("fetch other key") << QByteArray("GET") << 200 << QByteArray(R"({"words":[]})") << APIError::decode();
        QTest::newRow("fetch not text") << QByteArray("GET") << 200 << QByteArray(R"({"hotwords":["a",1]})") << APIError::decode();
        QTest::newRow("fetch not JSON") << QByteArray("GET") << 200 << QByteArray("ok") << APIError::decode();
        QTest::newRow("fetch 503") << QByteArray("GET") << 503 << QByteArray("维护中") << APIError::http(503, QStringLiteral("维护中"));
        QTest::newRow("add empty body") << QByteArray("POST") << 200 << QByteArray() << APIError::decode();
        QTest::newRow("add saved a number") << QByteArray("POST") << 201 << QByteArray(R"({"saved":1})") << APIError::decode();
        QTest::newRow("add 204") << QByteArray("POST") << 204 << QByteArray() << APIError::http(204, QString());
        QTest::newRow("delete 200") << QByteArray("DELETE") << 200 << QByteArray("fine") << APIError::http(200, QStringLiteral("fine"));
    }
    void answersOtherThanSuccess()
    {
        QFETCH(QByteArray, method);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(APIError, error);
        QVERIFY(fault(method, status, body));
        HotWordsAPIClient client;
        if (method == "GET")
            QCOMPARE(apiError(finished(client.fetch())), error);
        else if (method == "POST")
            QCOMPARE(apiError(finished(client.add(QStringLiteral("w")))), error);
        else
            QCOMPARE(apiError(finished(client.deleteWord(QStringLiteral("w")))), error);
    }

    // Each word is one path segment, encoded once by the client and decoded once by the server.
    void deleteSendsOneEncodedSegment()
    {
        const QStringList words{QStringLiteral("a/b"), QStringLiteral("x%41"), QStringLiteral("热词 ?#")};
        QVERIFY(m_server.setHotWords(QStringLiteral("alice"), words + QStringList{QStringLiteral("keep")}));
        HotWordsAPIClient client;
        for (const QString &word : words)
            QVERIFY(finished(client.deleteWord(word)).hasValue());
        QCOMPARE(m_server.hotWords(QStringLiteral("alice")), QStringList{QStringLiteral("keep")});
        QCOMPARE(m_server.requestCount("DELETE", QStringLiteral("/hotwords/a%2Fb")), 1);
        QCOMPARE(m_server.requestCount("DELETE", QStringLiteral("/hotwords/x%2541")), 1);
        QCOMPARE(m_server.requestCount("DELETE", QStringLiteral("/hotwords/%E7%83%AD%E8%AF%8D%20%3F%23")), 1);
        const QNetworkRequest request = m_access->sent().at(0).request;
        QCOMPARE(request.url().toString(QUrl::FullyEncoded), QStringLiteral("https://api.murlex.app/hotwords/a%2Fb"));
        QVERIFY(!request.header(QNetworkRequest::ContentTypeHeader).isValid());
        QCOMPARE(request.rawHeader("Authorization"), QByteArray("Bearer ") + m_token.toUtf8());

        // An absent word is the server's 404.
        QCOMPARE(apiError(finished(client.deleteWord(QStringLiteral("gone")))).status, 404);
    }

    void nothingIsSentWithoutAToken()
    {
        const QString unpaired = QChar(0xDC00) + QStringLiteral("a") + QChar(0xD800);
        for (const std::optional<QString> &token : {std::optional<QString>(), std::optional<QString>(QString())}) {
            TokenStore::setAccessToken(token);
            HotWordsAPIClient client;
            QCOMPARE(apiError(finished(client.fetch())), APIError::noToken());
            QCOMPARE(apiError(finished(client.add(QStringLiteral("w")))), APIError::noToken());
            QCOMPARE(apiError(finished(client.deleteWord(QStringLiteral("w")))), APIError::noToken());
            // The URL check of a delete comes first.
            QCOMPARE(apiError(finished(client.deleteWord(unpaired))), APIError::http(400, QStringLiteral("invalid word for URL encode")));
        }
        QVERIFY(m_access->sent().isEmpty());

        // Signed in, a word that cannot be written as UTF-8 is not sent either; for an add that is
        // an encoding failure, passed through as it is.
        TokenStore::setAccessToken(m_token);
        HotWordsAPIClient client;
        const auto added = finished(client.add(unpaired));
        QVERIFY(!added.hasValue());
        QVERIFY(std::holds_alternative<PlatformError>(added.error()));
        QCOMPARE(apiError(finished(client.deleteWord(unpaired))), APIError::http(400, QStringLiteral("invalid word for URL encode")));
        QVERIFY(m_access->sent().isEmpty());

        // An expired token is sent, and refused by the server; the client does not refresh it.
        TokenStore::setAccessToken(m_server.issueTokens(QStringLiteral("alice"), 0).access);
        QCOMPARE(apiError(finished(client.fetch())).status, 401);
    }

    // Nobody listening, and a server whose certificate is not trusted (a fetch's: see the time limits).
    void transportFailuresAreNetworkErrors()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        RedirectingNetworkAccess nowhere(closed.serverPort(), DevServer::caCertificates());
        closed.close();
        RedirectingNetworkAccess untrusted(m_server.port(), QSslCertificate::fromPath(QStringLiteral(MURLEX_DEVCERT_DIR "/other-ca.pem")));
        const std::pair<RedirectingNetworkAccess *, int> cases[] = {{&nowhere, int(QNetworkReply::ConnectionRefusedError)},
                                                                    {&untrusted, int(QNetworkReply::SslHandshakeFailedError)}};
        for (const auto &[access, code] : cases) {
            const ScopedNetworkAccess elsewhere(access);
            HotWordsAPIClient client;
            const APIError error = apiError(finished(client.add(QStringLiteral("w"))));
            QCOMPARE(error.kind, APIError::Kind::network);
            QCOMPARE(error.networkError.code, code);
            QVERIFY(!error.networkError.localizedDescription.isEmpty());
            QCOMPARE(error.localizedDescription(), QStringLiteral("hotwords 网络错误：") + error.networkError.localizedDescription);
        }
        QVERIFY(m_server.hotWords(QStringLiteral("alice")).isEmpty());
    }

    // No progress for the session's time, and the whole request's time.
    void stalledRequestsGiveUp_data()
    {
        QTest::addColumn<int>("sessionMs");
        QTest::addColumn<int>("requestMs");
        QTest::newRow("session idle") << 300 << 20000;
        QTest::newRow("whole request") << 20000 << 300;
    }
    void stalledRequestsGiveUp()
    {
        QFETCH(int, sessionMs);
        QFETCH(int, requestMs);
        QVERIFY(fault("GET", 0, {}, true));
        HotWordsAPIClient client(HotWordsAPIClient::storedAccessToken(), {std::chrono::milliseconds(sessionMs), std::chrono::milliseconds(requestMs)});
        QElapsedTimer clock;
        clock.start();
        const APIError timedOut = apiError(finished(client.fetch()));
        QCOMPARE(timedOut.kind, APIError::Kind::network);
        QCOMPARE(timedOut.networkError, (PlatformError{QStringLiteral("QNetworkReply"), int(QNetworkReply::TimeoutError), QStringLiteral("Operation timed out")}));
        QCOMPARE(timedOut.localizedDescription(), QStringLiteral("hotwords 网络错误：Operation timed out"));
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestHotWordsAPIClient)
#include "tst_hotwordsapiclient.moc"
