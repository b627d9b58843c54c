#include "ui/OnboardingMicPage.h"

#include "ui/OnboardingBadge.h"
#include "ui/OnboardingPalette.h"
#include "ui/OnboardingProgressBar.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

OnboardingMicPage::OnboardingMicPage(MicStatus micStatus, std::function<void()> onRequest,
                                     std::function<void()> onAdvance, std::function<void()> onOpenSettings,
                                     QWidget *parent)
    : OnboardingPage(parent)
    , m_micStatus(micStatus)
    , m_onRequest(std::move(onRequest))
    , m_onAdvance(std::move(onAdvance))
    , m_onOpenSettings(std::move(onOpenSettings))
    , m_progress(new OnboardingProgressBar(1, 3, {}, this))
    , m_badge(new OnboardingBadge(OnboardingBadge::Symbol::microphone, 72, this))
    , m_granted(makeCheckRow(QStringLiteral("已授权")))
    , m_hint(makeBody(QStringLiteral("请在系统设置里打开 Murlex 的麦克风开关,然后回到这里点「继续」")))
{
    QPalette p = m_hint->palette();
    p.setColor(QPalette::WindowText, OnboardingPalette::warning());
    m_hint->setPalette(p);

    column()->addWidget(m_progress);
    column()->addStretch(2);
    column()->addWidget(m_badge, 0, Qt::AlignHCenter);
    column()->addSpacing(8);
    column()->addWidget(makeTitle(QStringLiteral("允许麦克风访问")));
    column()->addWidget(makeBody(QStringLiteral("Murlex 需要听到你的声音才能转写。音频不会被保存或上传,只用于实时转写。")));
    column()->addWidget(m_granted);
    column()->addStretch(3);
    column()->addWidget(m_hint);
    QPushButton *button = addPrimaryButton(QString());
    connect(button, &QPushButton::clicked, this, [this] {
        // The action is the one the label shows now.
        switch (m_micStatus) {
        case MicStatus::undetermined:
            m_onRequest();
            break;
        case MicStatus::granted:
            m_onAdvance();
            break;
        case MicStatus::denied:
            m_onOpenSettings();
            break;
        }
    });
    render();
}

void OnboardingMicPage::setMicStatus(MicStatus status)
{
    if (m_micStatus == status)
        return;
    m_micStatus = status;
    render();
}

void OnboardingMicPage::render()
{
    const bool granted = m_micStatus == MicStatus::granted;
    m_badge->setSymbol(granted ? OnboardingBadge::Symbol::checkmark : OnboardingBadge::Symbol::microphone);
    m_granted->setVisible(granted);
    m_hint->setVisible(m_micStatus == MicStatus::denied);
    switch (m_micStatus) {
    case MicStatus::undetermined:
        primaryButton()->setText(QStringLiteral("允许麦克风"));
        break;
    case MicStatus::granted:
        primaryButton()->setText(QStringLiteral("继续"));
        break;
    case MicStatus::denied:
        primaryButton()->setText(QStringLiteral("前往系统设置"));
        break;
    }
}
