// test-labels: auth
#include "net/AuthClient.h"
#include "net/AuthTokenProvider.h"
#include "net/NetworkAccess.h"
#include "net/RefreshCoordinator.h"
#include "store/JWT.h"
#include "store/TokenStore.h"

#include "StandIn.h"
#include "TaskResult.h"

#include <QCoroSignal>
#include <QCoroTask>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QtTest>

using namespace Qt::Literals::StringLiterals;

class Gate : public QObject {
    Q_OBJECT
Q_SIGNALS:
    void opened();
};

namespace {

QString segment(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// An unsigned token of JWT form whose "exp" is `secondsLeft` from now (fractions kept).
QString tokenExpiringIn(double secondsLeft)
{
    const double exp = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0 + secondsLeft;
    const QJsonObject claims{{u"sub"_s, u"crafted"_s}, {u"exp"_s, exp}};
    return segment(R"({"alg":"none"})") + u'.' + segment(QJsonDocument(claims).toJson(QJsonDocument::Compact)) + u".x"_s;
}

QCoro::Task<> collect(QList<TokenResult> &results)
{
    TokenResult result = co_await AuthClient::validAccessToken();
    results.append(std::move(result));
}

QCoro::Task<> collectFrom(RefreshCoordinator &coordinator, QList<TokenResult> &results)
{
    TokenResult result = co_await coordinator.currentTask();
    results.append(std::move(result));
}

// The result of a client call; a call that never finishes fails the test through its result.
template <typename T>
T finished(QCoro::Task<T> task)
{
    std::optional<T> result = taskResult(std::move(task));
    return result ? std::move(*result) : T(TokenFailure(PlatformError{u"test"_s, -1, u"did not finish"_s}));
}

AuthError authError(const TokenFailure &failure)
{
    return std::holds_alternative<AuthError>(failure) ? std::get<AuthError>(failure) : AuthError::http(-1, u"not an AuthError"_s);
}

using Token = std::optional<QString>;
const QString apple = u"/auth/apple"_s;
const QString refresh = u"/auth/refresh"_s;

} // namespace

class TestAuthClient : public QObject {
    Q_OBJECT

    StandIn m_standIn;
    DevServer &m_server = m_standIn.server;
    RecordingNetworkAccess *m_access = nullptr;

    int refreshPosts() { return m_server.requestCount("POST", refresh); }

    // The next `count` requests to `path` get `status` (0: the real answer) and `body` after `delayMs`.
    bool fault(const char *path, int status, const QByteArray &body, int delayMs = 0, int count = 1)
    {
        return m_server.setRestFault({.method = "POST", .path = QLatin1String(path), .status = status, .body = body, .delayMs = delayMs, .count = count});
    }

    // Signs the account in on the server side and stores its tokens, as after a sign-in.
    void storeAccount(const QString &subject, const std::optional<QString> &access = std::nullopt)
    {
        const DevServer::Tokens tokens = m_server.issueTokens(subject);
        TokenStore::setAccessToken(access.value_or(tokens.access));
        TokenStore::setRefreshToken(tokens.refresh);
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
        QVERIFY(m_standIn.start());
        m_access = &m_standIn.access();
    }
    void init() { QVERIFY(m_standIn.reset()); }

    // A failed sign-in or refresh leaves both stored tokens as they were.
    void failureStoresNothing_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status"); // 0: the server's own answer
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<AuthError>("expected");
        QTest::newRow("sign-in 401 with a text body") << apple << 401 << QByteArray("令牌无效") << AuthError::http(401, u"令牌无效"_s);
        QTest::newRow("sign-in without is_new_user") << apple << 200 << QByteArray(R"({"access_token":"a","refresh_token":"r"})") << AuthError::decode();
        QTest::newRow("refresh 201 is not success") << refresh << 201 << QByteArray(R"({"access_token":"x"})") << AuthError::http(201, uR"({"access_token":"x"})"_s);
        QTest::newRow("refresh refused by the server") << refresh << 0 << QByteArray() << AuthError::http(401, uR"({"error":"unknown refresh token"})"_s);
        QTest::newRow("refresh access token not text") << refresh << 200 << QByteArray(R"({"access_token":7})") << AuthError::decode();
    }
    void failureStoresNothing()
    {
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(AuthError, expected);
        TokenStore::setAccessToken(u"kept"_s);
        TokenStore::setRefreshToken(QString()); // an empty refresh token is still sent
        if (status != 0)
            QVERIFY(fault(qPrintable(path), status, body));
        const TokenFailure failure = path == apple ? finished(AuthClient::signInWithApple(u"user-2"_s)).error()
                                                   : finished(AuthClient::refreshAccessToken()).error();
        QCOMPARE(authError(failure), expected);
        QCOMPARE(m_server.requestCount("POST", path), 1);
        QCOMPARE(TokenStore::accessToken(), Token(u"kept"_s));
        QCOMPARE(TokenStore::refreshToken(), Token(QString()));
    }

    void signInStoresBothTokensAndRefreshReplacesOnlyTheAccessToken()
    {
        // No tokens: nothing is sent.
        QCOMPARE(authError(finished(AuthClient::refreshAccessToken()).error()), AuthError::noRefreshToken());
        QCOMPARE(authError(finished(AuthClient::validAccessToken()).error()), AuthError::noAccessToken());
        QVERIFY(m_access->sent().isEmpty());
        QVERIFY(finished(AuthClient::signInWithApple(u"user-1"_s)).hasValue());
        QCOMPARE(m_access->sent().size(), 1);
        verifyPostedJson(m_access->sent().at(0).request, QUrl(u"https://api.murlex.app/auth/apple"_s));
        // The stand-in names the account after a readable identity token: the body reached it.
        QCOMPARE(JWT::subject(TokenStore::accessToken().value_or(QString())), Token(u"user-1"_s));
        // The stored refresh token is the one the server issued: it buys a new access token.
        const Token refreshToken = TokenStore::refreshToken();
        TokenStore::setAccessToken(u"stale"_s);
        const TokenResult result = finished(AuthClient::refreshAccessToken());
        QCOMPARE(JWT::subject(result.value()), Token(u"user-1"_s));
        QCOMPARE(TokenStore::accessToken(), Token(result.value()));
        QCOMPARE(TokenStore::refreshToken(), refreshToken);
        verifyPostedJson(m_access->sent().value(1).request, QUrl(u"https://api.murlex.app/auth/refresh"_s));
        // An empty access token in the answer is stored as it is, and then counts as none.
        QVERIFY(fault("/auth/refresh", 200, R"({"access_token":""})"));
        QCOMPARE(finished(AuthClient::refreshAccessToken()).value(), QString());
        QCOMPARE(TokenStore::accessToken(), Token(QString()));
        QCOMPARE(authError(finished(AuthClient::validAccessToken()).error()), AuthError::noAccessToken());
        QCOMPARE(refreshPosts(), 2);

        // The dictation's provider hands out and refreshes tokens; after its sign-out the next
        // request sees no token, not a copy of the old one.
        storeAccount(u"user-12"_s);
        AuthTokenProvider provider;
        QCOMPARE(JWT::subject(finished(provider.validAccessToken()).value()), Token(u"user-12"_s));
        QVERIFY(finished(provider.refreshAccessToken()).hasValue());
        QCOMPARE(refreshPosts(), 3);
        provider.signOut();
        QCOMPARE(authError(finished(provider.validAccessToken()).error()), AuthError::noAccessToken());
        QCOMPARE(TokenStore::accessToken(), std::nullopt);
        QCOMPARE(TokenStore::refreshToken(), std::nullopt);
    }

    // More than 300 seconds to live: used as it is; 300, or expired: refreshed once, and the new
    // token stored; no readable expiry (the forms: see the token store suite): refreshed at every call.
    void validTokenNeedsMoreThan300Seconds_data()
    {
        QTest::addColumn<double>("secondsLeft"); // NaN: an opaque token
        QTest::addColumn<int>("refreshes");     // over three calls
        QTest::newRow("301 s") << 301.0 << 0;
        QTest::newRow("300 s") << 300.0 << 1;
        QTest::newRow("expired") << -60.0 << 1;
        QTest::newRow("opaque") << qQNaN() << 3;
    }
    void validTokenNeedsMoreThan300Seconds()
    {
        QFETCH(double, secondsLeft);
        QFETCH(int, refreshes);
        const QString token = qIsNaN(secondsLeft) ? u"opaque-token"_s : tokenExpiringIn(secondsLeft);
        storeAccount(u"user-6"_s, token);
        // For an opaque token the server hands out the same kind, so every call must refresh again.
        if (refreshes == 3)
            QVERIFY(fault("/auth/refresh", 200, QJsonDocument(QJsonObject{{u"access_token"_s, token}}).toJson(QJsonDocument::Compact), 0, -1));
        for (int call = 0; call < 3; ++call) {
            const QString valid = finished(AuthClient::validAccessToken()).value();
            QCOMPARE(TokenStore::accessToken(), Token(valid));
            QCOMPARE(valid == token, refreshes != 1);
            if (refreshes == 1)
                QCOMPARE(JWT::subject(valid), Token(u"user-6"_s));
            QTest::qWait(1); // lets the shared refresh be cleared
        }
        QCOMPARE(refreshPosts(), refreshes);
    }

    void tenCallersShareOneRefresh_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("refresh succeeds") << 0;
        QTest::newRow("refresh fails") << 503;
    }
    void tenCallersShareOneRefresh()
    {
        QFETCH(int, status);
        const QString expiring = tokenExpiringIn(10);
        storeAccount(u"user-8"_s, expiring);
        // A slow answer, so all ten surely wait on the same request.
        QVERIFY(fault("/auth/refresh", status, "维护中", 300));
        QList<TokenResult> results;
        for (int i = 0; i < 10; ++i)
            collect(results);
        QTRY_COMPARE(results.size(), 10);
        QCOMPARE(refreshPosts(), 1);
        for (const TokenResult &r : std::as_const(results)) {
            QCOMPARE(r.hasValue(), status == 0);
            if (status == 0)
                QCOMPARE(r.value(), results.at(0).value());
            else
                QCOMPARE(authError(r.error()), AuthError::http(503, u"维护中"_s));
        }
        QCOMPARE(TokenStore::accessToken(), Token(status == 0 ? results.at(0).value() : expiring));
        // After the clearing, the next call sends a new request.
        QTest::qWait(1);
        TokenStore::setAccessToken(tokenExpiringIn(10));
        QVERIFY(finished(AuthClient::validAccessToken()).hasValue());
        QCOMPARE(refreshPosts(), 2);
    }

    // A server not to be trusted: the transport's error passes through as it is. (An answer beyond
    // the transport's limit: the hot words store's suite, over the same transport.)
    void transportErrorsPassThrough()
    {
        RedirectingNetworkAccess untrusted(m_server.port(), QSslCertificate::fromPath(QStringLiteral(MURLEX_DEVCERT_DIR "/other-ca.pem")));
        storeAccount(u"user-11"_s, tokenExpiringIn(1));
        std::optional<ScopedNetworkAccess> elsewhere(std::in_place, &untrusted);
        const TokenResult refreshed = finished(AuthClient::validAccessToken());
        const auto signIn = finished(AuthClient::signInWithApple(u"user-11"_s));
        elsewhere.reset();
        for (const TokenFailure &failure : {refreshed.error(), signIn.error()}) {
            const PlatformError error = std::get<PlatformError>(failure);
            QCOMPARE(error.domain, u"QNetworkReply"_s);
            QCOMPARE(error.code, int(QNetworkReply::SslHandshakeFailedError));
            QVERIFY(!error.localizedDescription.isEmpty());
        }
    }

    // The coordinator alone: a refresh that finishes at once (no refresh token: nothing to send)
    // is still shared, and the clearing of an old refresh leaves a newer one in flight.
    void coordinatorSharesAndClearsOnlyItsOwnFlight()
    {
        int calls = 0;
        Gate gates[2]; // refresh number n waits for gates[n - 1]
        RefreshCoordinator immediate([&calls]() -> QCoro::Task<TokenResult> {
            ++calls;
            co_return TokenFailure(AuthError::noRefreshToken());
        });
        QList<TokenResult> results;
        collectFrom(immediate, results);
        collectFrom(immediate, results);
        QCOMPARE(results.size(), 2);
        QCOMPARE(calls, 1);
        QCOMPARE(std::get<AuthError>(results.at(1).error()), AuthError::noRefreshToken());
        QTRY_VERIFY(!immediate.hasFlight());

        calls = 0;
        results.clear();
        RefreshCoordinator gated([&calls, &gates]() -> QCoro::Task<TokenResult> {
            const int call = ++calls;
            co_await qCoro(&gates[call - 1], &Gate::opened);
            co_return u"token-%1"_s.arg(call);
        });
        collectFrom(gated, results); // refresh 1
        gated.clear();
        collectFrom(gated, results); // refresh 2, while 1 still runs
        QCOMPARE(calls, 2);
        // Refresh 1 finishes and its clearing runs: refresh 2 is still the one in flight.
        Q_EMIT gates[0].opened();
        QTRY_COMPARE(results.size(), 1);
        QTest::qWait(10);
        QVERIFY(gated.hasFlight());
        collectFrom(gated, results);
        QCOMPARE(calls, 2);
        Q_EMIT gates[1].opened();
        QTRY_COMPARE(results.size(), 3);
        QCOMPARE(results.at(1).value(), u"token-2"_s);
        QCOMPARE(results.at(2).value(), u"token-2"_s);
        QTRY_VERIFY(!gated.hasFlight());
    }
};

QTEST_GUILESS_MAIN(TestAuthClient)
#include "tst_authclient.moc"
