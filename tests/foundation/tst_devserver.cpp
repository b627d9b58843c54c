// test-labels: foundation
// The local stand-in's behaviour the client suites rely on without provoking it themselves: real
// token checks and expiry, request bounds, the recogniser text, and faults that apply to the next
// requests only. (Hot word paths and an absent word's 404: see the hot words client's suite.)

#include "store/JWT.h"

#include "DevServer.h"
#include "PipeSource.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTest>
#include <QUrlQuery>
#include <QWebSocket>

#include <memory>

namespace {

struct HttpResult
{
    int status = 0;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

QSslConfiguration trustingTheDevelopmentCa()
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(DevServer::caCertificates());
    return tls;
}

// One request on a fresh connection manager, so no kept-alive connection from another case is reused.
HttpResult send(const QByteArray &method, const QUrl &url, const QByteArray &body = {}, const QString &bearer = {})
{
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(url);
    request.setSslConfiguration(trustingTheDevelopmentCa());
    if (!body.isNull())
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (!bearer.isNull())
        request.setRawHeader("Authorization", "Bearer " + bearer.toLatin1());
    std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(request, method, body));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!finished.wait(10000))
        return {};
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
}

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// A recognition socket to the server, trusting the development CA, with spies on what it receives.
struct Socket
{
    QWebSocket socket;
    QSignalSpy connected{&socket, &QWebSocket::connected};
    QSignalSpy disconnected{&socket, &QWebSocket::disconnected};
    QSignalSpy texts{&socket, &QWebSocket::textMessageReceived};

    Socket(quint16 port, const QString &token)
    {
        socket.setProxy(QNetworkProxy::NoProxy);
        socket.setSslConfiguration(trustingTheDevelopmentCa());
        QUrl url(QStringLiteral("wss://127.0.0.1:%1/ws").arg(port));
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("token"), token);
        url.setQuery(query);
        socket.open(url);
    }

    // The server's messages of one type, in order.
    QList<QJsonObject> received(const QString &type) const
    {
        QList<QJsonObject> messages;
        for (const QList<QVariant> &args : texts) {
            const QJsonObject message = QJsonDocument::fromJson(args.at(0).toString().toUtf8()).object();
            if (message.value(QStringLiteral("type")).toString() == type)
                messages.append(message);
        }
        return messages;
    }
};

} // namespace

class TestDevServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }
    void init() { QVERIFY(m_server.reset()); }
    // Exit status 0 after SIGTERM: a clean stop, and under the sanitizers no leak in the server.
    void cleanupTestCase() { QVERIFY(m_server.stop()); }

    // Refresh is exercised by the auth client's suite.
    void signInAndTokenExpiry()
    {
        const QUrl base = m_server.baseUrl();
        const QUrl apple = base.resolved(QUrl(QStringLiteral("/auth/apple")));
        const QUrl hotwords = base.resolved(QUrl(QStringLiteral("/hotwords")));

        const HttpResult first = send("POST", apple, json({{QStringLiteral("identity_token"), QStringLiteral("alice")}}));
        QCOMPARE(first.status, 200);
        QCOMPARE(first.json().value(QStringLiteral("is_new_user")), QJsonValue(true));
        const QString access = first.json().value(QStringLiteral("access_token")).toString();
        QCOMPARE(JWT::subject(access), std::optional<QString>(QStringLiteral("alice")));
        const qint64 untilExpiry = QDateTime::currentDateTime().secsTo(JWT::expiry(access).value_or(QDateTime()));
        QVERIFY2(untilExpiry > 3590 && untilExpiry <= 3600, qPrintable(QString::number(untilExpiry)));

        const HttpResult again = send("POST", apple, json({{QStringLiteral("identity_token"), QStringLiteral("alice")}}));
        QCOMPARE(again.json().value(QStringLiteral("is_new_user")), QJsonValue(false));

        QCOMPARE(send("GET", hotwords, {}, access).status, 200);
        QCOMPARE(send("GET", hotwords, {}, access.chopped(2)).status, 401);

        // Valid for more than one second and at most two: accepted now, refused once it has passed.
        const DevServer::Tokens shortLived = m_server.issueTokens(QStringLiteral("bob"), 2);
        QCOMPARE(send("GET", hotwords, {}, shortLived.access).status, 200);
        QTRY_COMPARE_WITH_TIMEOUT(send("GET", hotwords, {}, shortLived.access).status, 401, 5000);
    }

    void rejectsBadRequests_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("authorised");
        QTest::addColumn<int>("status");
        QTest::newRow("no bearer") << QByteArray("GET") << "/hotwords" << QByteArray() << false << 401;
        QTest::newRow("not JSON") << QByteArray("POST") << "/hotwords" << QByteArray("word=x") << true << 400;
        QTest::newRow("diagnostics incomplete") << QByteArray("POST") << "/diagnostics"
                                                << QByteArray(R"({"platform":"linux","app_version":"1"})") << true << 400;
        QTest::newRow("empty identity token") << QByteArray("POST") << "/auth/apple" << QByteArray(R"({"identity_token":""})")
                                              << false << 400;
        QTest::newRow("body over 1 MiB") << QByteArray("POST") << "/hotwords"
                                         << QByteArray(R"({"word":")" + QByteArray(1024 * 1024, 'x') + R"("})") << true << 413;
    }

    void rejectsBadRequests()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(bool, authorised);
        QFETCH(int, status);
        const QString bearer = authorised ? m_server.issueTokens(QStringLiteral("carol")).access : QString();
        QCOMPARE(send(method, QUrl(m_server.baseUrl().toString() + path), body, bearer).status, status);
    }

    void socketClosesWithPolicyViolationForABadToken_data()
    {
        QTest::addColumn<QString>("token");
        QTest::newRow("garbage") << QStringLiteral("not-a-token");
        // (An expired token: see the dictation flow's suite.)
        QTest::newRow("foreign signature") << [] {
            // A well-formed, unexpired token signed with some other secret.
            const QByteArray head = QByteArray(R"({"alg":"HS256","typ":"JWT"})").toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
            const QByteArray body = QByteArray(R"({"sub":"erin","exp":4102444800})").toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
            return QString::fromLatin1(head + '.' + body + ".c2lnbmF0dXJl");
        }();
    }

    void socketClosesWithPolicyViolationForABadToken()
    {
        QFETCH(QString, token);
        Socket client(m_server.port(), token);
        QVERIFY(client.disconnected.wait(10000) || client.disconnected.count() == 1);
        QCOMPARE(client.socket.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
        QVERIFY2(client.socket.closeReason().contains(QStringLiteral("token")), qPrintable(client.socket.closeReason()));
    }

    // Several dictations in turn on one connection; each text describes only its own audio.
    void socketDescribesTheAudioOfEachDictation()
    {
        struct Dictation
        {
            QStringList hotWords;
            QByteArray pcm;
            QString asr;
            QString polish;
        };
        const QList<Dictation> dictations{
            {{QStringLiteral("Murlex"), QStringLiteral("Qt")}, PipeSource::tone(440, 2.0, 0.5, 16000, 1),
             QStringLiteral("duration=2.00s level=-9.0dBFS freq=440.0Hz"),
             QStringLiteral("Duration 2.00 s, level -9.0 dBFS, frequency 440 Hz. Hot words: Murlex, Qt.")},
            {{}, PipeSource::tone(1234.5, 0.5, 0.1, 16000, 1), QStringLiteral("duration=0.50s level=-23.0dBFS freq=1234.5Hz"),
             QStringLiteral("Duration 0.50 s, level -23.0 dBFS, frequency 1235 Hz.")},
            {{}, {}, QStringLiteral("duration=0.00s level=-120.0dBFS freq=0.0Hz"),
             QStringLiteral("Duration 0.00 s, level -120.0 dBFS, frequency 0 Hz.")},
        };

        Socket client(m_server.port(), m_server.issueTokens(QStringLiteral("frank")).access);
        QVERIFY(client.connected.wait(10000));
        for (const Dictation &dictation : dictations) {
            client.texts.clear();
            client.socket.sendTextMessage(QString::fromUtf8(json(
                {{QStringLiteral("type"), QStringLiteral("start")},
                 {QStringLiteral("hotwords"), QJsonArray::fromStringList(dictation.hotWords)}})));
            for (qsizetype at = 0; at < dictation.pcm.size(); at += 3200)
                client.socket.sendBinaryMessage(dictation.pcm.mid(at, 3200));
            client.socket.sendTextMessage(QStringLiteral(R"({"type":"stop"})"));
            QTRY_COMPARE_WITH_TIMEOUT(client.received(QStringLiteral("polish_done")).size(), 1, 10000);

            QCOMPARE(client.received(QStringLiteral("asr_done")).size(), 1);
            const QJsonObject asr = client.received(QStringLiteral("asr_done")).constFirst();
            const QJsonObject polish = client.received(QStringLiteral("polish_done")).constFirst();
            QCOMPARE(asr.value(QStringLiteral("text")).toString(), dictation.asr);
            QCOMPARE(polish.value(QStringLiteral("text")).toString(), dictation.polish);
            QVERIFY(asr.value(QStringLiteral("asr_time")).isDouble() && polish.value(QStringLiteral("polish_time")).isDouble()
                    && polish.value(QStringLiteral("total_time")).isDouble());
            // Live text while audio flows: one final sentence per whole second, partials in between.
            QCOMPARE(client.received(QStringLiteral("final_sentence")).size(), int(dictation.pcm.size() / 32000));
            QCOMPARE(client.received(QStringLiteral("partial")).isEmpty(), dictation.pcm.size() < 3200);
        }
        QCOMPARE(client.disconnected.count(), 0);

        // (The subject, hot words and messages recorded: see the voice socket's and end-to-end suites.)
        const QJsonArray recording = m_server.socketRecording();
        QCOMPARE(recording.size(), 1);
        const QJsonArray recorded = recording.at(0).toObject().value(QStringLiteral("dictations")).toArray();
        QCOMPARE(recorded.size(), dictations.size());
        const QJsonObject first = recorded.at(0).toObject();
        QCOMPARE(first.value(QStringLiteral("frames")).toInt(), 20);
        QCOMPARE(first.value(QStringLiteral("bytes")).toInteger(), 64000);
        const qint64 firstFrame = first.value(QStringLiteral("first_frame_ns")).toInteger();
        const qint64 stop = first.value(QStringLiteral("stop_ns")).toInteger();
        QVERIFY(firstFrame > 0 && stop >= firstFrame && first.value(QStringLiteral("polish_done_ns")).toInteger() >= stop);
        QCOMPARE(recorded.at(2).toObject().value(QStringLiteral("first_frame_ns")).toInteger(), 0);
    }

    void restFaultsApplyToTheNextRequestsOnly()
    {
        const QString access = m_server.issueTokens(QStringLiteral("gina")).access;
        const QUrl hotwords = m_server.baseUrl().resolved(QUrl(QStringLiteral("/hotwords")));
        QVERIFY(m_server.setRestFault({.method = "GET", .path = QStringLiteral("/hot"), .status = 503,
                                       .body = "busy", .count = 2}));
        QVERIFY(m_server.setRestFault({.method = "POST", .path = QStringLiteral("/hotwords"), .delayMs = 400}));

        for (int i = 0; i < 2; ++i) {
            const HttpResult faulted = send("GET", hotwords, {}, access);
            QCOMPARE(faulted.status, 503);
            QCOMPARE(faulted.body, QByteArray("busy"));
        }
        QCOMPARE(send("GET", hotwords, {}, access).status, 200);
        QCOMPARE(m_server.requestCount("GET", QStringLiteral("/hotwords")), 3);

        QElapsedTimer clock;
        clock.start();
        const HttpResult delayed = send("POST", hotwords, json({{QStringLiteral("word"), QStringLiteral("late")}}), access);
        QCOMPARE(delayed.status, 201);
        QVERIFY2(clock.elapsed() >= 380, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(m_server.hotWords(QStringLiteral("gina")), QStringList{QStringLiteral("late")});
    }

    // The client suites use every socket fault; here only that one is used up by the connection it
    // applies to, and that a frame over 1 MiB is refused.
    void socketFaultsApplyOnceAndFramesAreBounded()
    {
        const QString access = m_server.issueTokens(QStringLiteral("hank")).access;
        QVERIFY(m_server.setSocketFault({.action = DevServer::SocketFault::Action::Close,
                                         .when = DevServer::SocketFault::When::Start,
                                         .closeCode = 4001, .closeReason = QStringLiteral("bye")}));
        Socket client(m_server.port(), access);
        QVERIFY(client.connected.wait(10000));
        client.socket.sendTextMessage(QStringLiteral(R"({"type":"start","hotwords":[]})"));
        QVERIFY(client.disconnected.wait(10000));
        QCOMPARE(int(client.socket.closeCode()), 4001);
        QCOMPARE(client.socket.closeReason(), QStringLiteral("bye"));

        Socket healthy(m_server.port(), access);
        QVERIFY(healthy.connected.wait(10000));
        healthy.socket.sendBinaryMessage(QByteArray(1024 * 1024 + 1, '\0'));
        QVERIFY(healthy.disconnected.wait(10000));
        QCOMPARE(healthy.socket.closeCode(), QWebSocketProtocol::CloseCodeTooMuchData);
        QCOMPARE(m_server.socketRecording().size(), 2);
    }

private:
    DevServer m_server;
};

QTEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
