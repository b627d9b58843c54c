// test-labels: spine
// The application's state and how it builds the dictation; whole dictations through the real
// socket against the stand-in over TLS, and the start sequence's failures: the token, the
// microphone, and a connection refused outright.
#include "LogCapture.h"
#include "SpineRig.h"
#include "StandIn.h"

#include <QJsonArray>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include <thread>

using namespace std::chrono_literals;
using Fault = DevServer::SocketFault;

namespace {
const QString kLoginExpired = QStringLiteral("登录已失效，请重新登录");
const QString kTokenRejected = QStringLiteral("Token 失效，请重新登录");
const QString kDropped = QStringLiteral("连接断开，请重试");
const QString kDeviceChanged = QStringLiteral("音频设备已切换,请重新开始录音");
const QString kWatchdog = QStringLiteral("处理超时,请重试(检查麦克风是否切换到了无效设备)");
const QString kWatchdogLog = QStringLiteral("endDictation watchdog fired: phase still finalizing,给 setError 脱困");
const DictationController::Timing kShort{1500ms, 1500ms};

QList<Phase> phases(const QSignalSpy &spy)
{
    QList<Phase> out;
    for (const QList<QVariant> &args : spy)
        out.append(args.at(0).value<Phase>());
    return out;
}

TokenResult token(const QString &value) { return TokenResult(value); }
TokenResult failure(AuthError error) { return TokenResult(TokenFailure(std::move(error))); }
TokenResult failure(PlatformError error) { return TokenResult(TokenFailure(std::move(error))); }
TokenResult refreshFailure() { return failure(AuthError::http(503, QStringLiteral("down"))); }

// A loopback peer that accepts connections and never answers, not even the TLS handshake: a
// connection to it neither opens nor fails. Accepted connections wait in it, open.
struct SilentPeer : QTcpServer {
    SilentPeer() { listen(QHostAddress::LocalHost, 0); }
};

// Every connection goes to a silent peer until `scope` is reset.
struct SilentNetwork {
    SilentPeer peer;
    RedirectingNetworkAccess access{peer.serverPort(), DevServer::caCertificates()};
    std::optional<ScopedNetworkAccess> scope{std::in_place, &access};
};

// A loopback port nothing listens on.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

class TestDictationFlow : public QObject {
    Q_OBJECT

    StandIn m_standIn;
    DevServer &m_server = m_standIn.server;
    QString m_access;
    QTemporaryDir m_dir;
    int m_settingsCount = 0;

    AppState::Options options()
    {
        AppState::Options o;
        o.settingsPath = m_dir.filePath(QStringLiteral("settings-%1.ini").arg(++m_settingsCount));
        return o;
    }

    QJsonObject connection(int index) { return m_server.socketRecording().at(index).toObject(); }

    // Starts a dictation and lets a few chunks flow.
    static void record(SpineRig &rig)
    {
        rig.controller.toggle();
        QTRY_COMPARE_WITH_TIMEOUT(rig.state.phase(), Phase::recording(), 10000);
        QTRY_VERIFY(rig.engine.deliveredSizes().size() >= 5);
    }

    // Starts a dictation and waits until the start sequence is over.
    static void startAndSettle(SpineRig &rig)
    {
        rig.controller.toggle();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.controller.isStarting(), 10000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_standIn.start());
        m_access = m_server.issueTokens(QStringLiteral("alice")).access;
        QVERIFY(!m_access.isEmpty());
    }
    void init() { QVERIFY(m_standIn.reset()); }

    void errorIsLoggedShownAndClearedByItsOwnReset()
    {
        LogCapture log;
        QList<std::pair<std::chrono::milliseconds, std::function<void()>>> resets;
        AppState::Options o = options();
        o.schedule = [&resets](std::chrono::milliseconds delay, std::function<void()> action) {
            resets.append({delay, std::move(action)});
        };
        AppState state(o);
        state.setError(QStringLiteral("first"));
        QCOMPARE(state.phase(), Phase::error(QStringLiteral("first")));
        QVERIFY(state.phase() != Phase::error(QStringLiteral("second")) && Phase::error(QString()) != Phase::idle());
        QCOMPARE(log.messages(QStringLiteral("app"), QtCriticalMsg), QStringList{QStringLiteral("first")});
        // The real display time: three seconds.
        QCOMPARE(resets.size(), 1);
        QCOMPARE(resets.first().first, std::chrono::milliseconds(3000));

        // A newer error only gets what is left of the older one's time: the first reset clears it.
        state.setError(QStringLiteral("second"));
        QCOMPARE(state.phase(), Phase::error(QStringLiteral("second")));
        resets.at(0).second();
        QCOMPARE(state.phase(), Phase::idle());

        // A reset replaces only an error phase: a dictation started meanwhile stays.
        state.setError(QStringLiteral("third"));
        state.setPhase(Phase::recording());
        resets.at(1).second();
        resets.at(2).second();
        QCOMPARE(state.phase(), Phase::recording());

        // A device change reported from the capture thread shows its message in any phase.
        state.setPhase(Phase::finalizing());
        std::thread([&state] { state.audioDeviceChangedDuringCapture(); }).join();
        QTRY_COMPARE(state.phase(), Phase::error(kDeviceChanged));
    }

    void bootstrapRunsOnceOnTheEventLoopAndPersistsDebugModeOnlyOnChange()
    {
        LogCapture log;
        const AppState::Options o = options();
        {
            AppState state(o);
            QVERIFY(!state.debugMode()); // no key yet
            QVERIFY(log.messages(QStringLiteral("app")).isEmpty()); // not during construction
            QTRY_COMPARE(log.count(QStringLiteral("app"), QtInfoMsg, QStringLiteral("MurlexMac bootstrapping")), 1);

            QSignalSpy changed(&state, &AppState::debugModeChanged);
            state.setDebugMode(false); // no change: nothing written
            QVERIFY(!QSettings(o.settingsPath, QSettings::IniFormat).contains(QStringLiteral("debugMode")));
            state.setDebugMode(true); // written at once (the menu's switch follows it into the file both ways)
            QCOMPARE(changed.count(), 1);
        }
        AppState reopened(o);
        QVERIFY(reopened.debugMode());
        QTRY_COMPARE(log.count(QStringLiteral("app"), QtInfoMsg, QStringLiteral("MurlexMac bootstrapping")), 2);
    }

    void componentsAreBuiltOnFirstUseAndNeverReplaced()
    {
        LogCapture log;
        AppState state(options());
        int engines = 0, injectors = 0, providers = 0, stores = 0;
        FakeAudioCapture *engine = nullptr;
        QVERIFY(state.installComponents({
            [&] { ++engines; auto e = std::make_unique<FakeAudioCapture>(); engine = e.get(); return e; },
            [&] { ++injectors; return std::make_unique<RecordingTextInjection>(); },
            [&] { ++providers; return std::make_unique<FakeAccessTokenProvider>(); }, // no token stored
            [&] { ++stores; return std::make_unique<FakeHotWordsSource>(); },
        }));
        // Bootstrapped, and still nothing built.
        QTRY_COMPARE(log.count(QStringLiteral("app"), QtInfoMsg, QStringLiteral("MurlexMac bootstrapping")), 1);
        QVERIFY(!state.hasDictation());
        QCOMPARE(engines + injectors + providers + stores, 0);

        // The global shortcut fires on its own thread: the first press builds the controller.
        std::thread([&state] { state.requestToggle(); }).join();
        QTRY_VERIFY(state.hasDictation());
        QTRY_COMPARE(state.phase(), Phase::error(kLoginExpired));
        QCOMPARE(engine->prepareCount(), 0); // stopped at the token
        QCOMPARE(log.count(QStringLiteral("dictation"), QtInfoMsg, QStringLiteral("beginDictation()")), 1);

        DictationController *controller = &state.dictation();
        // The real lengths (the flow suites shorten them): eight seconds for the connection to
        // open, fifteen for the polished text after the stop.
        QCOMPARE(controller->timing().connectionWait, std::chrono::milliseconds(8000));
        QCOMPARE(controller->timing().watchdog, std::chrono::milliseconds(15000));
        VoiceSocket *socket = &state.voiceSocket();
        state.requestToggle(); // dismisses the error
        QTRY_COMPARE(state.phase(), Phase::idle());
        QCOMPARE(&state.dictation(), controller);
        QCOMPARE(&state.voiceSocket(), socket);
        QCOMPARE(&state.audioEngine(), static_cast<AudioCapture *>(engine));
        QCOMPARE((QList<int>{engines, injectors, providers, stores}), (QList<int>{1, 1, 1, 1}));

        QVERIFY(!state.installComponents({}));
        QCOMPARE(&state.audioEngine(), static_cast<AudioCapture *>(engine));
    }

    void fullDictationLeavesTheConnectionOpen()
    {
        LogCapture log;
        SpineRig rig(kShort);
        rig.tokens.setValidResults({token(m_access)});
        rig.hotWords.setWords({QStringLiteral("Murlex"), QStringLiteral("热词")});
        QSignalSpy phaseSpy(&rig.state, &AppState::phaseChanged);

        record(rig);
        QTRY_VERIFY(rig.state.isConnected());
        QCOMPARE(rig.hotWords.flushCount(), 1);
        QTRY_VERIFY(rig.state.partialText().startsWith(QLatin1String("duration=")));
        rig.controller.toggle();
        QTRY_COMPARE_WITH_TIMEOUT(rig.injector.injected().size(), 1, 10000);
        QTRY_COMPARE(rig.state.phase(), Phase::idle());

        const QJsonObject seen = connection(0);
        const QJsonObject dictation = seen.value(QStringLiteral("dictations")).toArray().at(0).toObject();
        const QString polished = dictation.value(QStringLiteral("polish_text")).toString();
        QVERIFY2(polished.endsWith(QStringLiteral(" Hot words: Murlex, 热词.")), qPrintable(polished));
        QCOMPARE(rig.injector.injected(), QStringList{polished});
        QCOMPARE(rig.state.lastInjectedText(), polished);
        QCOMPARE(rig.state.partialText(), QString());
        QCOMPARE(phases(phaseSpy), (QList<Phase>{Phase::recording(), Phase::finalizing(), Phase::polishing(),
                                                 Phase::injecting(), Phase::idle()}));
        // Every chunk, the short last one included, arrived once, in order, before the stop.
        QList<int> frameSizes;
        for (const QJsonValue &size : dictation.value(QStringLiteral("frame_sizes")).toArray())
            frameSizes.append(size.toInt());
        QCOMPARE(frameSizes, rig.engine.deliveredSizes());
        QCOMPARE(rig.engine.deliveredSizes().last(), int(FakeAudioCapture::lastChunkBytes));
        QVERIFY(!rig.engine.isCapturing());

        const QStringList lines = log.messages(QStringLiteral("dictation"));
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines.mid(0, 3), (QStringList{QStringLiteral("beginDictation()"), QStringLiteral("socket connected"),
                                               QStringLiteral("endDictation()")}));
        QVERIFY2(lines.at(3).startsWith(QLatin1String("asr_done in ")), qPrintable(lines.at(3)));
        QVERIFY2(lines.at(4).startsWith(QLatin1String("polish_done in ")) && lines.at(4).endsWith(QStringLiteral("s: ") + polished), qPrintable(lines.at(4)));
        QVERIFY(log.messages(QStringLiteral("app"), QtCriticalMsg).isEmpty());

        // The connection stays for the next dictation (which reuses it: lateAnswerDuringTheNextDictation).
        QVERIFY(rig.socket.isOpen());
        QVERIFY(rig.state.isConnected());
    }

    // The first attempt goes to a peer that never answers; the network is back for the refresh.
    void timeoutThenRefreshProbe_data()
    {
        QTest::addColumn<bool>("refreshSucceeds");
        QTest::newRow("retry succeeds") << true;
        QTest::newRow("refresh fails") << false;
    }

    void timeoutThenRefreshProbe()
    {
        QFETCH(bool, refreshSucceeds);
        LogCapture log;
        SilentNetwork silent;
        SpineRig rig({500ms, 1500ms});
        const QString fresh = m_server.issueTokens(QStringLiteral("alice")).access;
        rig.tokens.setValidResults({token(m_access)});
        rig.tokens.setRefreshResults({refreshSucceeds ? token(fresh) : refreshFailure()});
        rig.tokens.setOnRefresh([&silent] { silent.scope.reset(); });

        rig.controller.toggle();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.controller.isStarting(), 10000);
        QVERIFY(silent.peer.nextPendingConnection() && !silent.peer.hasPendingConnections()); // one attempt
        QVERIFY(log.contains(QStringLiteral("dictation"), QtInfoMsg, QStringLiteral("connect failed, probing with /auth/refresh once")));
        if (refreshSucceeds) {
            QCOMPARE(rig.state.phase(), Phase::recording());
            QVERIFY(log.contains(QStringLiteral("dictation"), QtInfoMsg, QStringLiteral("refresh probe succeeded, retrying connect")));
            QVERIFY(log.messages(QStringLiteral("app"), QtCriticalMsg).isEmpty()); // no message at all
            QCOMPARE(m_standIn.access().requestedUrls().last(), QUrl(QStringLiteral("wss://api.murlex.app/ws?token=") + fresh));
            rig.controller.toggle();
            QTRY_COMPARE_WITH_TIMEOUT(rig.injector.injected().size(), 1, 10000);
        } else {
            QCOMPARE(rig.state.phase(), Phase::error(QStringLiteral("连接超时，请检查网络后重试")));
            QVERIFY(log.contains(QStringLiteral("dictation"), QtCriticalMsg, QStringLiteral("refresh probe failed: http(503, \"down\")")));
        }
    }

    // Closes before the open, published on the real socket's channel while it connects to a peer
    // that never answers (the stand-in cannot close a connection before opening it). A refused
    // upgrade is a transport error like a refused connection (see refusedConnectionThenRefreshProbe).
    void closesBeforeTheOpen_data()
    {
        QTest::addColumn<VoiceSocketEvent>("injected");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("refreshes");
        QTest::newRow("1008 without reason") << VoiceSocketEvent::disconnected(1008, std::nullopt) << kLoginExpired << 0;
        QTest::newRow("reason with TOKEN") << VoiceSocketEvent::disconnected(4000, QStringLiteral("TOKEN revoked")) << kLoginExpired << 0;
        QTest::newRow("other close") << VoiceSocketEvent::disconnected(4000, QStringLiteral("maintenance"))
                                     << QStringLiteral("无法连接服务器，请重试") << 1;
    }

    void closesBeforeTheOpen()
    {
        QFETCH(VoiceSocketEvent, injected);
        QFETCH(QString, message);
        QFETCH(int, refreshes);
        LogCapture log;
        SilentNetwork silent;
        SpineRig rig(kShort);
        rig.tokens.setValidResults({token(m_access)});
        rig.tokens.setRefreshResults({refreshFailure()});

        rig.controller.toggle();
        QTRY_VERIFY(!log.messages(QStringLiteral("socket")).filter(QStringLiteral("connecting to")).isEmpty());
        Q_EMIT rig.socket.events(injected);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.controller.isStarting(), 10000);
        silent.scope.reset();

        QCOMPARE(rig.state.phase(), Phase::error(message));
        QCOMPARE(rig.tokens.refreshCount(), refreshes);
        QCOMPARE(log.contains(QStringLiteral("dictation"), QtCriticalMsg, QStringLiteral("waitForConnection: token 失效，需重新登录")),
                 refreshes == 0);
        QCOMPARE(rig.engine.startCount(), 0);
    }

    // Closes after the open reach the permanent handler, whose "token" match is case-sensitive;
    // the recording it started is stopped and the connection forgotten, so the next dictation
    // (the message dismissed) connects again.
    void closesAfterTheOpen()
    {
        const struct {
            int code; // 0: none set, the server's own close for an expired token
            QString reason;
            QString message;
        } closes[] = {{4000, QStringLiteral("TOKEN revoked"), kDropped},
                      {4000, QStringLiteral("token revoked"), kTokenRejected},
                      {1008, QString(), kTokenRejected},
                      {0, QString(), kTokenRejected}};
        SpineRig rig(kShort, 60s); // no message goes by itself meanwhile
        for (const auto &close : closes) {
            if (close.code)
                QVERIFY(m_server.setSocketFault({.action = Fault::Action::Close, .when = Fault::When::Start,
                                                 .closeCode = close.code, .closeReason = close.reason}));
            rig.tokens.setValidResults({token(close.code ? m_access : m_server.issueTokens(QStringLiteral("bob"), 0).access)});
            rig.controller.toggle();
            QTRY_COMPARE_WITH_TIMEOUT(rig.state.phase(), Phase::error(close.message), 10000);
            QVERIFY(!rig.state.isConnected());
            QVERIFY(!rig.socket.isOpen());
            QVERIFY(!rig.engine.isCapturing()); // the microphone is not held for a dead dictation
            rig.controller.toggle();
            QCOMPARE(rig.state.phase(), Phase::idle());
        }
        QCOMPARE(m_server.socketRecording().size(), 4);
    }

    void watchdog_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("watchdogMs");
        QTest::addColumn<QList<Phase>>("after");
        QTest::newRow("fires") << Fault{.action = Fault::Action::NoFinal} << 500
                               << QList<Phase>{Phase::finalizing(), Phase::error(kWatchdog)};
        QTest::newRow("late events still land") << Fault{.action = Fault::Action::DelayFinal, .delayMs = 1200} << 400
                                                << QList<Phase>{Phase::finalizing(), Phase::error(kWatchdog), Phase::polishing(),
                                                                Phase::injecting(), Phase::idle()};
    }

    void watchdog()
    {
        QFETCH(Fault, fault);
        QFETCH(int, watchdogMs);
        QFETCH(QList<Phase>, after);
        LogCapture log;
        QVERIFY(m_server.setSocketFault(fault));
        SpineRig rig({1500ms, std::chrono::milliseconds(watchdogMs)}, 10s);
        rig.tokens.setValidResults({token(m_access)});
        record(rig);
        QSignalSpy phaseSpy(&rig.state, &AppState::phaseChanged);
        rig.controller.toggle();
        QTRY_COMPARE_WITH_TIMEOUT(phases(phaseSpy), after, 10000);
        QCOMPARE(log.count(QStringLiteral("dictation"), QtCriticalMsg, kWatchdogLog), after.contains(Phase::error(kWatchdog)) ? 1 : 0);
        QCOMPARE(rig.injector.injected().size(), after.last() == Phase::idle() ? 1 : 0);
    }

    // Dictation 1's answer comes after its watchdog, while dictation 2 (started as the message
    // asks) records or has just stopped on the same connection: it is dropped, and dictation 2
    // goes on undisturbed to its own answer.
    void lateAnswerDuringTheNextDictation_data()
    {
        QTest::addColumn<bool>("whileRecording");
        QTest::newRow("while dictation 2 records") << true;
        QTest::newRow("after dictation 2 stopped") << false;
    }

    void lateAnswerDuringTheNextDictation()
    {
        QFETCH(bool, whileRecording);
        LogCapture log;
        QVERIFY(m_server.setSocketFault({.action = Fault::Action::DelayFinal, .delayMs = 3500, .stops = 1}));
        SpineRig rig({1500ms, 2000ms}, 10s);
        rig.tokens.setValidResults({token(m_access)});
        record(rig);
        rig.controller.toggle();
        QTRY_COMPARE_WITH_TIMEOUT(rig.state.phase(), Phase::error(kWatchdog), 5000);
        rig.controller.toggle(); // dismissed

        QSignalSpy phaseSpy(&rig.state, &AppState::phaseChanged);
        const qsizetype chunksBefore = rig.engine.deliveredSizes().size();
        rig.controller.toggle();
        QTRY_COMPARE(rig.state.phase(), Phase::recording());
        QTRY_VERIFY(rig.engine.deliveredSizes().size() >= chunksBefore + 5);
        const auto dropped = [&log] {
            return log.messages(QStringLiteral("dictation")).filter(QStringLiteral("dropped polish_done")).size();
        };
        if (whileRecording) {
            QTRY_COMPARE_WITH_TIMEOUT(dropped(), 1, 5000);
            QCOMPARE(rig.state.phase(), Phase::recording());
            QVERIFY(rig.engine.isCapturing());
            QTRY_VERIFY(rig.state.partialText().startsWith(QLatin1String("duration=")));
        }
        rig.controller.toggle();
        QTRY_COMPARE_WITH_TIMEOUT(rig.injector.injected().size(), 1, 5000);
        QTRY_COMPARE(rig.state.phase(), Phase::idle());

        const QJsonArray dictations = connection(0).value(QStringLiteral("dictations")).toArray();
        QCOMPARE(dictations.size(), 2);
        const QString first = dictations.at(0).toObject().value(QStringLiteral("polish_text")).toString();
        const QString second = dictations.at(1).toObject().value(QStringLiteral("polish_text")).toString();
        QCOMPARE(rig.injector.injected(), QStringList{second});
        QCOMPARE(log.messages(QStringLiteral("dictation")).filter(QStringLiteral("earlier dictation")),
                 (QStringList{QStringLiteral("ignored asr_done of an earlier dictation (%1 characters)")
                                  .arg(dictations.at(0).toObject().value(QStringLiteral("asr_text")).toString().size()),
                              QStringLiteral("dropped polish_done of an earlier dictation (%1 characters)").arg(first.size())}));
        QCOMPARE(phases(phaseSpy), (QList<Phase>{Phase::recording(), Phase::finalizing(), Phase::polishing(),
                                                 Phase::injecting(), Phase::idle()}));
        QCOMPARE(m_server.socketRecording().size(), 1);
        QVERIFY(!rig.engine.isCapturing());
        QCOMPARE(log.count(QStringLiteral("dictation"), QtCriticalMsg, kWatchdogLog), 1);
    }

    void failedInjectionEndsIdleWithTheMessageLogged()
    {
        LogCapture log;
        SpineRig rig(kShort);
        rig.tokens.setValidResults({token(m_access)});
        rig.injector.setSucceeds(false);
        record(rig);
        QSignalSpy phaseSpy(&rig.state, &AppState::phaseChanged);
        rig.controller.toggle();
        QTRY_COMPARE_WITH_TIMEOUT(rig.injector.injected().size(), 1, 10000);
        const QString failed = QStringLiteral("文字注入失败：检查辅助功能权限");
        QCOMPARE(phases(phaseSpy), (QList<Phase>{Phase::finalizing(), Phase::polishing(), Phase::injecting(),
                                                 Phase::error(failed), Phase::idle()}));
        QCOMPARE(rig.state.lastInjectedText(), QString());
        QCOMPARE(log.messages(QStringLiteral("app"), QtCriticalMsg), QStringList{failed});
    }

    // A failed token ends the start in its message before the microphone or the connection is
    // touched; so does a microphone that cannot be prepared, before any capture or refresh.
    void tokenAndMicrophoneFailuresEndInTheirMessages()
    {
        const std::pair<TokenResult, QString> failures[] = {
            {failure(AuthError::noRefreshToken()), kLoginExpired},
            {failure(AuthError::http(500, QStringLiteral("boom"))), QStringLiteral("Token 刷新失败，请检查网络后重试")},
            {failure(PlatformError{QStringLiteral("QNetworkReply"), 2, QStringLiteral("Connection closed")}),
             QStringLiteral("Token 刷新失败：Connection closed")}};
        LogCapture log;
        SpineRig rig(DictationController::Timing{}, 60s); // no message goes by itself meanwhile
        rig.tokens.setDelay(50ms);
        QSignalSpy phaseSpy(&rig.state, &AppState::phaseChanged);
        for (const auto &[result, message] : failures) {
            rig.tokens.setValidResults({result});
            phaseSpy.clear();
            log.clear();
            rig.controller.toggle();
            QCOMPARE(rig.state.phase(), Phase::idle()); // idle while the token is fetched
            QTRY_COMPARE(phases(phaseSpy), QList<Phase>{Phase::error(message)});
            QCOMPARE(log.messages(QStringLiteral("socket")), QStringList{});
            QCOMPARE(log.messages(QStringLiteral("app"), QtCriticalMsg), QStringList{message});
            rig.controller.toggle(); // dismissed
        }
        QCOMPARE(rig.engine.prepareCount(), 0);

        rig.tokens.setValidResults({token(m_access)});
        rig.engine.setPrepareError(PlatformError{QStringLiteral("Murlex.Audio"), 1, QStringLiteral("麦克风权限被拒绝")});
        startAndSettle(rig);
        QCOMPARE(rig.state.phase(), Phase::error(QStringLiteral("麦克风初始化失败：麦克风权限被拒绝")));
        QCOMPARE(rig.engine.startCount(), 0);
        QCOMPARE(rig.tokens.refreshCount(), 0);
    }

    // A toggle during the answer does nothing, one on an error only dismisses it, and a second one
    // while the first is still starting is ignored.
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
                 (QStringList{QStringLiteral("ignored toggle: still in finalizing"), QStringLiteral("ignored toggle: still in polishing"),
                              QStringLiteral("ignored toggle: still in injecting")}));
        rig.state.setError(kDropped);
        rig.controller.toggle();
        QCOMPARE(rig.state.phase(), Phase::idle());
        QVERIFY(!rig.controller.isStarting());
        QCOMPARE(rig.tokens.validCount(), 0);

        rig.tokens.setValidResults({failure(AuthError::noAccessToken())});
        rig.tokens.setDelay(200ms);
        rig.controller.toggle();
        rig.controller.toggle();
        QVERIFY(log.contains(QStringLiteral("dictation"), QtInfoMsg, QStringLiteral("ignored toggle: a dictation is already starting")));
        QTRY_COMPARE(rig.state.phase(), Phase::error(kLoginExpired));
        QCOMPARE(rig.tokens.validCount(), 1);
        QCOMPARE(log.count(QStringLiteral("dictation"), QtInfoMsg, QStringLiteral("beginDictation()")), 1);
    }

    // Nothing listens: the socket publishes one error. The permanent handler shows it at once,
    // the wait turns it into transport(...), and the refresh probe decides what comes next.
    void refusedConnectionThenRefreshProbe()
    {
        const QString refused = QStringLiteral("网络异常，无法连接服务器（Connection refused）");
        const struct {
            TokenResult refresh;
            QString probeLog;
            QString message;
        } probes[] = {{failure(AuthError::http(500, QStringLiteral("down"))), QStringLiteral("refresh probe failed: http(500, \"down\")"), refused},
                      {token(QStringLiteral("fresh")), QStringLiteral("retry connect also failed: transport(\"Connection refused\")"),
                       QStringLiteral("网络异常，无法连接服务器，请重试")},
                      {failure(AuthError::http(401, QStringLiteral("expired"))), QStringLiteral("refresh probe 401: token 真的失效"), kLoginExpired}};
        RedirectingNetworkAccess toClosedPort(closedPort(), {});
        ScopedNetworkAccess closed(&toClosedPort);
        LogCapture log;
        SpineRig rig(DictationController::Timing{}, 60s); // no message goes by itself meanwhile
        rig.tokens.setValidResults({token(m_access)});
        for (const auto &probe : probes) {
            log.clear();
            rig.tokens.setRefreshResults({probe.refresh});
            const int refreshes = rig.tokens.refreshCount();
            startAndSettle(rig);
            QCOMPARE(rig.state.phase(), Phase::error(probe.message));
            QCOMPARE(rig.tokens.refreshCount(), refreshes + 1);
            QVERIFY2(log.contains(QStringLiteral("dictation"), QtCriticalMsg, probe.probeLog), qPrintable(probe.probeLog));
            // The permanent handler saw the same error first; the later message replaced it.
            const QStringList shown = log.messages(QStringLiteral("app"), QtCriticalMsg);
            QCOMPARE(shown.first(), QStringLiteral("服务端错误：Connection refused"));
            QCOMPARE(shown.last(), probe.message);
            QVERIFY(!rig.state.isConnected());
            QVERIFY(!rig.socket.isOpen());
            rig.controller.toggle(); // dismissed
        }
        // Only the probe's 401 signs out.
        QCOMPARE(rig.tokens.signOutCount(), 1);
        QCOMPARE(rig.engine.startCount(), 0);
    }

    // Last: the stand-in goes away while the connection is idle, and a new one comes up.
    void serverGoneWhileIdleThenAFreshConnection()
    {
        LogCapture log;
        SpineRig rig(kShort, 300ms);
        rig.tokens.setValidResults({token(m_access)});
        record(rig);
        rig.controller.toggle();
        QTRY_COMPARE_WITH_TIMEOUT(rig.state.phase(), Phase::idle(), 10000);

        QVERIFY(m_server.stop());
        QTRY_COMPARE_WITH_TIMEOUT(rig.state.phase(), Phase::error(kDropped), 10000);
        QVERIFY(log.contains(QStringLiteral("socket"), QtInfoMsg, QStringLiteral("websocket closed code=1006 reason=nil")));
        QVERIFY(!rig.state.isConnected());
        QTRY_COMPARE_WITH_TIMEOUT(rig.state.phase(), Phase::idle(), 5000);

        QVERIFY(m_standIn.start());
        m_access = m_server.issueTokens(QStringLiteral("alice")).access;
        rig.tokens.setValidResults({token(m_access)});
        log.clear();
        record(rig);
        QVERIFY(!log.messages(QStringLiteral("socket")).filter(QStringLiteral("connecting to")).isEmpty());
        rig.controller.toggle();
        QTRY_COMPARE_WITH_TIMEOUT(rig.injector.injected().size(), 2, 10000);
    }
};

QTEST_GUILESS_MAIN(TestDictationFlow)
#include "tst_dictation_flow.moc"
