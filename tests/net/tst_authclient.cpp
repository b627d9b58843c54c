// test-labels: auth
// The auth client against the real stand-in backend over TLS: sign-in, refresh, the valid-token
// rule with its shared refresh, failures and what they leave in the (real) keyring.
#include "net/AuthClient.h"
#include "net/AuthTokenProvider.h"
#include "store/JWT.h"
#include "store/TokenStore.h"

#include "DevServer.h"
#include "RedirectingNetworkAccess.h"
#include "TaskResult.h"

#include <QCoroTask>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QTcpServer>
#include <QtTest>

namespace {

// The test transport, also keeping every request as the client built it (headers, timeout).
class RecordingAccess : public RedirectingNetworkAccess {
public:
    using RedirectingNetworkAccess::RedirectingNetworkAccess;
    QList<QNetworkRequest> requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(), clearRequestedUrls(); }

protected:
    QNetworkRequest prepare(const QNetworkRequest &request) const override
    {
        m_requests.append(request);
        return RedirectingNetworkAccess::prepare(request);
    }

private:
    mutable QList<QNetworkRequest> m_requests;
};

QString segment(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// An unsigned token of JWT form whose "exp" is `secondsLeft` from now (fractions kept).
QString tokenExpiringIn(double secondsLeft)
{
    const double exp = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0 + secondsLeft;
    const QJsonObject claims{{QStringLiteral("sub"), QStringLiteral("crafted")}, {QStringLiteral("exp"), exp}};
    return segment(R"({"alg":"none"})") + QLatin1Char('.') + segment(QJsonDocument(claims).toJson(QJsonDocument::Compact))
        + QStringLiteral(".x");
}

QCoro::Task<> collect(QList<TokenResult> &results)
{
    TokenResult result = co_await AuthClient::validAccessToken();
    results.append(std::move(result));
}

// The result of a client call; a call that never finishes fails the test through its result.
template <typename T>
T finished(QCoro::Task<T> task)
{
    std::optional<T> result = taskResult(std::move(task));
    if (!result)
        return T(TokenFailure(PlatformError{QStringLiteral("test"), -1, QStringLiteral("did not finish")}));
    return std::move(*result);
}

AuthError authError(const TokenFailure &failure)
{
    return std::holds_alternative<AuthError>(failure) ? std::get<AuthError>(failure)
                                                      : AuthError::http(-1, QStringLiteral("not an AuthError"));
}


} // namespace

class TestAuthClient : public QObject {
    Q_OBJECT

    DevServer m_server;
    RecordingAccess *m_access = nullptr;

    int refreshPosts() { return m_server.requestCount("POST", QStringLiteral("/auth/refresh")); }

    // The next `count` requests to `path` are answered with `status` and `body` (status 0: the
    // real answer) after `delayMs`.
    bool fault(const char *path, int status, const QByteArray &body, int delayMs = 0, int count = 1)
    {
        DevServer::RestFault f;
        f.method = "POST";
        f.path = QLatin1String(path);
        f.status = status;
        f.body = body;
        f.delayMs = delayMs;
        f.count = count;
        return m_server.setRestFault(f);
    }

    // Signs the account in on the server side and stores its tokens, as after a sign-in.
    QString storeAccount(const QString &subject, const std::optional<QString> &access = std::nullopt)
    {
        const DevServer::Tokens tokens = m_server.issueTokens(subject);
        TokenStore::setAccessToken(access.value_or(tokens.access));
        TokenStore::setRefreshToken(tokens.refresh);
        return tokens.refresh;
    }

    void verifyPostedJson(const QNetworkRequest &request, const QUrl &url)
    {
        QCOMPARE(request.url(), url);
        QCOMPARE(request.header(QNetworkRequest::ContentTypeHeader).toByteArray(), QByteArray("application/json"));
        QVERIFY(!request.hasRawHeader("Authorization"));
        // The real timeout: a minute, not seconds and not unbounded.
        QCOMPARE(request.transferTimeout(), 60000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"), "no session bus: run the tests through scripts/harness.sh");
        QVERIFY(m_server.start());
        m_access = new RecordingAccess(m_server.port(), DevServer::caCertificates(), this);
        NetworkAccess::setShared(m_access);
    }
    void cleanupTestCase()
    {
        NetworkAccess::setShared(nullptr);
        TokenStore::setAccessToken(std::nullopt);
        TokenStore::setRefreshToken(std::nullopt);
    }
    void init()
    {
        QVERIFY(m_server.reset());
        TokenStore::setAccessToken(std::nullopt);
        TokenStore::setRefreshToken(std::nullopt);
        m_access->clearRequests();
    }

    void descriptionsAreExact()
    {
        QCOMPARE(AuthError::http(401, QStringLiteral("B")).localizedDescription(), QStringLiteral("auth 接口 HTTP 401: B"));
        QCOMPARE(AuthError::http(401, QString()).localizedDescription(), QStringLiteral("auth 接口 HTTP 401: "));
        QCOMPARE(AuthError::http(-1, QStringLiteral("%1 %2")).localizedDescription(), QStringLiteral("auth 接口 HTTP -1: %1 %2"));
        QCOMPARE(AuthError::noRefreshToken().localizedDescription(), QStringLiteral("本地没有 refresh token，需要重新登录"));
        QCOMPARE(AuthError::noAccessToken().localizedDescription(), QStringLiteral("本地没有 access token，需要重新登录"));
        QCOMPARE(AuthError::decode().localizedDescription(), QStringLiteral("无法解析 auth 响应"));
    }

    void signInStoresBothTokens()
    {
        const auto result = finished(AuthClient::signInWithApple(QStringLiteral("user-1")));
        QVERIFY(result.hasValue());

        QCOMPARE(m_access->requests().size(), 1);
        verifyPostedJson(m_access->requests().at(0), QUrl(QStringLiteral("https://api.murlex.app/auth/apple")));
        QCOMPARE(m_server.requestCount("POST", QStringLiteral("/auth/apple")), 1);
        // The stand-in names the account after a readable identity token: the body reached it.
        QCOMPARE(JWT::subject(TokenStore::accessToken().value_or(QString())), std::optional<QString>(QStringLiteral("user-1")));
        QVERIFY(!TokenStore::refreshToken().value_or(QString()).isEmpty());

        // The stored refresh token is the one the server knows: it buys a new access token.
        const TokenResult refreshed = finished(AuthClient::refreshAccessToken());
        QVERIFY(refreshed.hasValue());
        QCOMPARE(JWT::subject(refreshed.value()), std::optional<QString>(QStringLiteral("user-1")));
    }

    void signInFailureStoresNothing_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<AuthError>("expected");
        const QByteArray complete = R"({"access_token":"a","is_new_user":true,"refresh_token":"r"})";
        QTest::newRow("201 is not success") << 201 << complete << AuthError::http(201, QString::fromUtf8(complete));
        QTest::newRow("401 with a text body") << 401 << QByteArray("令牌无效") << AuthError::http(401, QStringLiteral("令牌无效"));
        QTest::newRow("500 without a body") << 500 << QByteArray() << AuthError::http(500, QString());
        QTest::newRow("no is_new_user") << 200 << QByteArray(R"({"access_token":"a","refresh_token":"r"})") << AuthError::decode();
        QTest::newRow("is_new_user a number") << 200 << QByteArray(R"({"access_token":"a","is_new_user":1,"refresh_token":"r"})")
                                              << AuthError::decode();
        QTest::newRow("refresh_token null") << 200 << QByteArray(R"({"access_token":"a","is_new_user":false,"refresh_token":null})")
                                            << AuthError::decode();
        QTest::newRow("array") << 200 << (QByteArray("[") + complete + "]") << AuthError::decode();
        QTest::newRow("not JSON") << 200 << QByteArray("ok") << AuthError::decode();
    }
    void signInFailureStoresNothing()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(AuthError, expected);
        TokenStore::setAccessToken(QStringLiteral("old-access"));
        TokenStore::setRefreshToken(QStringLiteral("old-refresh"));
        QVERIFY(fault("/auth/apple", status, body));

        const auto result = finished(AuthClient::signInWithApple(QStringLiteral("user-2")));
        QVERIFY(!result.hasValue());
        QCOMPARE(authError(result.error()), expected);
        QCOMPARE(TokenStore::accessToken(), std::optional<QString>(QStringLiteral("old-access")));
        QCOMPARE(TokenStore::refreshToken(), std::optional<QString>(QStringLiteral("old-refresh")));
    }

    void refreshStoresOnlyTheAccessToken()
    {
        const QString refreshToken = storeAccount(QStringLiteral("user-3"), QStringLiteral("stale"));
        const TokenResult result = finished(AuthClient::refreshAccessToken());
        QVERIFY(result.hasValue());
        QCOMPARE(JWT::subject(result.value()), std::optional<QString>(QStringLiteral("user-3")));
        QCOMPARE(TokenStore::accessToken(), std::optional<QString>(result.value()));
        QCOMPARE(TokenStore::refreshToken(), std::optional<QString>(refreshToken));
        QCOMPARE(m_access->requests().size(), 1);
        verifyPostedJson(m_access->requests().at(0), QUrl(QStringLiteral("https://api.murlex.app/auth/refresh")));
    }

    void refreshFailures()
    {
        // No refresh token: nothing is sent.
        QCOMPARE(authError(finished(AuthClient::refreshAccessToken()).error()), AuthError::noRefreshToken());
        QVERIFY(m_access->requestedUrls().isEmpty());

        // An empty refresh token is sent as it is (and refused by the server); nothing changes.
        TokenStore::setAccessToken(QStringLiteral("kept"));
        TokenStore::setRefreshToken(QString());
        const TokenResult refused = finished(AuthClient::refreshAccessToken());
        QCOMPARE(authError(refused.error()), AuthError::http(401, QStringLiteral(R"({"error":"unknown refresh token"})")));
        QCOMPARE(refreshPosts(), 1);
        QCOMPARE(TokenStore::accessToken(), std::optional<QString>(QStringLiteral("kept")));
        QCOMPARE(TokenStore::refreshToken(), std::optional<QString>(QString()));

        // 201 with a good body is still a failure.
        storeAccount(QStringLiteral("user-4"), QStringLiteral("kept"));
        QVERIFY(fault("/auth/refresh", 201, R"({"access_token":"x"})"));
        const TokenResult created = finished(AuthClient::refreshAccessToken());
        QCOMPARE(authError(created.error()), AuthError::http(201, QStringLiteral(R"({"access_token":"x"})")));
        QCOMPARE(authError(created.error()).localizedDescription(), QStringLiteral(R"(auth 接口 HTTP 201: {"access_token":"x"})"));
        QCOMPARE(TokenStore::accessToken(), std::optional<QString>(QStringLiteral("kept")));

        // 200 whose access token is not text.
        QVERIFY(fault("/auth/refresh", 200, R"({"access_token":7})"));
        QCOMPARE(authError(finished(AuthClient::refreshAccessToken()).error()), AuthError::decode());
        QCOMPARE(TokenStore::accessToken(), std::optional<QString>(QStringLiteral("kept")));
    }

    void emptyRefreshedTokenIsStoredThenCountsAsNone()
    {
        storeAccount(QStringLiteral("user-5"), QStringLiteral("old"));
        QVERIFY(fault("/auth/refresh", 200, R"({"access_token":""})"));
        const TokenResult result = finished(AuthClient::refreshAccessToken());
        QVERIFY(result.hasValue());
        QVERIFY(result.value().isEmpty());
        QCOMPARE(TokenStore::accessToken(), std::optional<QString>(QString()));
        QCOMPARE(authError(finished(AuthClient::validAccessToken()).error()), AuthError::noAccessToken());
        QCOMPARE(refreshPosts(), 1);
    }

    void validTokenNeedsMoreThan300Seconds()
    {
        // No token, or an empty one: no request.
        QCOMPARE(authError(finished(AuthClient::validAccessToken()).error()), AuthError::noAccessToken());
        TokenStore::setAccessToken(QString());
        QCOMPARE(authError(finished(AuthClient::validAccessToken()).error()), AuthError::noAccessToken());
        QVERIFY(m_access->requestedUrls().isEmpty());

        // 301 seconds to live: used as it is.
        const QString lasting = tokenExpiringIn(301);
        storeAccount(QStringLiteral("user-6"), lasting);
        const TokenResult kept = finished(AuthClient::validAccessToken());
        QCOMPARE(kept.value(), lasting);
        QVERIFY(m_access->requestedUrls().isEmpty());

        // Exactly 300 seconds: refreshed, and the new token is stored.
        TokenStore::setAccessToken(tokenExpiringIn(300));
        const TokenResult refreshed = finished(AuthClient::validAccessToken());
        QVERIFY(refreshed.hasValue());
        QCOMPARE(JWT::subject(refreshed.value()), std::optional<QString>(QStringLiteral("user-6")));
        QCOMPARE(TokenStore::accessToken(), std::optional<QString>(refreshed.value()));
        QCOMPARE(refreshPosts(), 1);

        // Already expired: refreshed as well (once the shared refresh has been cleared).
        QTest::qWait(1);
        TokenStore::setAccessToken(tokenExpiringIn(-60));
        QVERIFY(finished(AuthClient::validAccessToken()).hasValue());
        QCOMPARE(refreshPosts(), 2);
    }

    void tokenWithoutReadableExpiryIsRefreshedEveryTime_data()
    {
        QTest::addColumn<QString>("token");
        QTest::newRow("not a JWT") << QStringLiteral("opaque-token");
        QTest::newRow("no exp claim") << (segment("{}") + QLatin1Char('.') + segment(R"({"sub":"s"})") + QStringLiteral(".x"));
        QTest::newRow("exp as text") << (segment("{}") + QLatin1Char('.') + segment(R"({"exp":"99999999999"})") + QStringLiteral(".x"));
    }
    void tokenWithoutReadableExpiryIsRefreshedEveryTime()
    {
        QFETCH(QString, token);
        storeAccount(QStringLiteral("user-7"), token);
        // The server hands out the same kind of token, so every call must refresh again.
        const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("access_token"), token}}).toJson(QJsonDocument::Compact);
        QVERIFY(fault("/auth/refresh", 200, body, 0, -1));
        for (int call = 1; call <= 3; ++call) {
            const TokenResult result = finished(AuthClient::validAccessToken());
            QCOMPARE(result.value(), token);
            QCOMPARE(refreshPosts(), call);
            QTest::qWait(1); // the shared refresh is cleared before the next call
        }
    }

    void tenCallersShareOneRefresh()
    {
        storeAccount(QStringLiteral("user-8"), tokenExpiringIn(10));
        // Slow the answer so all ten are surely waiting on the same request.
        QVERIFY(fault("/auth/refresh", 0, {}, 300));
        QList<TokenResult> results;
        for (int i = 0; i < 10; ++i)
            collect(results);
        QTRY_COMPARE(results.size(), 10);
        QCOMPARE(refreshPosts(), 1);
        QVERIFY(results.at(0).hasValue());
        for (const TokenResult &r : std::as_const(results))
            QCOMPARE(r.value(), results.at(0).value());
        QCOMPARE(TokenStore::accessToken(), std::optional<QString>(results.at(0).value()));
    }

    void failedSharedRefreshGivesEveryoneTheSameErrorOnce()
    {
        storeAccount(QStringLiteral("user-9"), tokenExpiringIn(10));
        QVERIFY(fault("/auth/refresh", 503, "维护中", 200));
        QList<TokenResult> results;
        for (int i = 0; i < 10; ++i)
            collect(results);
        QTRY_COMPARE(results.size(), 10);
        QCOMPARE(refreshPosts(), 1);
        for (const TokenResult &r : std::as_const(results)) {
            QVERIFY(!r.hasValue());
            QCOMPARE(authError(r.error()), AuthError::http(503, QStringLiteral("维护中")));
        }

        // The next call, after the clearing, sends a new request (which now succeeds).
        QTest::qWait(1);
        const TokenResult next = finished(AuthClient::validAccessToken());
        QVERIFY(next.hasValue());
        QCOMPARE(refreshPosts(), 2);
    }

    void callerRightAfterTheRefreshGetsItsResultWithoutANewRequest()
    {
        storeAccount(QStringLiteral("user-10"), QStringLiteral("opaque-1"));
        QVERIFY(fault("/auth/refresh", 200, R"({"access_token":"opaque-2"})", 0, -1));
        QList<TokenResult> results;
        // Asks again the moment it has its token: the refresh has finished but is not cleared yet.
        [](QList<TokenResult> &out) -> QCoro::Task<> {
            TokenResult first = co_await AuthClient::validAccessToken();
            out.append(std::move(first));
            TokenResult second = co_await AuthClient::validAccessToken();
            out.append(std::move(second));
        }(results);
        QTRY_COMPARE(results.size(), 2);
        QCOMPARE(results.at(0).value(), QStringLiteral("opaque-2"));
        QCOMPARE(results.at(1).value(), QStringLiteral("opaque-2"));
        QCOMPARE(refreshPosts(), 1);
    }

    void transportErrorsPassThrough_data()
    {
        QTest::addColumn<bool>("trustStandIn");
        QTest::addColumn<int>("code");
        QTest::newRow("TLS: certificate not trusted") << false << int(QNetworkReply::SslHandshakeFailedError);
        QTest::newRow("connection refused") << true << int(QNetworkReply::ConnectionRefusedError);
    }
    void transportErrorsPassThrough()
    {
        QFETCH(bool, trustStandIn);
        QFETCH(int, code);
        quint16 port = m_server.port();
        if (trustStandIn) { // a port nobody listens on
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            port = probe.serverPort();
        }
        const QList<QSslCertificate> trusted = trustStandIn ? DevServer::caCertificates() : QSslCertificate::fromPath(QStringLiteral(MURLEX_DEVCERT_DIR "/other-ca.pem"));
        RecordingAccess access(port, trusted);
        NetworkAccess::setShared(&access);
        storeAccount(QStringLiteral("user-11"), tokenExpiringIn(1));

        const TokenResult refresh = finished(AuthClient::validAccessToken());
        const auto signIn = finished(AuthClient::signInWithApple(QStringLiteral("user-11")));
        NetworkAccess::setShared(m_access);

        for (const TokenFailure &failure : {refresh.error(), signIn.error()}) {
            QVERIFY(std::holds_alternative<PlatformError>(failure));
            const PlatformError &error = std::get<PlatformError>(failure);
            QCOMPARE(error.domain, QStringLiteral("QNetworkReply"));
            QCOMPARE(error.code, code);
            QVERIFY(!error.localizedDescription.isEmpty());
        }
        QCOMPARE(JWT::subject(TokenStore::accessToken().value_or(QString())), std::optional<QString>(QStringLiteral("crafted")));
        QCOMPARE(refreshPosts(), 0);
    }

    void providerSignsOutAndHandsOutTokens()
    {
        storeAccount(QStringLiteral("user-12"));
        AuthTokenProvider provider;
        const TokenResult valid = finished(provider.validAccessToken());
        QCOMPARE(JWT::subject(valid.value()), std::optional<QString>(QStringLiteral("user-12")));
        QVERIFY(finished(provider.refreshAccessToken()).hasValue());
        QCOMPARE(refreshPosts(), 1);

        provider.signOut();
        QCOMPARE(TokenStore::accessToken(), std::nullopt);
        QCOMPARE(TokenStore::refreshToken(), std::nullopt);
        QCOMPARE(authError(finished(provider.validAccessToken()).error()), AuthError::noAccessToken());
        QCOMPARE(authError(finished(provider.refreshAccessToken()).error()), AuthError::noRefreshToken());
    }
};

QTEST_GUILESS_MAIN(TestAuthClient)
#include "tst_authclient.moc"
