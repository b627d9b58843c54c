// test-labels: spine
// The start sequence's failures that need no server to answer: the token, the microphone, and a
// connection that is refused outright (nothing listens on the port), with the refresh probe.
#include "LogCapture.h"
#include "RedirectingNetworkAccess.h"
#include "ScopedNetworkAccess.h"
#include "SpineRig.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

using namespace std::chrono_literals;

namespace {
const QString kLoginExpired = QStringLiteral("登录已失效，请重新登录");
const QString kRefused = QStringLiteral("Connection refused");

TokenResult token(const QString &value) { return TokenResult(value); }
TokenResult failure(AuthError error) { return TokenResult(TokenFailure(std::move(error))); }
TokenResult failure(PlatformError error) { return TokenResult(TokenFailure(std::move(error))); }

// A loopback port nothing listens on.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
} // namespace

class TestDictationFailures : public QObject {
    Q_OBJECT

    std::unique_ptr<RedirectingNetworkAccess> m_network;
    std::optional<ScopedNetworkAccess> m_installed;

    // Starts a dictation and waits until the start sequence is over.
    static void startAndSettle(SpineRig &rig)
    {
        rig.controller.toggle();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.controller.isStarting(), 10000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_network = std::make_unique<RedirectingNetworkAccess>(closedPort(), QList<QSslCertificate>{});
        m_installed.emplace(m_network.get());
    }

    void cleanupTestCase() { m_installed.reset(); }

    void tokenFailuresEndInTheirMessages_data()
    {
        QTest::addColumn<TokenResult>("result");
        QTest::addColumn<QString>("message");
        QTest::newRow("no refresh token") << failure(AuthError::noRefreshToken()) << kLoginExpired;
        QTest::newRow("no access token") << failure(AuthError::noAccessToken()) << kLoginExpired;
        QTest::newRow("http") << failure(AuthError::http(500, QStringLiteral("boom")))
                              << QStringLiteral("Token 刷新失败，请检查网络后重试");
        QTest::newRow("decode") << failure(AuthError::decode()) << QStringLiteral("Token 刷新失败，请检查网络后重试");
        QTest::newRow("platform") << failure(PlatformError{QStringLiteral("QNetworkReply"), 2, QStringLiteral("Connection closed")})
                                  << QStringLiteral("Token 刷新失败：Connection closed");
    }

    void tokenFailuresEndInTheirMessages()
    {
        QFETCH(TokenResult, result);
        QFETCH(QString, message);
        LogCapture log;
        SpineRig rig;
        rig.tokens.setValidResults({result});
        rig.tokens.setDelay(50ms);
        QSignalSpy phases(&rig.state, &AppState::phaseChanged);

        rig.controller.toggle();
        QCOMPARE(rig.state.phase(), Phase::idle()); // idle while the token is fetched
        QTRY_COMPARE(rig.state.phase(), Phase::error(message));
        QCOMPARE(phases.count(), 1);
        QCOMPARE(rig.engine.prepareCount(), 0);
        QCOMPARE(log.messages(QStringLiteral("socket")), QStringList{});
        QCOMPARE(log.messages(QStringLiteral("app"), QtCriticalMsg), QStringList{message});
    }

    void microphoneFailureShowsItsDescription()
    {
        SpineRig rig;
        rig.tokens.setValidResults({token(QStringLiteral("t"))});
        rig.engine.setPrepareError(PlatformError{QStringLiteral("Murlex.Audio"), 1, QStringLiteral("麦克风权限被拒绝")});
        startAndSettle(rig);
        QCOMPARE(rig.state.phase(), Phase::error(QStringLiteral("麦克风初始化失败：麦克风权限被拒绝")));
        QCOMPARE(rig.engine.startCount(), 0);
        QCOMPARE(rig.tokens.refreshCount(), 0);
    }

    void toggleIsDecidedByThePhase()
    {
        LogCapture log;
        SpineRig rig;
        for (const Phase &busy : {Phase::finalizing(), Phase::polishing(), Phase::injecting()}) {
            rig.state.setPhase(busy);
            rig.controller.toggle();
            QCOMPARE(rig.state.phase(), busy);
        }
        QCOMPARE(log.messages(QStringLiteral("dictation")),
                 (QStringList{QStringLiteral("ignored toggle: still in finalizing"),
                              QStringLiteral("ignored toggle: still in polishing"),
                              QStringLiteral("ignored toggle: still in injecting")}));

        // A toggle on an error only dismisses it.
        rig.state.setError(QStringLiteral("连接断开，请重试"));
        rig.controller.toggle();
        QCOMPARE(rig.state.phase(), Phase::idle());
        QVERIFY(!rig.controller.isStarting());
        QCOMPARE(rig.tokens.validCount(), 0);
    }

    // Nothing listens: the socket publishes one error. The permanent handler shows it at once,
    // the wait turns it into transport(...), and the refresh probe decides what comes next.
    void refusedConnectionThenRefreshProbe_data()
    {
        QTest::addColumn<TokenResult>("refresh");
        QTest::addColumn<QString>("probeLog");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("signOuts");
        QTest::newRow("probe answered 401") << failure(AuthError::http(401, QStringLiteral("expired")))
                                            << QStringLiteral("refresh probe 401: token 真的失效") << kLoginExpired << 1;
        QTest::newRow("probe answered 500")
            << failure(AuthError::http(500, QStringLiteral("down")))
            << QStringLiteral("refresh probe failed: http(500, \"down\")")
            << QStringLiteral("网络异常，无法连接服务器（Connection refused）") << 0;
        QTest::newRow("probe could not be sent")
            << failure(PlatformError{QStringLiteral("QNetworkReply"), 1, QStringLiteral("Connection refused")})
            << QStringLiteral("refresh probe error: Error Domain=QNetworkReply Code=1 \"Connection refused\"")
            << QStringLiteral("网络异常，无法连接服务器（Connection refused）") << 0;
        QTest::newRow("probe succeeded, retry refused")
            << token(QStringLiteral("fresh")) << QStringLiteral("retry connect also failed: transport(\"Connection refused\")")
            << QStringLiteral("网络异常，无法连接服务器，请重试") << 0;
    }

    void refusedConnectionThenRefreshProbe()
    {
        QFETCH(TokenResult, refresh);
        QFETCH(QString, probeLog);
        QFETCH(QString, message);
        QFETCH(int, signOuts);
        LogCapture log;
        SpineRig rig;
        rig.tokens.setValidResults({token(QStringLiteral("first"))});
        rig.tokens.setRefreshResults({refresh});
        startAndSettle(rig);

        QCOMPARE(rig.state.phase(), Phase::error(message));
        QCOMPARE(rig.tokens.refreshCount(), 1);
        QCOMPARE(rig.tokens.signOutCount(), signOuts);
        QVERIFY2(log.contains(QStringLiteral("dictation"), QtCriticalMsg, probeLog), qPrintable(probeLog));
        QVERIFY(log.contains(QStringLiteral("dictation"), QtInfoMsg, QStringLiteral("connect failed, probing with /auth/refresh once")));
        // The permanent handler saw the same error first; the later message replaced it.
        const QStringList shown = log.messages(QStringLiteral("app"), QtCriticalMsg);
        QCOMPARE(shown.first(), QStringLiteral("服务端错误：Connection refused"));
        QCOMPARE(shown.last(), message);
        QVERIFY(log.contains(QStringLiteral("socket"), QtCriticalMsg,
                             QStringLiteral("receive failed: Error Domain=QAbstractSocket Code=0 \"Connection refused\"")));
        QCOMPARE(rig.engine.startCount(), 0);
        QVERIFY(!rig.state.isConnected());
        QVERIFY(!rig.socket.isOpen());
    }

    void secondToggleWhileStartingIsIgnored()
    {
        LogCapture log;
        SpineRig rig;
        rig.tokens.setValidResults({failure(AuthError::noAccessToken())});
        rig.tokens.setDelay(200ms);
        rig.controller.toggle();
        rig.controller.toggle();
        QVERIFY(log.contains(QStringLiteral("dictation"), QtInfoMsg,
                             QStringLiteral("ignored toggle: a dictation is already starting")));
        QTRY_COMPARE(rig.state.phase(), Phase::error(kLoginExpired));
        QCOMPARE(rig.tokens.validCount(), 1);
        QCOMPARE(log.count(QStringLiteral("dictation"), QtInfoMsg, QStringLiteral("beginDictation()")), 1);
    }
};

QTEST_GUILESS_MAIN(TestDictationFailures)
#include "tst_dictation_failures.moc"
