// test-labels: spine
#include "app/AppState.h"
#include "FakeAccessTokenProvider.h"
#include "FakeAudioCapture.h"
#include "FakeHotWordsSource.h"
#include "LogCapture.h"
#include "RecordingTextInjection.h"
#include "net/VoiceSocket.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

namespace {
const QString kLoginExpired = QStringLiteral("登录已失效，请重新登录");
const QString kDeviceChanged = QStringLiteral("音频设备已切换,请重新开始录音");
} // namespace

class TestAppState : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_settingsCount = 0;

    AppState::Options options()
    {
        AppState::Options o;
        o.settingsPath = m_dir.filePath(QStringLiteral("settings-%1.ini").arg(++m_settingsCount));
        return o;
    }

private Q_SLOTS:
    void phasesCompareWithTheirMessageAndReadThroughTheProperty()
    {
        QCOMPARE(Phase(), Phase::idle());
        QVERIFY(Phase::error(QStringLiteral("a")) != Phase::error(QStringLiteral("b")));
        QVERIFY(Phase::error(QString()) != Phase::idle());
        QCOMPARE(Phase::error(QStringLiteral("连接断开 %1")).describe(), QStringLiteral("error(\"连接断开 %1\")"));
        AppState state(options());
        state.setPhase(Phase::polishing());
        QCOMPARE(state.property("phase").value<Phase>(), Phase::polishing());
    }

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
