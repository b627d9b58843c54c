// test-labels: spine
#include "app/AppState.h"
#include "FakeAccessTokenProvider.h"
#include "FakeAudioCapture.h"
#include "FakeHotWordsSource.h"
#include "LogCapture.h"
#include "RecordingTextInjection.h"
#include "net/VoiceSocket.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

using namespace std::chrono_literals;

namespace {
const QString kLoginExpired = QStringLiteral("登录已失效，请重新登录");
const QString kDeviceChanged = QStringLiteral("音频设备已切换,请重新开始录音");
} // namespace

class TestAppState : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_settingsCount = 0;

    AppState::Options options(std::chrono::milliseconds errorResetDelay = AppState::errorDisplayTime)
    {
        AppState::Options o;
        o.errorResetDelay = errorResetDelay;
        o.settingsPath = m_dir.filePath(QStringLiteral("settings-%1.ini").arg(++m_settingsCount));
        return o;
    }

private Q_SLOTS:
    void phaseEqualityAndTextualForm()
    {
        QCOMPARE(Phase(), Phase::idle());
        QCOMPARE(Phase::error(QStringLiteral("a")), Phase::error(QStringLiteral("a")));
        QVERIFY(Phase::error(QStringLiteral("a")) != Phase::error(QStringLiteral("b")));
        QVERIFY(Phase::error(QString()) != Phase::idle());
        QCOMPARE(Phase::finalizing().describe(), QStringLiteral("finalizing"));
        QCOMPARE(Phase::error(QStringLiteral("连接断开 %1")).describe(), QStringLiteral("error(\"连接断开 %1\")"));
        // Readable through the property system, as the views read it.
        AppState state(options());
        state.setPhase(Phase::polishing());
        QCOMPARE(state.property("phase").value<Phase>(), Phase::polishing());
    }

    void errorIsLoggedShownAndClearedAfterTheDelay()
    {
        LogCapture log;
        AppState state(options(300ms));
        state.setError(QStringLiteral("连接断开，请重试"));
        QCOMPARE(state.phase(), Phase::error(QStringLiteral("连接断开，请重试")));
        QCOMPARE(log.messages(QStringLiteral("app"), QtCriticalMsg), QStringList{QStringLiteral("连接断开，请重试")});
        QTRY_COMPARE_WITH_TIMEOUT(state.phase(), Phase::idle(), 2000);
    }

    void newerErrorOnlyGetsWhatIsLeftOfTheOlderOnesTime()
    {
        AppState state(options(800ms));
        QElapsedTimer clock;
        clock.start();
        state.setError(QStringLiteral("first"));
        QTest::qWait(400);
        state.setError(QStringLiteral("second"));
        QCOMPARE(state.phase(), Phase::error(QStringLiteral("second")));
        QTRY_COMPARE_WITH_TIMEOUT(state.phase(), Phase::idle(), 2000);
        // Cleared by the first error's reset, not 800 ms after the second one.
        QVERIFY2(clock.elapsed() < 1100, qPrintable(QString::number(clock.elapsed())));
    }

    void resetOnlyReplacesAnErrorPhase()
    {
        AppState state(options(200ms));
        state.setError(QStringLiteral("登录已失效，请重新登录"));
        state.setPhase(Phase::recording()); // a new dictation started meanwhile
        QTest::qWait(500);
        QCOMPARE(state.phase(), Phase::recording());
    }

    void realErrorDisplayTimeIsThreeSeconds()
    {
        AppState state(options());
        QElapsedTimer clock;
        clock.start();
        state.setError(QStringLiteral("x"));
        QTest::qWait(2500);
        QCOMPARE(state.phase(), Phase::error(QStringLiteral("x")));
        QTRY_COMPARE_WITH_TIMEOUT(state.phase(), Phase::idle(), 2000);
        QVERIFY2(clock.elapsed() >= 2800 && clock.elapsed() < 3600, qPrintable(QString::number(clock.elapsed())));
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

            state.setDebugMode(false); // no change: nothing written
            QVERIFY(!QSettings(o.settingsPath, QSettings::IniFormat).contains(QStringLiteral("debugMode")));

            QSignalSpy written(&state, &AppState::debugModeChanged);
            state.setDebugMode(true);
            QCOMPARE(QSettings(o.settingsPath, QSettings::IniFormat).value(QStringLiteral("debugMode")).toBool(), true);
            state.setDebugMode(false);
            QCOMPARE(QSettings(o.settingsPath, QSettings::IniFormat).value(QStringLiteral("debugMode")).toBool(), false);
            state.setDebugMode(true);
            QCOMPARE(written.count(), 3);
        }
        AppState reopened(o);
        QVERIFY(reopened.debugMode());
        QTest::qWait(50);
        QCOMPARE(log.count(QStringLiteral("app"), QtInfoMsg, QStringLiteral("MurlexMac bootstrapping")), 2);
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
        QTest::qWait(20);
        QVERIFY(!state.hasDictation());
        QCOMPARE(engines + injectors + providers + stores, 0);

        // The global shortcut fires on its own thread: the first press builds the controller.
        std::thread([&state] { state.requestToggle(); }).join();
        QTRY_VERIFY(state.hasDictation());
        QTRY_COMPARE(state.phase(), Phase::error(kLoginExpired));
        QCOMPARE(engine->prepareCount(), 0); // stopped at the token
        QCOMPARE(log.count(QStringLiteral("dictation"), QtInfoMsg, QStringLiteral("beginDictation()")), 1);

        DictationController *controller = &state.dictation();
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

    void audioDeviceChangeFromAnotherThreadShowsItsMessageInAnyPhase()
    {
        AppState state(options());
        state.setPhase(Phase::finalizing());
        std::thread([&state] { state.audioDeviceChangedDuringCapture(); }).join();
        QTRY_COMPARE(state.phase(), Phase::error(kDeviceChanged));
    }
};

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
