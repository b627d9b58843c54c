#include "ui/OnboardingTestPage.h"

#include "app/AppState.h"
#include "ui/OnboardingBackButton.h"
#include "ui/KeycapView.h"
#include "ui/OnboardingPalette.h"
#include "ui/ToggleBindingHint.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

OnboardingTestPage::OnboardingTestPage(AppState &state, std::function<void()> onBack, std::function<void()> onFinish,
                                       std::chrono::milliseconds focusDelay, QWidget *parent)
    : OnboardingPage(parent)
    , m_state(&state)
    , m_focusDelay(focusDelay)
    , m_back(new OnboardingBackButton(this))
    , m_title(makeTitle(QString()))
    , m_instruction(new QWidget(this))
    , m_keycap(new KeycapView(QString(), m_instruction))
    , m_missingShortcut(makeBody(QStringLiteral("尚未设置全局快捷键,关掉引导后请去「设置 → 快捷键」配置一个")))
    , m_toggleBindingHint(new ToggleBindingHint(state, this))
    , m_textBox(new QPlainTextEdit(this))
    , m_success(makeCheckRow(QStringLiteral("文字已经写入上面的输入框,真实使用时就是同样体验")))
{
    auto *topBar = new QHBoxLayout;
    topBar->setContentsMargins(0, 0, 0, 0);
    topBar->addWidget(m_back);
    topBar->addStretch();
    connect(m_back, &QAbstractButton::clicked, this, [onBack = std::move(onBack)] { onBack(); });

    auto *instruction = new QHBoxLayout(m_instruction);
    instruction->setContentsMargins(0, 0, 0, 0);
    instruction->setSpacing(6);
    instruction->addStretch();
    instruction->addWidget(new QLabel(QStringLiteral("按"), m_instruction));
    instruction->addWidget(m_keycap);
    instruction->addWidget(new QLabel(QStringLiteral("说一句话,再按一次结束,看文字会不会出现在下面"), m_instruction));
    instruction->addStretch();

    m_textBox->setObjectName(QStringLiteral("testText"));
    m_textBox->setFixedHeight(140);
    m_textBox->setTabChangesFocus(true);
    m_textBox->setStyleSheet(QStringLiteral("#testText { background: white; color: %1; border: 1px solid %2;"
                                            " border-radius: 8px; padding: 6px; }"
                                            "#testText:focus { border: 2px solid %3; }")
                                 .arg(OnboardingPalette::text().name(), OnboardingPalette::border().name(),
                                      OnboardingPalette::primary().name()));

    column()->addLayout(topBar);
    column()->addStretch(1);
    column()->addWidget(m_title);
    column()->addSpacing(4);
    column()->addWidget(m_instruction);
    column()->addWidget(m_missingShortcut);
    column()->addWidget(m_toggleBindingHint);
    column()->addSpacing(4);
    column()->addWidget(m_textBox);
    column()->addWidget(m_success);
    column()->addStretch(2);
    connect(addPrimaryButton(QString()), &QPushButton::clicked, this, [onFinish = std::move(onFinish)] { onFinish(); });

    connect(&state, &AppState::phaseChanged, this, &OnboardingTestPage::onPhase);
    connect(&state, &AppState::hotkeyShortcutChanged, this, &OnboardingTestPage::renderInstruction);
    renderInstruction();
    render();
}

QString OnboardingTestPage::testText() const
{
    return m_textBox->toPlainText();
}

KeycapView *OnboardingTestPage::keycap() const
{
    return m_instruction->isHidden() ? nullptr : m_keycap;
}

void OnboardingTestPage::showEvent(QShowEvent *event)
{
    OnboardingPage::showEvent(event);
    if (m_focusScheduled)
        return;
    m_focusScheduled = true;
    QTimer::singleShot(m_focusDelay, m_textBox, [box = m_textBox] { box->setFocus(Qt::OtherFocusReason); });
}

void OnboardingTestPage::onPhase(const Phase &phase)
{
    if (phase.kind() != Phase::Kind::injecting || m_didDetectInjection)
        return;
    m_didDetectInjection = true;
    render();
}

void OnboardingTestPage::renderInstruction()
{
    const auto shortcut = m_state ? m_state->hotkeyShortcut() : std::nullopt;
    if (shortcut)
        m_keycap->setText(shortcut->description());
    m_instruction->setVisible(shortcut.has_value());
    m_missingShortcut->setVisible(!shortcut.has_value());
}

void OnboardingTestPage::render()
{
    m_title->setText(m_didDetectInjection ? QStringLiteral("成功!可以开始用了") : QStringLiteral("试一下录音"));
    m_success->setVisible(m_didDetectInjection);
    primaryButton()->setText(m_didDetectInjection ? QStringLiteral("完成") : QStringLiteral("跳过,直接完成"));
}
