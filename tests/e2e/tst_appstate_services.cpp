// test-labels: e2e
// The launch services of the application's state on the harness's X server, with the spine's fakes
// standing in for the dictation components: the global shortcut drives the toggle, and the stored
// shortcut is a property of the state that follows every change.
#include "core/AppIdentity.h"
#include "app/AppState.h"
#include "ExternalTool.h"
#include "FakeAccessTokenProvider.h"
#include "FakeAudioCapture.h"
#include "FakeHotWordsSource.h"
#include "LogCapture.h"
#include "RecordingTextInjection.h"
#include "shortcuts/GlobalHotkey.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "shortcuts/ModifierFlags.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace KeyboardShortcuts;

class TestAppStateServices : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        AppIdentity::install();
    }

    void theShortcutTogglesAndItsChangesReachTheState()
    {
        QTemporaryDir dir;
        AppState::Options options;
        options.settingsPath = dir.filePath(QStringLiteral("settings.ini"));
        options.launchServices = true;
        LogCapture log;
        AppState state(options);
        int injectors = 0;
        QVERIFY(state.installComponents({
            [] { return std::make_unique<FakeAudioCapture>(); },
            [&injectors] { ++injectors; return std::make_unique<RecordingTextInjection>(); },
            [] { return std::make_unique<FakeAccessTokenProvider>(); }, // nobody signed in
            [] { return std::make_unique<FakeHotWordsSource>(); },
        }));
        QSignalSpy shortcutChanged(&state, &AppState::hotkeyShortcutChanged);

        const Shortcut controlAltSpace = Shortcut::fromKey(Key::space, ModifierFlags::control | ModifierFlags::option);
        QTRY_COMPARE(state.hotkeyShortcut(), std::optional<Shortcut>(controlAltSpace));
        QCOMPARE(state.property("hotkeyShortcut").value<std::optional<Shortcut>>(), std::optional<Shortcut>(controlAltSpace));
        QCOMPARE(log.count(QStringLiteral("MetricsKitObserver"), QtInfoMsg, QStringLiteral("MetricsKitObserver registered")), 1);

        // Launched with every service, yet nothing of a dictation exists before the first press.
        QVERIFY(!state.hasVoiceSocket());
        QVERIFY(!state.hasDictation());
        QCOMPARE(injectors, 0);

        // A press on the X server reaches the dictation controller, which stops at the missing sign-in.
        QVERIFY(ExternalTool::run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+alt+space")}));
        QTRY_COMPARE(state.phase(), Phase::error(QStringLiteral("登录已失效，请重新登录")));
        QVERIFY(state.hasVoiceSocket());

        const Shortcut controlF9 = Shortcut::fromKey(Key::f9, ModifierFlags::control);
        const int changesBefore = int(shortcutChanged.count());
        setShortcut(controlF9, GlobalHotkey::toggleDictation());
        QTRY_COMPARE(state.hotkeyShortcut(), std::optional<Shortcut>(controlF9));
        QCOMPARE(shortcutChanged.count(), changesBefore + 1);

        // The new shortcut works.
        QVERIFY(ExternalTool::run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+F9")}));
        QTRY_COMPARE(state.phase(), Phase::idle()); // the error dismissed

        setShortcut(std::nullopt, GlobalHotkey::toggleDictation());
        QTRY_COMPARE(state.hotkeyShortcut(), std::optional<Shortcut>());
        reset({GlobalHotkey::toggleDictation()});
        QTRY_COMPARE(state.hotkeyShortcut(), std::optional<Shortcut>(controlAltSpace));
    }
};

QTEST_MAIN(TestAppStateServices)
#include "tst_appstate_services.moc"
