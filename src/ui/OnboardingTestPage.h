#pragma once

#include "app/Phase.h"
#include "ui/OnboardingPage.h"

#include <QPointer>

#include <chrono>
#include <functional>

class AppState;
class OnboardingBackButton;
class KeycapView;
class QLabel;
class QPlainTextEdit;
class ToggleBindingHint;

// The guide's last page: one real dictation into the page's own text box. The box takes the
// keyboard focus `focusDelay` after the page appears, so that the text the dictation writes into
// the focused field lands there. Once the dictation reaches the writing of its text, the page
// says so and keeps saying so while it exists; what arrives in the box is not examined.
class OnboardingTestPage : public OnboardingPage {
    Q_OBJECT
public:
    OnboardingTestPage(AppState &state, std::function<void()> onBack, std::function<void()> onFinish,
                       std::chrono::milliseconds focusDelay, QWidget *parent = nullptr);

    bool didDetectInjection() const { return m_didDetectInjection; }
    QString testText() const;

    OnboardingBackButton *backButton() const { return m_back; }
    QLabel *title() const { return m_title; }
    QPlainTextEdit *textBox() const { return m_textBox; }
    // The key cap of the shortcut; null while no shortcut is set.
    KeycapView *keycap() const;
    // The hint shown instead of the instruction while no shortcut is set.
    QLabel *missingShortcutHint() const { return m_missingShortcut; }
    QWidget *successRow() const { return m_success; }
    // How to bind murlex --toggle in this desktop; shown where the shortcut cannot reach every window.
    ToggleBindingHint *toggleBindingHint() const { return m_toggleBindingHint; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void onPhase(const Phase &phase);
    void renderInstruction();
    void render();

    QPointer<AppState> m_state;
    std::chrono::milliseconds m_focusDelay;
    bool m_didDetectInjection = false;
    bool m_focusScheduled = false;
    OnboardingBackButton *m_back;
    QLabel *m_title;
    QWidget *m_instruction;
    KeycapView *m_keycap;
    QLabel *m_missingShortcut;
    ToggleBindingHint *m_toggleBindingHint;
    QPlainTextEdit *m_textBox;
    QWidget *m_success;
};
