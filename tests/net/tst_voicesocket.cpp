// test-labels: spine
#include "StandIn.h"
#include "FakeAudioCapture.h"
#include "LogCapture.h"
#include "RedirectingNetworkAccess.h"
#include "SocketEventRecorder.h"
#include "net/VoiceSocket.h"

#include <QFile>
#include <QJsonArray>
#include <QSslKey>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtTest>

#include <atomic>
#include <thread>

using Kind = VoiceSocketEvent::Kind;
using Fault = DevServer::SocketFault;

class TestVoiceSocket : public QObject {
    Q_OBJECT

    StandIn m_standIn;
    DevServer &m_server = m_standIn.server;
    QString m_token;

    QJsonObject lastConnection() { return m_server.socketRecording().last().toObject(); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_standIn.start());
        m_token = m_server.issueTokens(QStringLiteral("alice")).access;
        QVERIFY(!m_token.isEmpty());
    }

    void init()
    {
        QVERIFY(m_standIn.reset());
    }

    void nothingIsSentOrLoggedWithoutAConnection()
    {
        LogCapture log;
        VoiceSocket socket;
        SocketEventRecorder events(socket);
        socket.sendStart({QStringLiteral("x")});
        socket.sendStop();
        socket.sendAudio(FakeAudioCapture::chunk(0));
        socket.disconnect();
        QTest::qWait(50);
        QCOMPARE(log.messages(QStringLiteral("socket")), QStringList{QStringLiteral("disconnect()")});
        QVERIFY(events.events().isEmpty());
    }

    // Frames handed over from another thread while the connection opens are queued, then sent in
    // order right after `connected`, with every later frame behind them; frames before connect()
    // and after disconnect() are dropped; the control messages keep their place among the frames.
    void messagesReachTheServerOnceAndInOrder()
    {
        LogCapture log;
        VoiceSocket socket;
        SocketEventRecorder events(socket);
        socket.sendAudio(FakeAudioCapture::chunk(99)); // before any connect: dropped

        socket.connect(m_token);
        const QString url = QStringLiteral("wss://api.murlex.app/ws?token=") + m_token;
        QCOMPARE(m_standIn.access().requestedUrls(), QList<QUrl>{QUrl(url)});
        QCOMPARE(log.messages(QStringLiteral("socket")),
                 (QStringList{QStringLiteral("connecting to ") + url.left(40) + QStringLiteral("..."),
                              QStringLiteral("URLSession proxy dict (should be all 0): "
                                             "{HTTPEnable = 0; HTTPSEnable = 0; SOCKSEnable = 0;}")}));

        socket.sendStart({QStringLiteral("Murlex"), QStringLiteral("热词")});
        constexpr int frames = 120;
        std::atomic<int> handed{0};
        int handedAtOpen = -1;
        QObject::connect(&socket, &VoiceSocket::events, &socket, [&](const VoiceSocketEvent &event) {
            if (event.kind() == Kind::connected)
                handedAtOpen = handed;
        }, Qt::DirectConnection);
        std::thread capture([&socket, &handed] {
            for (int n = 0; n < frames; ++n) {
                socket.sendAudio(FakeAudioCapture::chunk(n));
                ++handed;
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
        QCOMPARE(log.messages(QStringLiteral("socket"), QtCriticalMsg), QStringList{}); // every send went out
        QVERIFY(log.contains(QStringLiteral("socket"), QtInfoMsg, QStringLiteral("websocket opened")));

        socket.disconnect();
        socket.sendAudio(FakeAudioCapture::chunk(100)); // after disconnect: dropped
        QTRY_COMPARE(lastConnection().value(QStringLiteral("close_code")).toInt(), 1001);

        const QJsonObject connection = lastConnection();
        QCOMPARE(connection.value(QStringLiteral("close_reason")).toString(), QString());
        QCOMPARE(connection.value(QStringLiteral("text_messages")).toArray(),
                 (QJsonArray{QStringLiteral("{\"hotwords\":[\"Murlex\",\"热词\"],\"type\":\"start\"}"),
                             QStringLiteral("{\"type\":\"stop\"}")}));
        QCOMPARE(connection.value(QStringLiteral("frames_outside_dictation")).toInt(), 0);
        const QJsonArray sizes = connection.value(QStringLiteral("dictations")).toArray().at(0)
                                     .toObject().value(QStringLiteral("frame_sizes")).toArray();
        QList<int> received;
        for (const QJsonValue &size : sizes)
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
        const QString unparseable = QStringLiteral("不是 JSON ") + emoji.repeated(100);
        QVERIFY(m_server.setSocketFault({
            .action = Fault::Action::Send,
            .textFrames = {
                QStringLiteral("{\"type\":\"partial\",\"text\":\"你好\",\"extra\":1}"),
                QStringLiteral("{\"type\":\"partial\"}"),
                QStringLiteral("{\"type\":\"final_sentence\",\"text\":7}"),
                QStringLiteral("{\"type\":\"final_sentence\",\"text\":\"一句。\"}"),
                QStringLiteral("{\"type\":\"asr_done\"}"),
                QStringLiteral("{\"type\":\"asr_done\",\"text\":\"a\",\"asr_time\":1.5}"),
                QStringLiteral("{\"type\":\"polish_done\",\"text\":\"p\",\"polish_time\":0.25,\"total_time\":\"x\"}"),
                QStringLiteral("{\"type\":\"error\"}"),
                QStringLiteral("{\"type\":\"error\",\"message\":\"boom\"}"),
                QStringLiteral("{\"type\":\"bogus\"}"),
                QStringLiteral("{\"type\":5}"),
                QStringLiteral("[1,2]"),
                unparseable,
                QStringLiteral("{\"type\":\"partial\",\"text\":\"end\"}"),
            },
            .binaryFrames = {QByteArray("\x00\x01", 2)},
        }));
        VoiceSocket socket;
        SocketEventRecorder events(socket);
        socket.connect(m_token);
        QTRY_VERIFY_WITH_TIMEOUT(events.events().contains(VoiceSocketEvent::partial(QStringLiteral("end"))), 10000);
        QTRY_VERIFY(!log.messages(QStringLiteral("socket"), QtCriticalMsg).filter(QStringLiteral("binary")).isEmpty());

        QCOMPARE(events.events(),
                 (QList<VoiceSocketEvent>{
                     VoiceSocketEvent::connected(),
                     VoiceSocketEvent::partial(QStringLiteral("你好")),
                     VoiceSocketEvent::finalSentence(QStringLiteral("一句。")),
                     VoiceSocketEvent::asrDone(QString(), 0),
                     VoiceSocketEvent::asrDone(QStringLiteral("a"), 1.5),
                     VoiceSocketEvent::polishDone(QStringLiteral("p"), 0.25, 0),
                     VoiceSocketEvent::error(QStringLiteral("unknown")),
                     VoiceSocketEvent::error(QStringLiteral("boom")),
                     VoiceSocketEvent::partial(QStringLiteral("end")),
                 }));
        QCOMPARE(log.messages(QStringLiteral("socket"), QtCriticalMsg),
                 (QStringList{QStringLiteral("unknown message type: bogus"),
                              QStringLiteral("received unparseable string: {\"type\":5}"),
                              QStringLiteral("received unparseable string: [1,2]"),
                              QStringLiteral("received unparseable string: 不是 JSON ") + emoji.repeated(72),
                              QStringLiteral("unexpected binary message from server (server only sends JSON)")}));
        socket.disconnect();
    }

    // The server's close code and reason are published and logged as sent, also where QWebSocket
    // would rewrite them (a reason that is not UTF-8, a code it deems invalid, no code).
    void closeFramesArePublishedAsTheServerSentThem_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("reason");
        QTest::newRow("1008, reason not UTF-8") << QByteArray("\x03\xf0\xc3\x28", 4) << 1008 << QString();
        QTest::newRow("1008, UTF-8 reason") << QByteArray("\x03\xf0") + QStringLiteral("令牌 expired").toUtf8() << 1008
                                            << QStringLiteral("令牌 expired");
        QTest::newRow("code 1005, never to be sent") << QByteArray("\x03\xed" "bye") << 1005 << QStringLiteral("bye");
        QTest::newRow("code 999") << QByteArray("\x03\xe7") << 999 << QString();
        QTest::newRow("no code") << QByteArray() << 1005 << QString();
    }

    void closeFramesArePublishedAsTheServerSentThem()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, code);
        QFETCH(QString, reason);
        LogCapture log;
        QVERIFY(m_server.setSocketFault({.action = Fault::Action::Close, .closePayload = payload}));
        VoiceSocket socket;
        SocketEventRecorder events(socket);
        socket.connect(m_token);
        QTRY_COMPARE_WITH_TIMEOUT(events.events().size(), 2, 10000);
        const std::optional<QString> expected = reason.isEmpty() ? std::nullopt : std::optional<QString>(reason);
        QCOMPARE(events.events(), (QList<VoiceSocketEvent>{VoiceSocketEvent::connected(), VoiceSocketEvent::disconnected(code, expected)}));
        QVERIFY(log.contains(QStringLiteral("socket"), QtInfoMsg,
                             QStringLiteral("websocket closed code=%1 reason=%2").arg(code).arg(expected.value_or(QStringLiteral("nil")))));
        QVERIFY(!socket.isOpen());
        socket.sendAudio(FakeAudioCapture::chunk(0)); // closed but not forgotten: kept until disconnect()
        socket.disconnect();
    }

    // An upgrade the server refuses and a server the client must not trust: one `error` each,
    // never `connected`.
    void connectionsThatCannotBeEstablishedPublishOneError()
    {
        LogCapture log;
        VoiceSocket socket;
        SocketEventRecorder events(socket);
        QVERIFY(m_server.setSocketFault({.action = Fault::Action::Refuse}));
        socket.connect(m_token);
        QTRY_COMPARE_WITH_TIMEOUT(events.kinds(), QList<Kind>{Kind::error}, 10000);
        QCOMPARE(log.messages(QStringLiteral("socket"), QtCriticalMsg).filter(QStringLiteral("receive failed: ")).size(), 1);
        socket.disconnect();

        RedirectingNetworkAccess stranger(m_server.port(),
                                          QSslCertificate::fromPath(QStringLiteral(MURLEX_DEVCERT_DIR "/other-ca.pem")));
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
        QWebSocketServer big(QStringLiteral("big"), QWebSocketServer::SecureMode);
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
            peer->sendTextMessage(QString(int(VoiceSocket::maxIncomingMessageBytes) + 1, QLatin1Char('a')));
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
