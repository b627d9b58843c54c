// test-labels: hotwords
#include "net/HotWordsAPIClient.h"
#include "net/NetworkAccess.h"
#include "store/TokenStore.h"

#include "StandIn.h"
#include "TaskResult.h"

#include <QElapsedTimer>
#include <QNetworkReply>
#include <QTcpServer>
#include <QtTest>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString hotwordsPath = u"/hotwords"_s;

template <typename T>
Expected<T, HotWordsFailure> finished(QCoro::Task<Expected<T, HotWordsFailure>> task)
{
    std::optional<Expected<T, HotWordsFailure>> result = taskResult(std::move(task));
    return result ? std::move(*result) : Expected<T, HotWordsFailure>(HotWordsFailure(PlatformError{u"test"_s, -1, u"did not finish"_s}));
}

// The APIError of a failure; a passed-through error reads as http(-1, its description).
template <typename T>
APIError apiError(const Expected<T, HotWordsFailure> &result)
{
    if (result.hasValue())
        return APIError::http(-2, u"succeeded"_s);
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
        m_token = m_server.issueTokens(u"alice"_s).access;
        QVERIFY(!m_token.isEmpty());
        TokenStore::setAccessToken(m_token);
    }

    void fetchSendsAnAuthorisedGetAndKeepsServerOrder()
    {
        QVERIFY(m_server.setHotWords(u"alice"_s, {u"热词"_s, u"b"_s, u"热词"_s}));
        HotWordsAPIClient client;
        const auto result = finished(client.fetch());
        QCOMPARE(result.value(), (QStringList{u"热词"_s, u"b"_s, u"热词"_s}));
        QCOMPARE(m_access->sent().size(), 1);
        const QNetworkRequest request = m_access->sent().at(0).request;
        QCOMPARE(request.url(), QUrl(u"https://api.murlex.app/hotwords"_s));
        QCOMPARE(request.rawHeader("Authorization"), QByteArray("Bearer ") + m_token.toUtf8());
        QVERIFY(!request.header(QNetworkRequest::ContentTypeHeader).isValid());
        QCOMPARE(m_server.requestCount("GET", hotwordsPath), 1);
        QVERIFY(fault("GET", 200, R"({"hotwords":[],"more":1})")); // unknown members are ignored
        QCOMPARE(finished(client.fetch()).value(), QStringList());
        // The real limits: 15 s without progress, a minute for the whole request.
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
        const auto row = [](const char *name, const char *method, int status, const QByteArray &body, const APIError &error) {
            QTest::newRow(name) << QByteArray(method) << status << body << error;
        };
        row("fetch 201", "GET", 201, R"({"hotwords":[]})", APIError::http(201, uR"({"hotwords":[]})"_s));
        row("fetch other key", "GET", 200, R"({"words":[]})", APIError::decode());
        row("fetch not text", "GET", 200, R"({"hotwords":["a",1]})", APIError::decode());
        row("fetch not JSON", "GET", 200, "ok", APIError::decode());
        row("fetch 503", "GET", 503, "维护中", APIError::http(503, u"维护中"_s));
        row("add empty body", "POST", 200, {}, APIError::decode());
        row("add saved a number", "POST", 201, R"({"saved":1})", APIError::decode());
        row("add 204", "POST", 204, {}, APIError::http(204, QString()));
        row("delete 200", "DELETE", 200, "fine", APIError::http(200, u"fine"_s));
    }
    void answersOtherThanSuccess()
    {
        QFETCH(QByteArray, method);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(APIError, error);
        QVERIFY(fault(method, status, body));
        HotWordsAPIClient client;
        QCOMPARE(method == "GET" ? apiError(finished(client.fetch()))
                 : method == "POST" ? apiError(finished(client.add(u"w"_s))) : apiError(finished(client.deleteWord(u"w"_s))), error);
    }

    // Each word is one path segment, encoded once by the client and decoded once by the server.
    void deleteSendsOneEncodedSegment_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("path");
        QTest::newRow("delimiters and unsafe marks") << u"a/b?#1 [x]\"<>\\^`{|}"_s << u"a%2Fb%3F%231%20%5Bx%5D%22%3C%3E%5C%5E%60%7B%7C%7D"_s;
        QTest::newRow("percent, and encoded text encoded again") << u"50%2F"_s << u"50%252F"_s;
        QTest::newRow("unreserved, sub-delimiters and kept marks") << u"Az09-._~!$'()*,;&=:@+"_s << u"Az09-._~!$'()*,;&=:@+"_s;
        QTest::newRow("chinese, accent and emoji") << u"热词é😀"_s << u"%E7%83%AD%E8%AF%8D%C3%A9%F0%9F%98%80"_s;
        QTest::newRow("empty") << QString() << QString();
    }
    void deleteSendsOneEncodedSegment()
    {
        QFETCH(QString, word);
        QFETCH(QString, path);
        QVERIFY(m_server.setHotWords(u"alice"_s, word.isEmpty() ? QStringList{u"keep"_s} : QStringList{word, u"keep"_s}));
        HotWordsAPIClient client;
        const bool deleted = finished(client.deleteWord(word)).hasValue();
        const QNetworkRequest request = m_access->sent().value(0).request;
        QCOMPARE(request.url().toString(QUrl::FullyEncoded), u"https://api.murlex.app/hotwords/"_s + path);
        QVERIFY(!request.header(QNetworkRequest::ContentTypeHeader).isValid());
        QCOMPARE(request.rawHeader("Authorization"), QByteArray("Bearer ") + m_token.toUtf8());
        if (word.isEmpty())
            return; // (the server keeps no empty word to delete)
        QVERIFY(deleted);
        QCOMPARE(m_server.hotWords(u"alice"_s), QStringList{u"keep"_s});
        QCOMPARE(m_server.requestCount("DELETE", u"/hotwords/"_s + path), 1);
        // An absent word is the server's 404.
        QCOMPARE(apiError(finished(client.deleteWord(word))).status, 404);
    }

    void nothingIsSentWithoutAToken()
    {
        const QString unpaired = QChar(0xDC00) + u"a"_s + QChar(0xD800);
        for (const std::optional<QString> &token : {std::optional<QString>(), std::optional<QString>(QString())}) {
            TokenStore::setAccessToken(token);
            HotWordsAPIClient client;
            QCOMPARE(apiError(finished(client.fetch())), APIError::noToken());
            QCOMPARE(apiError(finished(client.add(u"w"_s))), APIError::noToken());
            QCOMPARE(apiError(finished(client.deleteWord(u"w"_s))), APIError::noToken());
            // The URL check of a delete comes first.
            QCOMPARE(apiError(finished(client.deleteWord(unpaired))), APIError::http(400, u"invalid word for URL encode"_s));
        }
        // Signed in, a word that cannot be written as UTF-8 is not sent either; for an add that is
        // an encoding failure, passed through as it is.
        TokenStore::setAccessToken(m_token);
        HotWordsAPIClient client;
        const auto added = finished(client.add(unpaired));
        QVERIFY(!added.hasValue());
        QVERIFY(std::holds_alternative<PlatformError>(added.error()));
        QCOMPARE(apiError(finished(client.deleteWord(unpaired))), APIError::http(400, u"invalid word for URL encode"_s));
        QVERIFY(m_access->sent().isEmpty());
        // An expired token is sent, and refused by the server; the client does not refresh it.
        TokenStore::setAccessToken(m_server.issueTokens(u"alice"_s, 0).access);
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
            const APIError error = apiError(finished(client.add(u"w"_s)));
            QCOMPARE(error.kind, APIError::Kind::network);
            QCOMPARE(error.networkError.code, code);
            QVERIFY(!error.networkError.localizedDescription.isEmpty());
            QCOMPARE(error.localizedDescription(), u"hotwords 网络错误："_s + error.networkError.localizedDescription);
        }
        QVERIFY(m_server.hotWords(u"alice"_s).isEmpty());
    }

    // Answers of any size a server likes are not held: up to the transport's limit an answer is
    // read, beyond it the request fails as a network error that names the limit.
    void answersBeyondTheTransportLimitAreRefused()
    {
        QVERIFY(m_server.setHotWords(u"alice"_s, {u"热词"_s}));
        HotWordsAPIClient client;
        QVERIFY(m_server.setRestFault({.method = "GET", .path = hotwordsPath, .padBytes = NetworkAccess::maxReplyBodyBytes - 1024}));
        QCOMPARE(finished(client.fetch()).value(), QStringList{u"热词"_s});
        QVERIFY(m_server.setRestFault({.method = "GET", .path = hotwordsPath, .padBytes = 64 * 1024 * 1024}));
        const APIError error = apiError(finished(client.fetch()));
        QCOMPARE(error.kind, APIError::Kind::network);
        QCOMPARE(error.networkError.localizedDescription, u"answer larger than %1 bytes"_s.arg(NetworkAccess::maxReplyBodyBytes));
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
        QCOMPARE(timedOut.networkError, (PlatformError{u"QNetworkReply"_s, int(QNetworkReply::TimeoutError), u"Operation timed out"_s}));
        QCOMPARE(timedOut.localizedDescription(), u"hotwords 网络错误：Operation timed out"_s);
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestHotWordsAPIClient)
#include "tst_hotwordsapiclient.moc"
