#pragma once

#include "ui/OnboardingPage.h"

#include <QStringList>

#include <functional>

class OnboardingBadge;
class OnboardingProgressBar;

// The accessibility page (step 2 of 3, with a way back). Typing into other applications and the
// global shortcut need an X11 session whose server offers XTEST; where that is missing the page
// lists what to do, and its button opens the desktop's settings. Once trusted, it goes on.
class OnboardingAccessibilityPage : public OnboardingPage {
    Q_OBJECT
public:
    // The numbered steps shown while the process is not trusted.
    static QStringList steps();

    OnboardingAccessibilityPage(bool trusted, std::function<void()> onOpenSettings, std::function<void()> onAdvance,
                                std::function<void()> onBack, QWidget *parent = nullptr);

    bool trusted() const { return m_trusted; }
    void setTrusted(bool trusted);

    OnboardingProgressBar *progressBar() const { return m_progress; }
    OnboardingBadge *badge() const { return m_badge; }
    QWidget *grantedRow() const { return m_granted; }
    QWidget *stepsBox() const { return m_steps; }

private:
    QWidget *makeStepsBox();
    void render();

    bool m_trusted;
    std::function<void()> m_onOpenSettings;
    std::function<void()> m_onAdvance;
    OnboardingProgressBar *m_progress;
    OnboardingBadge *m_badge;
    QWidget *m_granted;
    QWidget *m_steps;
};
