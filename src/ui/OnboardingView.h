#pragma once

#include "ui/OnboardingPage.h"
#include "ui/PermissionChecker.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>

class AppState;

class QPropertyAnimation;

// The four-page first-run guide: welcome, the microphone, accessibility, and a test dictation. It
// keeps both permission states fresh while it is shown (read when it appears, every pollInterval,
// and whenever the application becomes active again) and lets no one past a permission page
// before that permission is there. Ending it (from the last page) stops the polling and then calls
// `onFinish`, once per press of the finish button; the host replaces the guide there (deleting
// it only later, with deleteLater(), since the call comes from inside the guide's own button).
//
// The host frames it at `fixedSize`. Main thread only.
class OnboardingView : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize fixedSize{560, 540};
    static constexpr int stepCount = 4;
    static constexpr std::chrono::milliseconds pollInterval{1000};
    // Pages replace each other with a cross-fade this long (ease in and out).
    static constexpr std::chrono::milliseconds transitionDuration{220};
    // How long after the test page appears its text box takes the keyboard focus.
    static constexpr std::chrono::milliseconds focusDelay{100};

    struct Timing {
        std::chrono::milliseconds pollInterval = OnboardingView::pollInterval;
        std::chrono::milliseconds transition = OnboardingView::transitionDuration;
        std::chrono::milliseconds focusDelay = OnboardingView::focusDelay;
    };

    OnboardingView(AppState &state, PermissionChecker &permissions, std::function<void()> onFinish,
                   QWidget *parent = nullptr);
    OnboardingView(AppState &state, PermissionChecker &permissions, std::function<void()> onFinish, Timing timing,
                   QWidget *parent = nullptr);
    ~OnboardingView() override;

    // 1 welcome, 2 microphone, 3 accessibility, 4 test.
    int currentStep() const { return m_currentStep; }
    MicStatus micStatus() const { return m_micStatus; }
    bool trusted() const { return m_trusted; }
    bool isPolling() const { return m_pollTimer.isActive(); }
    const Timing &timing() const { return m_timing; }
    // The page of the current step (the one fading in during a transition).
    OnboardingPage *currentPage() const { return m_page; }

    void advance();
    void goBack();
    void finish();
    void refreshPermissions();
    void startPolling();
    void stopPolling();

Q_SIGNALS:
    void currentStepChanged(int step);
    // After every read of the permissions, whatever they were.
    void permissionsRefreshed();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void setStep(int step);
    OnboardingPage *buildPage(int step);
    void showPage(OnboardingPage *page);
    void requestMicrophone();
    void openAccessibilitySettings();

    QPointer<AppState> m_state;
    PermissionChecker &m_permissions;
    std::function<void()> m_onFinish;
    Timing m_timing;
    int m_currentStep = 1;
    MicStatus m_micStatus;
    bool m_trusted;
    QTimer m_pollTimer;
    QPointer<OnboardingPage> m_page;
    // The page on its way out, with its fade.
    QPointer<OnboardingPage> m_leaving;
};
