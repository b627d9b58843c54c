// test-labels: onboarding desktop
// test-services: desktop
// What the system allows Murlex to do and the first-run guide that asks for it, on the harness's
// desktop: the permissions read and asked through the services the capture engine and the
// injector use (the PulseAudio pipe source as the microphone, the X server's XTEST, the
// notification service on the session bus, settings tools as small programs on PATH); the guide's
// permission pages follow them, and its last page takes a real dictation (the global shortcut
// pressed on the X server, a tone spoken into the pipe source, the stand-in's answer pasted).
#include "Artifacts.h"
#include "ExternalTool.h"
#include "HelperProcess.h"
#include "LogCapture.h"
#include "NotificationRecorder.h"
#include "PipeSource.h"
#include "StandIn.h"
#include "UiServices.h"
#include "net/AuthClient.h"
#include "platform/Platform.h"
#include "shortcuts/GlobalHotkey.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "ui/OnboardingAccessibilityPage.h"
#include "ui/OnboardingBackButton.h"
#include "ui/OnboardingBadge.h"
#include "ui/KeycapView.h"
#include "ui/OnboardingMicPage.h"
#include "ui/OnboardingProgressBar.h"
#include "ui/OnboardingTestPage.h"
#include "ui/OnboardingView.h"
#include "ui/OnboardingWelcomePage.h"

#include <QApplication>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QtTest>

using namespace std::chrono_literals;

namespace {
const QString label = QStringLiteral("onboarding");
// A display no X server answers on.
const QByteArray missingDisplay = ":97";

// Quick transitions keep the cases short; the real poll and focus delay stay unless a case says.
OnboardingView::Timing quick(std::chrono::milliseconds poll = OnboardingView::pollInterval)
{
    OnboardingView::Timing timing;
    timing.pollInterval = poll;
    timing.transition = 0ms;
    return timing;
}

QString buttonText(const OnboardingView &view)
{
    return view.currentPage()->primaryButton()->text();
}

QCoro::Task<bool> signIn(QString subject)
{
    const auto result = co_await AuthClient::signInWithApple(subject);
    co_return bool(result);
}

// Shows the guide as its own window and waits until the window manager made it the active one.
bool showActive(OnboardingView &view)
{
    view.show();
    return QTest::qWaitForWindowExposed(&view)
        && ExternalTool::xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(view.winId())})
        && QTest::qWaitForWindowActive(&view);
}

} // namespace

class TestOnboarding : public QObject {
    Q_OBJECT

    UiServices m_ui;
    QByteArray m_path;

    // A settings tool: a script that notes how it was started in the file $MURLEX_SETTINGS_LOG.
    void addTool(const QString &name, const QByteArray &interpreter = "/bin/sh")
    {
        QFile script(m_ui.path(QStringLiteral("bin/") + name));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!" + interpreter + "\necho \"${0##*/} $*\" >> \"$MURLEX_SETTINGS_LOG\"\n");
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    QStringList started() const
    {
        QFile log(m_ui.path(QStringLiteral("settings.log")));
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts) : QStringList();
    }

    static void screenshot(const OnboardingView &view, const QString &name)
    {
        QTest::qWait(150); // let the page settle on screen
        QVERIFY(UiServices::saveShot(label, name, Artifacts::grabWindow(&view)));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!PipeSource::fifoPath().isEmpty(), "no pipe source: run the tests through scripts/harness.sh");
        QVERIFY(m_ui.setUp());
        QVERIFY(QDir().mkpath(m_ui.path(QStringLiteral("bin"))));
        m_path = qgetenv("PATH");
        qputenv("MURLEX_SETTINGS_LOG", m_ui.path(QStringLiteral("settings.log")).toUtf8());
    }

    void cleanup()
    {
        qputenv("PATH", m_path);
        qunsetenv("XDG_CURRENT_DESKTOP");
    }

    void aGrantedUserWalksThroughWithReturnAndBackOnlyFromAccessibility()
    {
        AppState state(m_ui.freshState());
        auto permissions = m_ui.checker(true);
        QVERIFY(permissions);
        OnboardingView view(state, *permissions, [] {}, quick());
        QCOMPARE(view.currentStep(), 1);
        QVERIFY(qobject_cast<OnboardingWelcomePage *>(view.currentPage()));
        QVERIFY(showActive(view));
        QCOMPARE(buttonText(view), QStringLiteral("开始设置"));
        screenshot(view, QStringLiteral("1-welcome"));
        view.goBack();
        QCOMPARE(view.currentStep(), 1);

        // Return is each page's default action; the states were read before the pages showed.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(view.currentStep(), 2);
        auto *mic = qobject_cast<OnboardingMicPage *>(view.currentPage());
        QVERIFY(mic);
        QCOMPARE(buttonText(view), QStringLiteral("继续"));
        QCOMPARE(mic->badge()->symbol(), OnboardingBadge::Symbol::checkmark);
        QVERIFY(mic->grantedRow()->isVisible());
        QVERIFY(!mic->hint()->isVisible());
        QCOMPARE(mic->progressBar()->currentSegment(), 1);
        QVERIFY(!mic->progressBar()->backButton()); // no way back from the microphone
        screenshot(view, QStringLiteral("2-microphone"));

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(view.currentStep(), 3);
        auto *accessibility = qobject_cast<OnboardingAccessibilityPage *>(view.currentPage());
        QVERIFY(accessibility);
        // An X11 session whose server has XTEST: trusted at once.
        QVERIFY(view.trusted());
        QCOMPARE(buttonText(view), QStringLiteral("继续"));
        QVERIFY(accessibility->grantedRow()->isVisible());
        QVERIFY(!accessibility->stepsBox()->isVisible());
        QCOMPARE(accessibility->progressBar()->currentSegment(), 2);
        // The capsules share the row equally, the back button's place kept at the left.
        const OnboardingProgressBar *bar = accessibility->progressBar();
        QCOMPARE(bar->capsuleRect(1).width(), bar->capsuleRect(3).width());
        QVERIFY(bar->capsuleRect(1).left() >= OnboardingBackButton::side);
        QVERIFY(bar->capsuleRect(3).right() <= bar->width());
        screenshot(view, QStringLiteral("3-accessibility"));
        QTest::mouseClick(accessibility->progressBar()->backButton(), Qt::LeftButton);
        QCOMPARE(view.currentStep(), 2);

        view.advance();
        view.advance();
        QCOMPARE(view.currentStep(), 4);
        auto *test = qobject_cast<OnboardingTestPage *>(view.currentPage());
        QVERIFY(test);
        QTest::mouseClick(test->backButton(), Qt::LeftButton);
        QCOMPARE(view.currentStep(), 3);
    }

    // Outside an X11 session (synthetic keys through a display no X server answers on) the page
    // says what to do, and its button has a desktop notification tell what is missing; where the
    // keys are trusted, the same prompt shows nothing (both go out on one connection, in order).
    // Without a notification service the prompt is only logged.
    void outsideAnX11SessionTheAccessibilityPageSaysWhatToDo()
    {
        {
            LogCapture log;
            m_ui.checker(false, missingDisplay)->promptAccessibility();
            QTRY_VERIFY(!log.messages(QStringLiteral("app"), QtWarningMsg).filter(QStringLiteral("desktop notification not shown")).isEmpty());
        }
        NotificationRecorder notices;
        QVERIFY2(notices.start(), "cannot own org.freedesktop.Notifications on the session bus");
        const auto trusted = m_ui.checker(false);
        trusted->promptAccessibility();
        AppState state(m_ui.freshState());
        auto permissions = m_ui.checker(true, missingDisplay);
        QVERIFY(permissions);
        QVERIFY(!permissions->isAccessibilityTrusted());
        OnboardingView view(state, *permissions, [] {}, quick());
        QVERIFY(showActive(view));
        view.advance();
        view.advance();
        auto *accessibility = qobject_cast<OnboardingAccessibilityPage *>(view.currentPage());
        QVERIFY(accessibility);
        QCOMPARE(accessibility->badge()->symbol(), OnboardingBadge::Symbol::lockShield);
        QVERIFY(!accessibility->grantedRow()->isVisible());
        QVERIFY(accessibility->stepsBox()->isVisible());
        const QList<QLabel *> steps = accessibility->stepsBox()->findChildren<QLabel *>();
        QCOMPARE(steps.size(), 6); // three numbered steps
        QCOMPARE(steps.at(3)->text(), OnboardingAccessibilityPage::steps().at(1));
        QCOMPARE(buttonText(view), QStringLiteral("前往系统设置"));
        screenshot(view, QStringLiteral("3-accessibility-untrusted"));

        // Its button leaves the page where it is.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(notices.received().size(), 1);
        const NotificationRecorder::Notification notice = notices.received().first();
        QCOMPARE(notice.appName, QStringLiteral("Murlex"));
        QCOMPARE(notice.appIcon, QStringLiteral("quillfen.MurlexMac"));
        QCOMPARE(notice.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("quillfen.MurlexMac"));
        QCOMPARE(notice.summary, PermissionChecker::accessibilityNoticeSummary());
        QVERIFY(notice.body.contains(QStringLiteral("X11")) && notice.body.contains(QStringLiteral("XTEST")));
        QCOMPARE(view.currentStep(), 3);
        QTest::qWait(200);
        QCOMPARE(notices.received().size(), 1);
    }

    void settingsOpenTheDesktopsOwnToolWhereOneIsInstalled()
    {
        qputenv("PATH", m_ui.path(QStringLiteral("bin")).toUtf8());
        auto checker = m_ui.checker(false);
        LogCapture log;

        // Nothing installed: nothing happens, and nothing is shown.
        checker->openMicrophoneSettings();
        checker->openAccessibilitySettings();
        QVERIFY(log.messages(QStringLiteral("app"), QtWarningMsg).isEmpty());

        addTool(QStringLiteral("pavucontrol"));
        addTool(QStringLiteral("gnome-control-center"));
        addTool(QStringLiteral("systemsettings"));
        qputenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
        checker->openMicrophoneSettings();
        QTRY_COMPARE(started(), QStringList{QStringLiteral("gnome-control-center sound")});
        qputenv("XDG_CURRENT_DESKTOP", "KDE");
        checker->openMicrophoneSettings();
        checker->openAccessibilitySettings();
        QTRY_COMPARE(started().size(), 3);
        QCOMPARE(started().mid(1), (QStringList{QStringLiteral("systemsettings kcm_pulseaudio"), QStringLiteral("systemsettings kcm_access")}));

        // A desktop with neither: the PulseAudio volume control on its input tab, and no
        // accessibility tool at all.
        QVERIFY(QFile::remove(m_ui.path(QStringLiteral("bin/gnome-control-center"))));
        QVERIFY(QFile::remove(m_ui.path(QStringLiteral("bin/systemsettings"))));
        qputenv("XDG_CURRENT_DESKTOP", "XFCE");
        checker->openMicrophoneSettings();
        QTRY_COMPARE(started().size(), 4);
        QCOMPARE(started().last(), QStringLiteral("pavucontrol --tab=4"));
        checker->openAccessibilitySettings();
        QTest::qWait(300);
        QCOMPARE(started().size(), 4);

        // A tool that cannot be started is logged, never shown.
        addTool(QStringLiteral("gnome-control-center"), "/nonexistent/interpreter");
        qputenv("XDG_CURRENT_DESKTOP", "GNOME");
        checker->openAccessibilitySettings();
        QVERIFY(log.contains(QStringLiteral("app"), QtWarningMsg,
                             QStringLiteral("could not start %1 for the accessibility settings")
                                 .arg(m_ui.path(QStringLiteral("bin/gnome-control-center")))));
        QCOMPARE(started().size(), 4);
    }

    void pagesCrossFadeOverTheirTransition()
    {
        AppState state(m_ui.freshState());
        auto permissions = m_ui.checker(true);
        QVERIFY(permissions);
        OnboardingView::Timing timing;
        OnboardingView view(state, *permissions, [] {}, timing);
        QVERIFY(showActive(view));
        OnboardingPage *welcome = view.currentPage();
        QPointer<OnboardingPage> leaving = welcome;
        QElapsedTimer clock;
        clock.start();
        view.advance();
        // Both pages are there while they fade; the new one takes input, the old one none.
        QVERIFY(leaving);
        QVERIFY(!leaving->isEnabled());
        QVERIFY(view.currentPage()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!leaving, 2000);
        // About the real 0.22 s: neither instant nor slow.
        QVERIFY2(clock.elapsed() >= 150 && clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));

        // The poll runs while the guide is on screen, and only then.
        QVERIFY(view.isPolling());
        view.hide();
        QVERIFY(!view.isPolling());
        view.show();
        QVERIFY(view.isPolling());
    }

    // A refused microphone: the settings button and the hint, and no way on, until one is plugged
    // in. The poll (about once a second) picks that up within the second; so does coming back to
    // the application, with no poll at all.
    void aRefusedMicrophoneIsPickedUpOncePluggedIn_data()
    {
        QTest::addColumn<bool>("byThePoll");
        QTest::newRow("by the poll") << true;
        QTest::newRow("coming back to the application") << false;
    }
    void aRefusedMicrophoneIsPickedUpOncePluggedIn()
    {
        QFETCH(bool, byThePoll);
        AppState state(m_ui.freshState());
        auto permissions = m_ui.checker(false);
        QVERIFY(PipeSource::unload());
        auto restore = qScopeGuard([] { PipeSource::load(); });

        OnboardingView view(state, *permissions, [] {}, quick(byThePoll ? OnboardingView::pollInterval : std::chrono::milliseconds(1h)));
        QVERIFY(showActive(view));
        view.advance();
        auto *mic = qobject_cast<OnboardingMicPage *>(view.currentPage());
        QVERIFY(mic);
        QCOMPARE(buttonText(view), QStringLiteral("允许麦克风"));
        QCOMPARE(mic->badge()->symbol(), OnboardingBadge::Symbol::microphone);
        QVERIFY(!mic->hint()->isVisible());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(buttonText(view), QStringLiteral("前往系统设置"));
        QVERIFY(mic->hint()->isVisible());
        QVERIFY(!mic->grantedRow()->isVisible());
        QCOMPARE(view.currentStep(), 2);
        screenshot(view, QStringLiteral("2-microphone-denied"));

        if (byThePoll) {
            QSignalSpy ticks(&view, &OnboardingView::permissionsRefreshed);
            QVERIFY(ticks.wait(2000));
            QElapsedTimer between;
            between.start();
            QVERIFY(ticks.wait(2000));
            QVERIFY2(between.elapsed() > 600 && between.elapsed() < 2500, qPrintable(QString::number(between.elapsed())));
            restore.dismiss();
            QVERIFY(PipeSource::load());
        } else {
            // The user goes to another program, plugs the microphone in, and comes back.
            HelperProcess other(QStringLiteral("injection_target"));
            const auto window = other.waitForLine(QStringLiteral("window "));
            QVERIFY(window);
            QVERIFY(ExternalTool::xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), *window}));
            QTRY_COMPARE(QGuiApplication::applicationState(), Qt::ApplicationInactive);
            restore.dismiss();
            QVERIFY(PipeSource::load());
            QTest::qWait(300);
            QCOMPARE(buttonText(view), QStringLiteral("前往系统设置"));
            QVERIFY(ExternalTool::xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(view.winId())}));
        }
        QTRY_COMPARE_WITH_TIMEOUT(buttonText(view), QStringLiteral("继续"), byThePoll ? 2000 : 1000);
        QVERIFY(mic->grantedRow()->isVisible());
        QVERIFY(!mic->hint()->isVisible());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(view.currentStep(), 3);
    }

    void withoutAShortcutTheHintShowsAndSkippingEndsAfterThePollStopped()
    {
        AppState state(m_ui.freshState()); // nothing read the stored shortcut: none
        QVERIFY(!state.hotkeyShortcut());
        auto permissions = m_ui.checker(true);
        QVERIFY(permissions);
        OnboardingView *guide = nullptr;
        int finished = 0;
        bool pollingAtFinish = true;
        OnboardingView view(state, *permissions, [&] {
            ++finished;
            pollingAtFinish = guide->isPolling();
        }, quick(50ms));
        guide = &view;
        QVERIFY(showActive(view));
        QVERIFY(view.isPolling());
        view.advance();
        view.advance();
        view.advance();
        auto *test = qobject_cast<OnboardingTestPage *>(view.currentPage());
        QVERIFY(test);
        QVERIFY(test->missingShortcutHint()->isVisible());
        QVERIFY(!test->keycap());
        QCOMPARE(test->title()->text(), QStringLiteral("试一下录音"));
        QVERIFY(!test->successRow()->isVisible());
        QCOMPARE(buttonText(view), QStringLiteral("跳过,直接完成"));
        QTRY_VERIFY(test->textBox()->hasFocus());
        screenshot(view, QStringLiteral("4-test-no-shortcut"));

        // A dictation that fails before writing anything changes nothing.
        state.setPhase(Phase::recording());
        state.setError(QStringLiteral("连接断开，请重试"));
        QVERIFY(!test->didDetectInjection());

        QSignalSpy ticks(&view, &OnboardingView::permissionsRefreshed);
        QTest::mouseClick(test->primaryButton(), Qt::LeftButton);
        QCOMPARE(finished, 1);
        QVERIFY(!pollingAtFinish);
        QTest::qWait(300); // six intervals
        QCOMPARE(ticks.count(), 0);
    }

    void aRealDictationLandsInThePagesOwnBox()
    {
        StandIn standIn;
        QVERIFY(standIn.start());
        QVERIFY(standIn.reset());
        QVERIFY(QCoro::waitFor(signIn(QStringLiteral("onboarding-user"))));

        // The shortcut a fresh installation has, whatever an earlier suite stored.
        KeyboardShortcuts::reset({GlobalHotkey::toggleDictation()});
        AppState state(m_ui.freshState(true)); // the application's own components and shortcut
        QTRY_VERIFY_WITH_TIMEOUT(state.hotkeyShortcut().has_value(), 10000);
        auto permissions = m_ui.checker(true);
        QVERIFY(permissions);
        OnboardingView view(state, *permissions, [] {}, quick());
        QVERIFY(showActive(view));
        view.advance();
        view.advance();
        view.advance();
        auto *test = qobject_cast<OnboardingTestPage *>(view.currentPage());
        QVERIFY(test);
        QVERIFY(!test->missingShortcutHint()->isVisible());
        QVERIFY(test->keycap());
        QCOMPARE(test->keycap()->text(), state.hotkeyShortcut()->description());
        // The box takes the focus a moment after the page appears: about the real 0.1 s.
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!test->textBox()->hasFocus());
        QTRY_VERIFY_WITH_TIMEOUT(test->textBox()->hasFocus(), 1000);
        QVERIFY2(clock.elapsed() >= 60, qPrintable(QString::number(clock.elapsed())));
        screenshot(view, QStringLiteral("4-test"));

        // As a person does it: the shortcut, a sentence (a tone here), the shortcut again.
        QVERIFY(ExternalTool::xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+space")}));
        QTRY_COMPARE_WITH_TIMEOUT(state.phase(), Phase::recording(), 10000);
        PipeSource microphone;
        microphone.start(PipeSource::tone(440, 1.5));
        microphone.wait();
        QVERIFY(ExternalTool::xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+space")}));
        QTRY_VERIFY_WITH_TIMEOUT(test->didDetectInjection(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(test->testText().contains(QStringLiteral(" Hz")), 5000);
        QCOMPARE(test->testText(), state.lastInjectedText());

        // Back to idle, the page keeps its success.
        QTRY_COMPARE(state.phase(), Phase::idle());
        QCOMPARE(test->title()->text(), QStringLiteral("成功!可以开始用了"));
        QVERIFY(test->successRow()->isVisible());
        QCOMPARE(buttonText(view), QStringLiteral("完成"));
        screenshot(view, QStringLiteral("4-test-success"));
    }
};

QTEST_MAIN(TestOnboarding)
#include "tst_onboarding.moc"
