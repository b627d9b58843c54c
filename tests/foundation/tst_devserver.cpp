// test-labels: foundation
#include "store/JWT.h"

#include "DevServer.h"
#include "PipeSource.h"

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

using namespace Qt::Literals::StringLiterals;

namespace {

struct HttpResult {
    int status = 0;
    QByteArray body;
};

QSslConfiguration trustingTheDevelopmentCa()
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(DevServer::caCertificates());
    return tls;
}

// One request on a fresh connection manager, so no kept-alive connection of another case is reused.
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

// A recognition socket trusting the development CA, with spies on what it receives.
struct Socket {
    QWebSocket socket;
    QSignalSpy connected{&socket, &QWebSocket::connected};
    QSignalSpy disconnected{&socket, &QWebSocket::disconnected};
    QSignalSpy texts{&socket, &QWebSocket::textMessageReceived};

    Socket(quint16 port, const QString &token)
    {
        socket.setProxy(QNetworkProxy::NoProxy);
        socket.setSslConfiguration(trustingTheDevelopmentCa());
        QUrl url(u"wss://127.0.0.1:%1/ws"_s.arg(port));
        url.setQuery(QUrlQuery{{u"token"_s, token}});
        socket.open(url);
    }
    QList<QJsonObject> received(const QString &type) const
    {
        QList<QJsonObject> messages;
        for (const QList<QVariant> &args : texts)
            if (const QJsonObject m = QJsonDocument::fromJson(args.at(0).toString().toUtf8()).object(); m["type"_L1] == type)
                messages.append(m);
        return messages;
    }
    bool closesWith(int code)
    {
        return (disconnected.count() == 1 || disconnected.wait(10000)) && socket.closeCode() == code;
    }
};

} // namespace

class TestDevServer : public QObject {
    Q_OBJECT

    DevServer m_server;
    QUrl url(const QString &path) const { return QUrl(m_server.baseUrl().toString() + path); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }
    void init() { QVERIFY(m_server.reset()); }
    // Exit status 0 after SIGTERM: a clean stop, and under the sanitizers no leak in the server.
    void cleanupTestCase() { QVERIFY(m_server.stop()); }

    // A sign-in issues a token the API takes; the same token with its signature cut it refuses.
    // (Refresh: the auth client's suite; an expired token refused: the hot words client's suite.)
    void signInIssuesATokenTheApiChecks()
    {
        const HttpResult signedIn = send("POST", url(u"/auth/apple"_s), R"({"identity_token":"alice"})");
        QCOMPARE(signedIn.status, 200);
        const QString access = QJsonDocument::fromJson(signedIn.body)["access_token"_L1].toString();
        QCOMPARE(JWT::subject(access), std::optional<QString>(u"alice"_s));
        QCOMPARE(send("GET", url(u"/hotwords"_s), {}, access).status, 200);
        QCOMPARE(send("GET", url(u"/hotwords"_s), {}, access.chopped(2)).status, 401);
    }

    void rejectsBadRequests_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("authorised");
        QTest::addColumn<int>("status");
        QTest::newRow("no bearer") << QByteArray("GET") << u"/hotwords"_s << QByteArray() << false << 401;
        QTest::newRow("not JSON") << QByteArray("POST") << u"/hotwords"_s << QByteArray("word=x") << true << 400;
        QTest::newRow("diagnostics incomplete") << QByteArray("POST") << u"/diagnostics"_s << QByteArray(R"({"platform":"linux","app_version":"1"})") << true << 400;
        QTest::newRow("empty identity token") << QByteArray("POST") << u"/auth/apple"_s << QByteArray(R"({"identity_token":""})") << false << 400;
        QTest::newRow("body over 1 MiB") << QByteArray("POST") << u"/hotwords"_s << QByteArray(R"({"word":")" + QByteArray(1024 * 1024, 'x') + R"("})") << true << 413;
    }
    void rejectsBadRequests()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(bool, authorised);
        QFETCH(int, status);
        QCOMPARE(send(method, url(path), body, authorised ? m_server.issueTokens(u"carol"_s).access : QString()).status, status);
    }

    // Garbage, and a well-formed unexpired token signed with another secret. (Expired: the dictation flow's suite.)
    void socketClosesWithPolicyViolationForABadToken()
    {
        const auto segment = [](const QByteArray &json) { return json.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals); };
        const QString foreign = QString::fromLatin1(segment(R"({"alg":"HS256","typ":"JWT"})") + '.' + segment(R"({"sub":"erin","exp":4102444800})") + ".c2lnbmF0dXJl");
        for (const QString &token : {u"not-a-token"_s, foreign}) {
            Socket client(m_server.port(), token);
            QVERIFY(client.closesWith(QWebSocketProtocol::CloseCodePolicyViolated));
            QVERIFY2(client.socket.closeReason().contains(u"token"_s), qPrintable(client.socket.closeReason()));
        }
    }

    // Dictations in turn on one connection; each text describes only its own audio. (The polished
    // text's form for other tones: the end-to-end suite.)
    void socketDescribesTheAudioOfEachDictation()
    {
        struct Dictation { QStringList hotWords; QByteArray pcm; QString asr; QString polish; };
        const QList<Dictation> dictations{
            {{u"Murlex"_s, u"Qt"_s}, PipeSource::tone(440, 2.0, 0.5, 16000, 1), u"duration=2.00s level=-9.0dBFS freq=440.0Hz"_s,
             u"Duration 2.00 s, level -9.0 dBFS, frequency 440 Hz. Hot words: Murlex, Qt."_s},
            {{}, {}, u"duration=0.00s level=-120.0dBFS freq=0.0Hz"_s, u"Duration 0.00 s, level -120.0 dBFS, frequency 0 Hz."_s},
        };
        Socket client(m_server.port(), m_server.issueTokens(u"frank"_s).access);
        QVERIFY(client.connected.wait(10000));
        for (const Dictation &dictation : dictations) {
            client.texts.clear();
            client.socket.sendTextMessage(QString::fromUtf8(QJsonDocument(QJsonObject{
                {u"type"_s, u"start"_s}, {u"hotwords"_s, QJsonArray::fromStringList(dictation.hotWords)}}).toJson(QJsonDocument::Compact)));
            for (qsizetype at = 0; at < dictation.pcm.size(); at += 3200)
                client.socket.sendBinaryMessage(dictation.pcm.mid(at, 3200));
            client.socket.sendTextMessage(u"{\"type\":\"stop\"}"_s);
            QTRY_COMPARE_WITH_TIMEOUT(client.received(u"polish_done"_s).size(), 1, 10000);
            QCOMPARE(client.received(u"asr_done"_s).size(), 1);
            const QJsonObject asr = client.received(u"asr_done"_s).constFirst();
            const QJsonObject polish = client.received(u"polish_done"_s).constFirst();
            QCOMPARE(asr["text"_L1].toString(), dictation.asr);
            QCOMPARE(polish["text"_L1].toString(), dictation.polish);
            QVERIFY(asr["asr_time"_L1].isDouble() && polish["polish_time"_L1].isDouble() && polish["total_time"_L1].isDouble());
            // Live text while audio flows: one final sentence per whole second, partials in between.
            QCOMPARE(client.received(u"final_sentence"_s).size(), int(dictation.pcm.size() / 32000));
            QCOMPARE(client.received(u"partial"_s).isEmpty(), dictation.pcm.isEmpty());
        }
        QCOMPARE(client.disconnected.count(), 0);
        // The time stamps the benchmarks read, in order. (The rest of the recording: the voice
        // socket's and end-to-end suites.)
        const QJsonObject first = m_server.socketRecording().at(0)["dictations"_L1][0].toObject();
        const qint64 firstFrame = first["first_frame_ns"_L1].toInteger(), stop = first["stop_ns"_L1].toInteger();
        QVERIFY(firstFrame > 0 && stop >= firstFrame && first["polish_done_ns"_L1].toInteger() >= stop);
    }

    // A frame over 1 MiB is refused. (The client suites use every socket fault, and the end-to-end
    // suite's next dictation after a closing fault shows that a fault is used up by its connection.)
    void framesAreBounded()
    {
        Socket client(m_server.port(), m_server.issueTokens(u"hank"_s).access);
        QVERIFY(client.connected.wait(10000));
        client.socket.sendBinaryMessage(QByteArray(1024 * 1024 + 1, '\0'));
        QVERIFY(client.closesWith(QWebSocketProtocol::CloseCodeTooMuchData));
    }
};

QTEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
