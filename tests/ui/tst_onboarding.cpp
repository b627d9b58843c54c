// test-labels: onboarding
// test-services: desktop
// The first-run guide as a person meets it on the harness's desktop (a window manager, the X
// server's XTEST, the PulseAudio pipe source as the microphone): the permission pages follow the
// real microphone and X session, and the last page takes a real dictation (the global shortcut
// pressed on the X server, a tone spoken into the pipe source, the stand-in's answer pasted).
#include "Artifacts.h"
#include "ExternalTool.h"
#include "HelperProcess.h"
#include "NotificationRecorder.h"
#include "PipeSource.h"
#include "StandIn.h"
#include "app/AppState.h"
#include "core/AppIdentity.h"
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
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

namespace {
const QString label = QStringLiteral("onboarding");

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

    QTemporaryDir m_dir;
    int m_checkers = 0;

    AppState::Options stateOptions(bool launchServices = false)
    {
        AppState::Options options;
        options.settingsPath = m_dir.filePath(QStringLiteral("state-%1.ini").arg(++m_checkers));
        options.launchServices = launchServices;
        return options;
    }

    // The permissions as the application reads them, with a settings file of their own: a user
    // who was never asked for the microphone, or (`askedBefore`) one who was.
    std::unique_ptr<PermissionChecker> checker(bool askedBefore, const QByteArray &display = {})
    {
        PermissionChecker::Services services;
        services.microphone = Platform::microphonePermission(
            Platform::audioSystem(),
            std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("mic-%1.ini").arg(++m_checkers)), QSettings::IniFormat));
        services.keys = Platform::keySynthesis(display);
        services.notifications = Platform::desktopNotifications();
        services.settings = Platform::systemSettings();
        auto permissions = std::make_unique<PermissionChecker>(std::move(services));
        if (askedBefore) {
            bool answered = false;
            permissions->requestMicrophone([&answered](MicStatus) { answered = true; });
            [[maybe_unused]] const bool done = QTest::qWaitFor([&] { return answered; }, 10000);
        }
        return permissions;
    }

    static void screenshot(const OnboardingView &view, const QString &name)
    {
        QTest::qWait(150); // let the page settle on screen
        const QImage image = Artifacts::grabWindow(&view);
        QVERIFY(!Artifacts::save(label, name, image).isEmpty());
        // Chinese text drawn, not empty boxes or nothing.
        QVERIFY2(Artifacts::darkPixels(image, 110) > 1500, qPrintable(name));
    }

private Q_SLOTS:
    void initTestCase()
    {
        AppIdentity::install();
        QVERIFY(m_dir.isValid());
        QVERIFY2(!PipeSource::fifoPath().isEmpty(), "no pipe source: run the tests through scripts/harness.sh");
    }

    void aGrantedUserWalksThroughWithReturnAndBackOnlyFromAccessibility()
    {
        AppState state(stateOptions());
        auto permissions = checker(true);
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

    void outsideAnX11SessionTheAccessibilityPageSaysWhatToDo()
    {
        NotificationRecorder notices;
        QVERIFY(notices.start());
        AppState state(stateOptions());
        // Synthetic keys through a display no X server answers on: not trusted.
        auto permissions = checker(true, QByteArrayLiteral(":97"));
        OnboardingView view(state, *permissions, [] {}, quick());
        QVERIFY(showActive(view));
        view.advance();
        view.advance();
        auto *accessibility = qobject_cast<OnboardingAccessibilityPage *>(view.currentPage());
        QVERIFY(accessibility);
        QCOMPARE(accessibility->badge()->symbol(), OnboardingBadge::Symbol::lockShield);
        QVERIFY(!accessibility->grantedRow()->isVisible());
        QVERIFY(accessibility->stepsBox()->isVisible());
        QStringList shown;
        for (const QLabel *text : accessibility->stepsBox()->findChildren<QLabel *>())
            shown << text->text();
        QCOMPARE(shown, (QStringList{QStringLiteral("1"), OnboardingAccessibilityPage::steps().at(0),
                                     QStringLiteral("2"), OnboardingAccessibilityPage::steps().at(1),
                                     QStringLiteral("3"), QStringLiteral("回到这里点「继续」")}));
        QVERIFY(OnboardingAccessibilityPage::steps().at(1).contains(QStringLiteral("X11")));
        QCOMPARE(buttonText(view), QStringLiteral("前往系统设置"));
        screenshot(view, QStringLiteral("3-accessibility-untrusted"));

        // Its button tells the user what is missing and leaves the page where it is.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(notices.received().size(), 1);
        QCOMPARE(notices.received().first().summary, PermissionChecker::accessibilityNoticeSummary());
        QCOMPARE(view.currentStep(), 3);
    }

    void pagesCrossFadeOverTheirTransition()
    {
        AppState state(stateOptions());
        auto permissions = checker(true);
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

    void aRefusedMicrophoneFollowsTheSourceByThePoll()
    {
        AppState state(stateOptions());
        auto permissions = checker(false);
        QVERIFY(PipeSource::unload());
        auto restore = qScopeGuard([] { PipeSource::load(); });

        OnboardingView view(state, *permissions, [] {}, quick());
        QVERIFY(showActive(view));
        view.advance();
        auto *mic = qobject_cast<OnboardingMicPage *>(view.currentPage());
        QVERIFY(mic);
        QCOMPARE(buttonText(view), QStringLiteral("允许麦克风"));
        QCOMPARE(mic->badge()->symbol(), OnboardingBadge::Symbol::microphone);
        QVERIFY(!mic->hint()->isVisible());

        // Asking finds no microphone: the settings button and the hint, and no way on.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(buttonText(view), QStringLiteral("前往系统设置"));
        QVERIFY(mic->hint()->isVisible());
        QVERIFY(!mic->grantedRow()->isVisible());
        QCOMPARE(view.currentStep(), 2);
        screenshot(view, QStringLiteral("2-microphone-denied"));

        // The poll ticks about once a second.
        QSignalSpy ticks(&view, &OnboardingView::permissionsRefreshed);
        QVERIFY(ticks.wait(2000));
        QElapsedTimer between;
        between.start();
        QVERIFY(ticks.wait(2000));
        QVERIFY2(between.elapsed() > 600 && between.elapsed() < 2500, qPrintable(QString::number(between.elapsed())));

        // A microphone plugged in is picked up by the next tick, within the second.
        restore.dismiss();
        QVERIFY(PipeSource::load());
        QTRY_COMPARE_WITH_TIMEOUT(buttonText(view), QStringLiteral("继续"), 2000);
        QVERIFY(mic->grantedRow()->isVisible());
        QVERIFY(!mic->hint()->isVisible());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(view.currentStep(), 3);
    }

    void comingBackToTheApplicationReadsThePermissionsAtOnce()
    {
        AppState state(stateOptions());
        auto permissions = checker(false);
        QVERIFY(PipeSource::unload());
        auto restore = qScopeGuard([] { PipeSource::load(); });

        // No poll within the case: only the return to the application can show the change.
        OnboardingView view(state, *permissions, [] {}, quick(1h));
        QVERIFY(showActive(view));
        view.advance();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(buttonText(view), QStringLiteral("前往系统设置"));

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
        QTRY_COMPARE_WITH_TIMEOUT(buttonText(view), QStringLiteral("继续"), 1000);
    }

    void withoutAShortcutTheHintShowsAndSkippingEndsAfterThePollStopped()
    {
        AppState state(stateOptions()); // nothing read the stored shortcut: none
        QVERIFY(!state.hotkeyShortcut());
        auto permissions = checker(true);
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
        AppState state(stateOptions(true)); // the application's own components and shortcut
        QTRY_VERIFY_WITH_TIMEOUT(state.hotkeyShortcut().has_value(), 10000);
        auto permissions = checker(true);
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
