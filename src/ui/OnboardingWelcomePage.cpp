#include "ui/OnboardingWelcomePage.h"

#include "ui/OnboardingBadge.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

OnboardingWelcomePage::OnboardingWelcomePage(std::function<void()> onNext, QWidget *parent)
    : OnboardingPage(parent)
{
    column()->addStretch(3);
    column()->addWidget(new OnboardingBadge(OnboardingBadge::Symbol::logo, 96, this), 0, Qt::AlignHCenter);
    column()->addSpacing(12);
    column()->addWidget(makeTitle(QStringLiteral("欢迎使用 Murlex")));
    column()->addWidget(makeBody(QStringLiteral("接下来需要授予两个权限,大约 30 秒")));
    column()->addStretch(4);
    connect(addPrimaryButton(QStringLiteral("开始设置")), &QPushButton::clicked, this,
            [onNext = std::move(onNext)] { onNext(); });
}
