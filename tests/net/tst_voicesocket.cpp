// test-labels: spine
#include "StandIn.h"
#include "FakeAudioCapture.h"
#include "LogCapture.h"
#include "RedirectingNetworkAccess.h"
#include "SocketEventRecorder.h"
#include "net/BackendConfig.h"
#include "net/VoiceSocket.h"

#include <QFile>
#include <QJsonArray>
#include <QSslKey>
#include <QUrlQuery>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtTest>

#include <atomic>
#include <thread>

using namespace Qt::Literals::StringLiterals;
using Kind = VoiceSocketEvent::Kind;
using Fault = DevServer::SocketFault;
using Event = VoiceSocketEvent;

class TestVoiceSocket : public QObject {
    Q_OBJECT

    StandIn m_standIn;
    DevServer &m_server = m_standIn.server;
    QString m_token;
    const QString socketLog = u"socket"_s;

    QJsonObject lastConnection() { return m_server.socketRecording().last().toObject(); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_standIn.start());
        m_token = m_server.issueTokens(u"alice"_s).access;
        QVERIFY(!m_token.isEmpty());
    }
    void init() { QVERIFY(m_standIn.reset()); }

    // Frames handed over from another thread while the connection opens are queued, then sent in
    // order right after `connected`, with every later frame behind them; frames and messages before
    // connect() and after disconnect() are dropped; the control messages keep their place among the
    // frames.
    void messagesReachTheServerOnceAndInOrder()
    {
        // (A token that would otherwise split the query comes back whole.)
        const auto odd = BackendConfig::webSocketURL(u"a&b=c+d#e f"_s);
        QVERIFY(odd);
        QCOMPARE(QUrlQuery(*odd).queryItems(QUrl::FullyDecoded), (QList<std::pair<QString, QString>>{{u"token"_s, u"a&b=c+d#e f"_s}}));
        LogCapture log;
        VoiceSocket socket;
        SocketEventRecorder events(socket);
        // Without a connection nothing is sent (the recording below shows), logged or published.
        socket.sendAudio(FakeAudioCapture::chunk(99));
        socket.sendStart({u"x"_s});
        socket.sendStop();
        QTest::qWait(50);
        QVERIFY(log.messages(socketLog).isEmpty() && events.events().isEmpty());
        socket.connect(m_token);
        const QString url = u"wss://api.murlex.app/ws?token="_s + m_token;
        QCOMPARE(m_standIn.access().requestedUrls(), QList<QUrl>{QUrl(url)});
        QCOMPARE(log.messages(socketLog), (QStringList{u"connecting to "_s + url.left(40) + u"..."_s,
                                                       u"URLSession proxy dict (should be all 0): {HTTPEnable = 0; HTTPSEnable = 0; SOCKSEnable = 0;}"_s}));
        socket.sendStart({u"Murlex"_s, u"热词"_s});
        constexpr int frames = 120;
        std::atomic<int> handed{0};
        int handedAtOpen = -1;
        QObject::connect(&socket, &VoiceSocket::events, &socket, [&](const Event &event) {
            if (event.kind() == Kind::connected)
                handedAtOpen = handed;
        }, Qt::DirectConnection);
        std::thread capture([&socket, &handed] {
            for (int n = 0; n < frames; ++n, ++handed) {
                socket.sendAudio(FakeAudioCapture::chunk(n));
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(events.kinds().contains(Kind::connected), 10000);
        capture.join();
        // Some frames were queued before the open and some sent after it.
        QVERIFY2(handedAtOpen > 0 && handedAtOpen < frames, qPrintable(QString::number(handedAtOpen)));
        socket.sendStop();
        QTRY_VERIFY_WITH_TIMEOUT(events.kinds().contains(Kind::polishDone), 10000);
        QVERIFY(events.allOnCreatingThread());
        QCOMPARE(events.kinds().first(), Kind::connected);
        QCOMPARE(log.messages(socketLog, QtCriticalMsg), QStringList{}); // every send went out
        QVERIFY(log.contains(socketLog, QtInfoMsg, u"websocket opened"_s));
        socket.disconnect();
        socket.sendAudio(FakeAudioCapture::chunk(100));
        QTRY_COMPARE(lastConnection()["close_code"_L1].toInt(), 1001);
        const QJsonObject connection = lastConnection();
        QCOMPARE(connection["close_reason"_L1].toString(), QString());
        QCOMPARE(connection["text_messages"_L1].toArray(), (QJsonArray{uR"({"hotwords":["Murlex","热词"],"type":"start"})"_s, uR"({"type":"stop"})"_s}));
        QCOMPARE(connection["frames_outside_dictation"_L1].toInt(), 0);
        QList<int> received;
        for (const QJsonValue &size : connection["dictations"_L1][0]["frame_sizes"_L1].toArray())
            received.append(size.toInt());
        QCOMPARE(received, FakeAudioCapture::chunkSizes(0, frames));
        QVERIFY(!socket.isOpen());
        QTest::qWait(100);
        QVERIFY(!events.kinds().contains(Kind::disconnected)); // our own close publishes nothing
        QCOMPARE(m_server.socketRecording().size(), 1);
    }

    void serverMessagesAreDecodedPerTheProtocolTable()
    {
        LogCapture log;
        // Logged as a prefix of 80 characters: a character outside the BMP is never cut.
        const QString emoji = QString::fromUcs4(U"\U0001F600");
        QVERIFY(m_server.setSocketFault({
            .action = Fault::Action::Send,
            .textFrames = {uR"({"type":"partial","text":"你好","extra":1})"_s, uR"({"type":"partial"})"_s,
                           uR"({"type":"final_sentence","text":7})"_s, uR"({"type":"final_sentence","text":"一句。"})"_s,
                           uR"({"type":"asr_done"})"_s, uR"({"type":"asr_done","text":"a","asr_time":1.5})"_s,
                           uR"({"type":"polish_done","text":"p","polish_time":0.25,"total_time":"x"})"_s,
                           uR"({"type":"error"})"_s, uR"({"type":"error","message":"boom"})"_s, uR"({"type":"bogus"})"_s,
                           uR"({"type":5})"_s, u"[1,2]"_s, u"不是 JSON "_s + emoji.repeated(100), uR"({"type":"partial","text":"end"})"_s},
            .binaryFrames = {QByteArray("\x00\x01", 2)},
        }));
        VoiceSocket socket;
        SocketEventRecorder events(socket);
        socket.connect(m_token);
        QTRY_VERIFY_WITH_TIMEOUT(events.events().contains(Event::partial(u"end"_s)), 10000);
        QTRY_VERIFY(!log.messages(socketLog, QtCriticalMsg).filter(u"binary"_s).isEmpty());
        QCOMPARE(events.events(), (QList<Event>{Event::connected(), Event::partial(u"你好"_s), Event::finalSentence(u"一句。"_s),
                                                Event::asrDone(QString(), 0), Event::asrDone(u"a"_s, 1.5), Event::polishDone(u"p"_s, 0.25, 0),
                                                Event::error(u"unknown"_s), Event::error(u"boom"_s), Event::partial(u"end"_s)}));
        QCOMPARE(log.messages(socketLog, QtCriticalMsg),
                 (QStringList{u"unknown message type: bogus"_s, u"received unparseable string: {\"type\":5}"_s,
                              u"received unparseable string: [1,2]"_s, u"received unparseable string: 不是 JSON "_s + emoji.repeated(72),
                              u"unexpected binary message from server (server only sends JSON)"_s}));
        socket.disconnect();
    }

    // The server's close code and reason are published and logged as sent, also where QWebSocket
    // would rewrite them (a reason that is not UTF-8, a code it deems invalid, no code). A closed
    // socket is kept until disconnect(), then connects again.
    void closeFramesArePublishedAsTheServerSentThem()
    {
        const struct {
            QByteArray payload;
            int code;
            std::optional<QString> reason;
        } closes[] = {{QByteArray("\x03\xf0\xc3\x28", 4), 1008, std::nullopt},
                      {QByteArray("\x03\xf0") + u"令牌 expired"_s.toUtf8(), 1008, u"令牌 expired"_s},
                      {QByteArray("\x03\xed" "bye"), 1005, u"bye"_s}, // a code never to be sent
                      {QByteArray("\x03\xe7"), 999, std::nullopt},
                      {QByteArray(), 1005, std::nullopt}};
        LogCapture log;
        VoiceSocket socket;
        SocketEventRecorder events(socket);
        for (const auto &close : closes) {
            QVERIFY(m_server.setSocketFault({.action = Fault::Action::Close, .closePayload = close.payload}));
            events.clear();
            socket.connect(m_token);
            QTRY_COMPARE_WITH_TIMEOUT(events.events().size(), 2, 10000);
            QCOMPARE(events.events(), (QList<Event>{Event::connected(), Event::disconnected(close.code, close.reason)}));
            QVERIFY(log.contains(socketLog, QtInfoMsg, u"websocket closed code=%1 reason=%2"_s.arg(close.code).arg(close.reason.value_or(u"nil"_s))));
            QVERIFY(!socket.isOpen());
            socket.sendAudio(FakeAudioCapture::chunk(0));
            socket.disconnect();
        }
    }

    // An upgrade the server refuses and a server not to be trusted: one `error` each, never `connected`.
    void connectionsThatCannotBeEstablishedPublishOneError()
    {
        LogCapture log;
        VoiceSocket socket;
        SocketEventRecorder events(socket);
        QVERIFY(m_server.setSocketFault({.action = Fault::Action::Refuse}));
        socket.connect(m_token);
        QTRY_COMPARE_WITH_TIMEOUT(events.kinds(), QList<Kind>{Kind::error}, 10000);
        QCOMPARE(log.messages(socketLog, QtCriticalMsg).filter(u"receive failed: "_s).size(), 1);
        socket.disconnect();
        RedirectingNetworkAccess stranger(m_server.port(), QSslCertificate::fromPath(QStringLiteral(MURLEX_DEVCERT_DIR "/other-ca.pem")));
        const ScopedNetworkAccess elsewhere(&stranger);
        events.clear();
        socket.connect(m_token);
        QTRY_COMPARE_WITH_TIMEOUT(events.kinds(), QList<Kind>{Kind::error}, 10000);
        QTest::qWait(100);
        QCOMPARE(events.kinds(), QList<Kind>{Kind::error});
        socket.disconnect();
    }

    // The stand-in's own frames stay under 1 MiB, so a TLS WebSocket server of the test's own sends
    // the oversized message.
    void oversizedServerMessageIsRefused()
    {
        QWebSocketServer big(u"big"_s, QWebSocketServer::SecureMode);
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificateChain(QSslCertificate::fromPath(QStringLiteral(MURLEX_DEVCERT_DIR "/server.pem")));
        QFile key(QStringLiteral(MURLEX_DEVCERT_DIR "/server.key"));
        QVERIFY(key.open(QIODevice::ReadOnly));
        tls.setPrivateKey(QSslKey(key.readAll(), QSsl::Rsa));
        big.setSslConfiguration(tls);
        QVERIFY(big.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&big, &QWebSocketServer::newConnection, &big, [&big] {
            QWebSocket *peer = big.nextPendingConnection();
            peer->setParent(&big);
            peer->sendTextMessage(QString(int(VoiceSocket::maxIncomingMessageBytes) + 1, u'a'));
        });
        RedirectingNetworkAccess toBig(big.serverPort(), DevServer::caCertificates());
        const ScopedNetworkAccess elsewhere(&toBig);
        VoiceSocket socket;
        SocketEventRecorder events(socket);
        socket.connect(m_token);
        QTRY_COMPARE_WITH_TIMEOUT(events.kinds(), (QList<Kind>{Kind::connected, Kind::disconnected}), 10000);
        QCOMPARE(events.events().at(1).closeCode(), 1009);
        socket.disconnect();
    }
};

QTEST_GUILESS_MAIN(TestVoiceSocket)
#include "tst_voicesocket.moc"
