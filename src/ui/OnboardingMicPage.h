#pragma once

#include "ui/OnboardingPage.h"
#include "ui/PermissionChecker.h"

#include <functional>

class OnboardingBadge;
class OnboardingProgressBar;
class QLabel;

// The microphone page (step 1 of 3, no way back). Its one button follows the status: ask for the
// microphone while undetermined, go on once granted, open the settings when refused (with a hint
// above it).
class OnboardingMicPage : public OnboardingPage {
    Q_OBJECT
public:
    OnboardingMicPage(MicStatus micStatus, std::function<void()> onRequest, std::function<void()> onAdvance,
                      std::function<void()> onOpenSettings, QWidget *parent = nullptr);

    MicStatus micStatus() const { return m_micStatus; }
    void setMicStatus(MicStatus status);

    OnboardingProgressBar *progressBar() const { return m_progress; }
    OnboardingBadge *badge() const { return m_badge; }
    QWidget *grantedRow() const { return m_granted; }
    QLabel *hint() const { return m_hint; }

private:
    void render();

    MicStatus m_micStatus;
    std::function<void()> m_onRequest;
    std::function<void()> m_onAdvance;
    std::function<void()> m_onOpenSettings;
    OnboardingProgressBar *m_progress;
    OnboardingBadge *m_badge;
    QWidget *m_granted;
    QLabel *m_hint;
};
