// test-labels: onboarding desktop
// test-services: desktop
// The permissions as the capture engine and the injector see them (the pipe source as microphone,
// the X server's XTEST, the session bus's notification service, settings tools as scripts on PATH)
// and the first-run guide that asks for them.
#include "Artifacts.h"
#include "ExternalTool.h"
#include "HelperProcess.h"
#include "LogCapture.h"
#include "NotificationRecorder.h"
#include "PipeSource.h"
#include "UiServices.h"
#include "shortcuts/GlobalHotkey.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "ui/KeycapView.h"
#include "ui/OnboardingAccessibilityPage.h"
#include "ui/OnboardingBackButton.h"
#include "ui/OnboardingBadge.h"
#include "ui/OnboardingMicPage.h"
#include "ui/OnboardingProgressBar.h"
#include "ui/OnboardingTestPage.h"
#include "ui/OnboardingView.h"
#include "ui/OnboardingWelcomePage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {
const QString label = u"onboarding"_s;
const QByteArray missingDisplay = ":97"; // no X server answers there

// Quick transitions keep the cases short; the real poll and focus delay stay unless a case says.
OnboardingView::Timing quick(std::chrono::milliseconds poll = OnboardingView::pollInterval)
{
    OnboardingView::Timing timing;
    timing.pollInterval = poll;
    timing.transition = 0ms;
    return timing;
}

QString buttonText(const OnboardingView &view) { return view.currentPage()->primaryButton()->text(); }
void pressReturn() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); }
bool activate(const QString &window) { return ExternalTool::xdotool({u"windowactivate"_s, u"--sync"_s, window}); }

// Shows the guide as its own window and waits until the window manager made it the active one.
bool showActive(OnboardingView &view)
{
    view.show();
    return QTest::qWaitForWindowExposed(&view) && activate(QString::number(view.winId())) && QTest::qWaitForWindowActive(&view);
}

void screenshot(const OnboardingView &view, const QString &name)
{
    QTest::qWait(150); // let the page settle on screen
    QVERIFY(UiServices::saveShot(label, name, Artifacts::grabWindow(&view)));
}
} // namespace

class TestOnboarding : public QObject {
    Q_OBJECT

    UiServices m_ui;
    QByteArray m_path;

    // A settings tool: a script that notes how it was started in the file $MURLEX_SETTINGS_LOG.
    void addTool(const QString &name, const QByteArray &interpreter = "/bin/sh")
    {
        QFile script(m_ui.path(u"bin/"_s + name));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!" + interpreter + "\necho \"${0##*/} $*\" >> \"$MURLEX_SETTINGS_LOG\"\n");
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    QStringList started() const
    {
        QFile log(m_ui.path(u"settings.log"_s));
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts) : QStringList();
    }
    // A guide over a state of its own, shown and active, on the given step.
    std::unique_ptr<OnboardingView> guide(AppState &state, PermissionChecker &permissions, int step,
                                          OnboardingView::Timing timing = quick(), std::function<void()> finished = [] {})
    {
        auto view = std::make_unique<OnboardingView>(state, permissions, std::move(finished), timing);
        if (!showActive(*view))
            return nullptr;
        while (view->currentStep() < step)
            view->advance();
        return view;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!PipeSource::fifoPath().isEmpty(), "no pipe source: run the tests through scripts/harness.sh");
        QVERIFY(m_ui.setUp());
        QVERIFY(QDir().mkpath(m_ui.path(u"bin"_s)));
        m_path = qgetenv("PATH");
        qputenv("MURLEX_SETTINGS_LOG", m_ui.path(u"settings.log"_s).toUtf8());
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
        const auto view = guide(state, *permissions, 1);
        QVERIFY(view && qobject_cast<OnboardingWelcomePage *>(view->currentPage()));
        QCOMPARE(buttonText(*view), u"开始设置"_s);
        screenshot(*view, u"1-welcome"_s);
        view->goBack();
        QCOMPARE(view->currentStep(), 1);

        // Return is each page's default action; the states were read before the pages showed.
        pressReturn();
        auto *mic = qobject_cast<OnboardingMicPage *>(view->currentPage());
        QVERIFY(mic && view->currentStep() == 2);
        QCOMPARE(buttonText(*view), u"继续"_s);
        QCOMPARE(mic->badge()->symbol(), OnboardingBadge::Symbol::checkmark);
        QVERIFY(mic->grantedRow()->isVisible() && !mic->hint()->isVisible());
        QCOMPARE(mic->progressBar()->currentSegment(), 1);
        QVERIFY(!mic->progressBar()->backButton()); // no way back from the microphone
        screenshot(*view, u"2-microphone"_s);

        pressReturn();
        auto *accessibility = qobject_cast<OnboardingAccessibilityPage *>(view->currentPage());
        QVERIFY(accessibility && view->currentStep() == 3);
        // An X11 session whose server has XTEST: trusted at once.
        QVERIFY(view->trusted());
        QCOMPARE(buttonText(*view), u"继续"_s);
        QVERIFY(accessibility->grantedRow()->isVisible() && !accessibility->stepsBox()->isVisible());
        // The capsules share the row equally, the back button's place kept at the left.
        const OnboardingProgressBar *bar = accessibility->progressBar();
        QCOMPARE(bar->currentSegment(), 2);
        QCOMPARE(bar->capsuleRect(1).width(), bar->capsuleRect(3).width());
        QVERIFY(bar->capsuleRect(1).left() >= OnboardingBackButton::side && bar->capsuleRect(3).right() <= bar->width());
        screenshot(*view, u"3-accessibility"_s);
        QTest::mouseClick(bar->backButton(), Qt::LeftButton);
        QCOMPARE(view->currentStep(), 2);

        view->advance();
        view->advance();
        auto *test = qobject_cast<OnboardingTestPage *>(view->currentPage());
        QVERIFY(test && view->currentStep() == 4);
        QTest::mouseClick(test->backButton(), Qt::LeftButton);
        QCOMPARE(view->currentStep(), 3);
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
            QTRY_VERIFY(!log.messages(u"app"_s, QtWarningMsg).filter(u"desktop notification not shown"_s).isEmpty());
        }
        NotificationRecorder notices;
        QVERIFY2(notices.start(), "cannot own org.freedesktop.Notifications on the session bus");
        const auto trusted = m_ui.checker(false);
        trusted->promptAccessibility();
        AppState state(m_ui.freshState());
        auto permissions = m_ui.checker(true, missingDisplay);
        QVERIFY(permissions && !permissions->isAccessibilityTrusted());
        const auto view = guide(state, *permissions, 3);
        QVERIFY(view);
        auto *accessibility = qobject_cast<OnboardingAccessibilityPage *>(view->currentPage());
        QVERIFY(accessibility);
        QCOMPARE(accessibility->badge()->symbol(), OnboardingBadge::Symbol::lockShield);
        QVERIFY(!accessibility->grantedRow()->isVisible() && accessibility->stepsBox()->isVisible());
        const QList<QLabel *> steps = accessibility->stepsBox()->findChildren<QLabel *>();
        QCOMPARE(steps.size(), 6); // three numbered steps
        QCOMPARE(steps.at(3)->text(), OnboardingAccessibilityPage::steps().at(1));
        QCOMPARE(buttonText(*view), u"前往系统设置"_s);
        screenshot(*view, u"3-accessibility-untrusted"_s);

        // Its button leaves the page where it is.
        pressReturn();
        QTRY_COMPARE(notices.received().size(), 1);
        const NotificationRecorder::Notification notice = notices.received().first();
        QCOMPARE(notice.appName + u' ' + notice.appIcon + u' ' + notice.hints.value(u"desktop-entry"_s).toString(),
                 u"Murlex quillfen.MurlexMac quillfen.MurlexMac"_s);
        QCOMPARE(notice.summary, PermissionChecker::accessibilityNoticeSummary());
        QVERIFY(notice.body.contains(u"X11"_s) && notice.body.contains(u"XTEST"_s));
        QCOMPARE(view->currentStep(), 3);
        QTest::qWait(200);
        QCOMPARE(notices.received().size(), 1);
    }

    // The desktop's own tool where it has one (the KDE rows of that table need no case of their
    // own), the PulseAudio volume control elsewhere, nothing shown when there is none or it fails.
    void settingsOpenTheDesktopsOwnToolWhereOneIsInstalled()
    {
        qputenv("PATH", m_ui.path(u"bin"_s).toUtf8());
        auto checker = m_ui.checker(false);
        LogCapture log;
        checker->openMicrophoneSettings();
        checker->openAccessibilitySettings();
        QVERIFY(log.messages(u"app"_s, QtWarningMsg).isEmpty());

        addTool(u"pavucontrol"_s);
        addTool(u"gnome-control-center"_s);
        qputenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
        checker->openMicrophoneSettings();
        QTRY_COMPARE(started(), QStringList{u"gnome-control-center sound"_s});
        // Neither installed: the volume control on its input tab, and no accessibility tool.
        QVERIFY(QFile::remove(m_ui.path(u"bin/gnome-control-center"_s)));
        qputenv("XDG_CURRENT_DESKTOP", "XFCE");
        checker->openMicrophoneSettings();
        QTRY_COMPARE(started().size(), 2);
        QCOMPARE(started().last(), u"pavucontrol --tab=4"_s);
        checker->openAccessibilitySettings();
        QTest::qWait(300);
        QCOMPARE(started().size(), 2);

        // A tool that cannot be started is logged, never shown.
        addTool(u"gnome-control-center"_s, "/nonexistent/interpreter");
        qputenv("XDG_CURRENT_DESKTOP", "GNOME");
        checker->openAccessibilitySettings();
        QVERIFY(log.contains(u"app"_s, QtWarningMsg,
                             u"could not start %1 for the accessibility settings"_s.arg(m_ui.path(u"bin/gnome-control-center"_s))));
        QCOMPARE(started().size(), 2);
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
        const auto view = guide(state, *permissions, 2, quick(byThePoll ? OnboardingView::pollInterval : std::chrono::milliseconds(1h)));
        QVERIFY(view);
        auto *mic = qobject_cast<OnboardingMicPage *>(view->currentPage());
        QVERIFY(mic);
        QCOMPARE(buttonText(*view), u"允许麦克风"_s);
        QCOMPARE(mic->badge()->symbol(), OnboardingBadge::Symbol::microphone);
        QVERIFY(!mic->hint()->isVisible());
        pressReturn();
        QTRY_COMPARE(buttonText(*view), u"前往系统设置"_s);
        QVERIFY(mic->hint()->isVisible() && !mic->grantedRow()->isVisible());
        QCOMPARE(view->currentStep(), 2);
        screenshot(*view, u"2-microphone-denied"_s);

        if (byThePoll) {
            QSignalSpy ticks(view.get(), &OnboardingView::permissionsRefreshed);
            QVERIFY(ticks.wait(2000));
            QElapsedTimer between;
            between.start();
            QVERIFY(ticks.wait(2000));
            QVERIFY2(between.elapsed() > 600 && between.elapsed() < 2500, qPrintable(QString::number(between.elapsed())));
            restore.dismiss();
            QVERIFY(PipeSource::load());
        } else {
            // The user goes to another program, plugs the microphone in, and comes back.
            HelperProcess other(u"injection_target"_s);
            const auto window = other.waitForLine(u"window "_s);
            QVERIFY(window && activate(*window));
            QTRY_COMPARE(QGuiApplication::applicationState(), Qt::ApplicationInactive);
            restore.dismiss();
            QVERIFY(PipeSource::load());
            QTest::qWait(300);
            QCOMPARE(buttonText(*view), u"前往系统设置"_s);
            QVERIFY(activate(QString::number(view->winId())));
        }
        QTRY_COMPARE_WITH_TIMEOUT(buttonText(*view), u"继续"_s, byThePoll ? 2000 : 1000);
        QVERIFY(mic->grantedRow()->isVisible() && !mic->hint()->isVisible());
        pressReturn();
        QCOMPARE(view->currentStep(), 3);
    }

    void withoutAShortcutTheHintShowsAndSkippingEndsAfterThePollStopped()
    {
        AppState state(m_ui.freshState()); // nothing read the stored shortcut: none
        QVERIFY(!state.hotkeyShortcut());
        auto permissions = m_ui.checker(true);
        QVERIFY(permissions);
        OnboardingView *shown = nullptr;
        int finished = 0;
        bool pollingAtFinish = true;
        const auto view = guide(state, *permissions, 4, quick(50ms), [&] {
            ++finished;
            pollingAtFinish = shown->isPolling();
        });
        QVERIFY(view && view->isPolling());
        shown = view.get();
        auto *test = qobject_cast<OnboardingTestPage *>(view->currentPage());
        QVERIFY(test);
        QVERIFY(test->missingShortcutHint()->isVisible() && !test->keycap());
        QCOMPARE(test->title()->text(), u"试一下录音"_s);
        QVERIFY(!test->successRow()->isVisible());
        QCOMPARE(buttonText(*view), u"跳过,直接完成"_s);
        QTRY_VERIFY(test->textBox()->hasFocus());
        screenshot(*view, u"4-test-no-shortcut"_s);

        // A dictation that fails before writing anything changes nothing.
        state.setPhase(Phase::recording());
        state.setError(u"连接断开，请重试"_s);
        QVERIFY(!test->didDetectInjection());

        QSignalSpy ticks(view.get(), &OnboardingView::permissionsRefreshed);
        QTest::mouseClick(test->primaryButton(), Qt::LeftButton);
        QCOMPARE(finished, 1);
        QVERIFY(!pollingAtFinish);
        QTest::qWait(300); // six intervals
        QCOMPARE(ticks.count(), 0);
    }

    // With the real timing: the pages cross-fade over about 0.22 s, the leaving one taking no
    // input; the last page's box takes the focus about 0.1 s after the page appears, for the text
    // a dictation writes (a real dictation into a focused field: tst_e2e), and the first dictation
    // that reaches the writing of its text turns the page to its success for good. The poll runs
    // only while the guide is shown.
    void theLastPageTakesTheFocusAndKeepsItsSuccess()
    {
        KeyboardShortcuts::reset({GlobalHotkey::toggleDictation()});
        AppState state(m_ui.freshState());
        state.refreshHotkeyShortcut();
        QVERIFY(state.hotkeyShortcut());
        auto permissions = m_ui.checker(true);
        QVERIFY(permissions);
        const auto view = guide(state, *permissions, 3, OnboardingView::Timing{});
        QVERIFY(view);
        QPointer<OnboardingPage> leaving = view->currentPage();
        QElapsedTimer clock;
        clock.start();
        view->advance();
        auto *test = qobject_cast<OnboardingTestPage *>(view->currentPage());
        QVERIFY(test && test->isEnabled() && leaving && !leaving->isEnabled());
        QVERIFY(!test->missingShortcutHint()->isVisible() && test->keycap());
        QCOMPARE(test->keycap()->text(), state.hotkeyShortcut()->description());
        QVERIFY(!test->textBox()->hasFocus());
        QTRY_VERIFY_WITH_TIMEOUT(test->textBox()->hasFocus(), 1000);
        QVERIFY2(clock.elapsed() >= 60, qPrintable(QString::number(clock.elapsed())));
        QTRY_VERIFY_WITH_TIMEOUT(!leaving, 2000);
        QVERIFY2(clock.elapsed() >= 150 && clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        screenshot(*view, u"4-test"_s);

        for (const Phase &phase : {Phase::recording(), Phase::finalizing(), Phase::polishing(), Phase::injecting(), Phase::idle()})
            state.setPhase(phase);
        test->textBox()->insertPlainText(u"好的，我们明天上午十点在三楼会议室见面。"_s); // what the paste wrote
        QVERIFY(test->didDetectInjection() && test->successRow()->isVisible());
        QCOMPARE(test->title()->text(), u"成功!可以开始用了"_s);
        QCOMPARE(buttonText(*view), u"完成"_s);
        screenshot(*view, u"4-test-success"_s);

        QVERIFY(view->isPolling());
        view->hide();
        QVERIFY(!view->isPolling());
        view->show();
        QVERIFY(view->isPolling());
    }
};

QTEST_MAIN(TestOnboarding)
#include "tst_onboarding.moc"
