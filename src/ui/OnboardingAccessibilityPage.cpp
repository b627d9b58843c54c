#include "ui/OnboardingAccessibilityPage.h"

#include "ui/OnboardingBadge.h"
#include "ui/OnboardingPalette.h"
#include "ui/OnboardingProgressBar.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

QStringList OnboardingAccessibilityPage::steps()
{
    return {
        QStringLiteral("注销当前会话,在登录界面选择 X11(Xorg)会话"),
        QStringLiteral("请在 X11 会话中运行 Murlex"),
        QStringLiteral("回到这里点「继续」"),
    };
}

OnboardingAccessibilityPage::OnboardingAccessibilityPage(bool trusted, std::function<void()> onOpenSettings,
                                                         std::function<void()> onAdvance, std::function<void()> onBack,
                                                         QWidget *parent)
    : OnboardingPage(parent)
    , m_trusted(trusted)
    , m_onOpenSettings(std::move(onOpenSettings))
    , m_onAdvance(std::move(onAdvance))
    , m_progress(new OnboardingProgressBar(2, 3, std::move(onBack), this))
    , m_badge(new OnboardingBadge(OnboardingBadge::Symbol::lockShield, 72, this))
    , m_granted(makeCheckRow(QStringLiteral("已授权")))
    , m_steps(makeStepsBox())
{
    column()->addWidget(m_progress);
    column()->addStretch(2);
    column()->addWidget(m_badge, 0, Qt::AlignHCenter);
    column()->addSpacing(8);
    column()->addWidget(makeTitle(QStringLiteral("允许辅助功能")));
    column()->addWidget(makeBody(QStringLiteral(
        "Murlex 需要把转写后的文字写到你光标所在的输入框,并监听全局快捷键。我们不读取输入框里已有的内容。")));
    column()->addWidget(m_granted);
    column()->addWidget(m_steps);
    column()->addStretch(3);
    connect(addPrimaryButton(QString()), &QPushButton::clicked, this, [this] {
        if (m_trusted)
            m_onAdvance();
        else
            m_onOpenSettings();
    });
    render();
}

QWidget *OnboardingAccessibilityPage::makeStepsBox()
{
    auto *box = new QWidget(this);
    box->setObjectName(QStringLiteral("steps"));
    box->setAttribute(Qt::WA_StyledBackground);
    box->setStyleSheet(QStringLiteral("#steps { background: %1; border-radius: 10px; }").arg(OnboardingPalette::panel().name()));
    auto *grid = new QGridLayout(box);
    grid->setContentsMargins(16, 12, 16, 12);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    const QStringList texts = steps();
    for (int i = 0; i < texts.size(); ++i) {
        auto *number = new QLabel(QString::number(i + 1), box);
        number->setFixedSize(20, 20);
        number->setAlignment(Qt::AlignCenter);
        number->setStyleSheet(QStringLiteral("background: %1; color: %2; border-radius: 10px; font-weight: 600;")
                                  .arg(OnboardingPalette::primary().name(), OnboardingPalette::onPrimary().name()));
        auto *text = new QLabel(texts.at(i), box);
        text->setWordWrap(true);
        grid->addWidget(number, i, 0, Qt::AlignTop);
        grid->addWidget(text, i, 1);
    }
    grid->setColumnStretch(1, 1);
    return box;
}

void OnboardingAccessibilityPage::setTrusted(bool trusted)
{
    if (m_trusted == trusted)
        return;
    m_trusted = trusted;
    render();
}

void OnboardingAccessibilityPage::render()
{
    m_badge->setSymbol(m_trusted ? OnboardingBadge::Symbol::checkmark : OnboardingBadge::Symbol::lockShield);
    m_granted->setVisible(m_trusted);
    m_steps->setVisible(!m_trusted);
    primaryButton()->setText(m_trusted ? QStringLiteral("继续") : QStringLiteral("前往系统设置"));
}
