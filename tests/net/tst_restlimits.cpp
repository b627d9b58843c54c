// test-labels: hotwords auth
// Answers of any size a server likes are not held: a body beyond the transport's limit ends the
// request as a network failure that names the limit, and nothing of it is stored.
#include "net/AuthClient.h"
#include "net/HotWordsAPIClient.h"
#include "net/NetworkAccess.h"
#include "store/TokenStore.h"

#include "StandIn.h"
#include "TaskResult.h"

#include <QtTest>

namespace {
const QString limitText = QStringLiteral("answer larger than %1 bytes").arg(NetworkAccess::maxReplyBodyBytes);
} // namespace

class TestRestLimits : public QObject {
    Q_OBJECT

    StandIn m_standIn;
    DevServer &m_server = m_standIn.server;

    bool pad(const QByteArray &method, const QString &path, qint64 bytes)
    {
        return m_server.setRestFault({.method = method, .path = path, .padBytes = bytes});
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_standIn.start()); }
    void init() { QVERIFY(m_standIn.reset()); }

    void hotWordsAnswerUpToTheLimitIsReadBeyondItIsRefused()
    {
        TokenStore::setAccessToken(m_server.issueTokens(QStringLiteral("alice")).access);
        QVERIFY(m_server.setHotWords(QStringLiteral("alice"), {QStringLiteral("热词")}));
        HotWordsAPIClient client;

        QVERIFY(pad("GET", QStringLiteral("/hotwords"), NetworkAccess::maxReplyBodyBytes - 1024));
        const auto withinLimit = taskResult(client.fetch());
        QVERIFY(withinLimit && withinLimit->hasValue());
        QCOMPARE(withinLimit->value(), QStringList{QStringLiteral("热词")});

        QVERIFY(pad("GET", QStringLiteral("/hotwords"), 64 * 1024 * 1024));
        const auto beyondLimit = taskResult(client.fetch());
        QVERIFY(beyondLimit && !beyondLimit->hasValue());
        const auto *network = std::get_if<APIError>(&beyondLimit->error());
        QVERIFY(network && network->kind == APIError::Kind::network);
        QCOMPARE(network->networkError.localizedDescription, limitText);
    }

    void oversizedSignInAnswerStoresNoToken()
    {
        QVERIFY(pad("POST", QStringLiteral("/auth/apple"), 64 * 1024 * 1024));
        const auto result = taskResult(AuthClient::signInWithApple(QStringLiteral("user-1")));
        QVERIFY(result && !result->hasValue());
        const auto *platform = std::get_if<PlatformError>(&result->error());
        QVERIFY(platform);
        QCOMPARE(platform->localizedDescription, limitText);
        QCOMPARE(TokenStore::accessToken(), std::nullopt);
        QCOMPARE(TokenStore::refreshToken(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestRestLimits)
#include "tst_restlimits.moc"
