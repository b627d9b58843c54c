#include "ui/AccessibilityPermissionRow.h"

#include "ui/AccessibilityTrustPoll.h"
#include "ui/MUTheme.h"
#include "ui/PermissionChecker.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

AccessibilityPermissionRow::AccessibilityPermissionRow(PermissionChecker &permissions,
                                                       std::chrono::milliseconds pollInterval, QWidget *parent)
    : QWidget(parent)
    , m_mark(new QLabel)
    , m_granted(new QLabel(QStringLiteral("已授权")))
    , m_request(new QPushButton(QStringLiteral("去授权…")))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("辅助功能权限")));
    layout->addStretch(1);
    m_mark->setPixmap(MUTheme::symbol(QStringLiteral("checkmark.circle.fill"), 16, MUTheme::live()));
    layout->addWidget(m_mark);
    layout->addWidget(m_granted);
    layout->addWidget(m_request);
    connect(m_request, &QPushButton::clicked, this, [&permissions] { permissions.promptAccessibility(); });

    m_poll = new AccessibilityTrustPoll(this, [&permissions] { return permissions.isAccessibilityTrusted(); }, pollInterval);
    connect(m_poll, &AccessibilityTrustPoll::trustedChanged, this, &AccessibilityPermissionRow::showTrust);
    showTrust(m_poll->trusted());
}

void AccessibilityPermissionRow::showTrust(bool trusted)
{
    m_mark->setVisible(trusted);
    m_granted->setVisible(trusted);
    m_request->setVisible(!trusted);
}
