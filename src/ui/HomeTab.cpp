#include "ui/HomeTab.h"

#include "app/AppState.h"
#include "store/TokenStore.h"
#include "ui/AccessibilityTrustPoll.h"
#include "ui/BetaBadge.h"
#include "ui/GuideCard.h"
#include "ui/KeycapView.h"
#include "ui/LoginItemController.h"
#include "ui/MUCard.h"
#include "ui/MULogo.h"
#include "ui/MUTheme.h"
#include "ui/PermissionChecker.h"
#include "ui/StatusPill.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

HomeTab::HomeTab(const MainWindowServices &services, QWidget *parent)
    : QWidget(parent)
    , m_services(services)
    , m_pill(new StatusPill(services.state->isConnected()))
    , m_heroLine(new QLabel)
    , m_noShortcut(new QLabel(QStringLiteral("未设置")))
    , m_keycap(new KeycapView)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 24);
    layout->setSpacing(14);

    // Header.
    auto *header = new QHBoxLayout;
    header->setSpacing(10);
    header->addWidget(new MULogo(34));
    auto *name = new QLabel(QStringLiteral("Murlex"));
    name->setFont(MUTheme::titleFont());
    header->addWidget(name);
    header->addWidget(new BetaBadge(MUTheme::accent()));
    header->addStretch(1);
    header->addWidget(m_pill);
    layout->addLayout(header);
    layout->addSpacing(10);

    // Hero.
    auto *title = new QLabel(QStringLiteral("自然说话,完美书写"));
    title->setFont(MUTheme::heroFont());
    layout->addWidget(title);
    MUTheme::makeCaption(m_heroLine);
    m_heroLine->setFont(QFont());
    layout->addWidget(m_heroLine);
    m_noShortcut->setFont(MUTheme::titleFont());
    m_noShortcut->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(m_noShortcut, 0, Qt::AlignLeft);
    layout->addWidget(m_keycap, 0, Qt::AlignLeft);
    layout->addSpacing(6);

    // Speed.
    auto *speed = new MUCard(16);
    auto *speedRow = new QHBoxLayout;
    speedRow->setSpacing(12);
    auto *bolt = new QLabel;
    bolt->setPixmap(MUTheme::symbol(QStringLiteral("bolt.fill"), 26, MUTheme::accent()));
    speedRow->addWidget(bolt, 0, Qt::AlignTop);
    auto *speedTexts = new QVBoxLayout;
    auto *speedTitle = new QLabel(QStringLiteral("平均听写速度"));
    speedTitle->setFont(MUTheme::titleFont());
    speedTexts->addWidget(speedTitle);
    auto *speedLine = new QLabel(QStringLiteral("开始你的第一次录音吧"));
    MUTheme::makeCaption(speedLine);
    speedTexts->addWidget(speedLine);
    speedRow->addLayout(speedTexts, 1);
    speed->content()->addLayout(speedRow);
    layout->addWidget(speed);

    // Guide cards.
    PermissionChecker *permissions = services.permissions;
    LoginItemController *loginItem = services.loginItem;
    m_accessibilityCard = new GuideCard(QStringLiteral("lock.shield"), QStringLiteral("辅助功能未授权"),
                                        QStringLiteral("全局快捷键和文字注入需要这个权限。点击下方去系统设置授权。"),
                                        QStringLiteral("去授权…"), [permissions] { permissions->promptAccessibility(); });
    m_loginItemCard = new GuideCard(QStringLiteral("power"), QStringLiteral("开机未自动启动"),
                                    QStringLiteral("开启后无需手动打开,登录系统时 Murlex 自动就绪。"), QStringLiteral("开启"),
                                    [loginItem] { loginItem->setEnabled(true); });
    m_tokenCard = new GuideCard(QStringLiteral("key"), QStringLiteral("未配置 Access Token"),
                                QStringLiteral("在「设置」里粘贴后端签发的 token 才能录音。"));
    layout->addWidget(m_accessibilityCard);
    layout->addWidget(m_loginItemCard);
    layout->addWidget(m_tokenCard);
    layout->addStretch(1);

    AppState *state = services.state;
    connect(state, &AppState::isConnectedChanged, m_pill, &StatusPill::setOn);
    connect(state, &AppState::hotkeyShortcutChanged, this, &HomeTab::showShortcut);
    connect(loginItem, &LoginItemController::isRegisteredChanged, this, &HomeTab::showLoginItemCard);
    connect(loginItem, &LoginItemController::isInstallableLocationChanged, this, &HomeTab::showLoginItemCard);

    m_trustPoll = new AccessibilityTrustPoll(this, [permissions] { return permissions->isAccessibilityTrusted(); },
                                             services.trustPollInterval);
    m_accessibilityCard->setVisible(!m_trustPoll->trusted());
    connect(m_trustPoll, &AccessibilityTrustPoll::trustedChanged, m_accessibilityCard,
            [this](bool trusted) { m_accessibilityCard->setVisible(!trusted); });

    showShortcut();
    showLoginItemCard();
    showTokenCard();
}

KeycapView *HomeTab::keycap() const
{
    return m_services.state->hotkeyShortcut() ? m_keycap : nullptr;
}

void HomeTab::showEvent(QShowEvent *event)
{
    showTokenCard();
    QWidget::showEvent(event);
}

void HomeTab::showShortcut()
{
    const auto shortcut = m_services.state->hotkeyShortcut();
    m_heroLine->setText(shortcut ? QStringLiteral("按下方组合键开始/停止语音输入,在任何 App 都能用")
                                 : QStringLiteral("尚未设置快捷键。前往「设置 → 快捷键」配置一个。"));
    m_noShortcut->setVisible(!shortcut);
    m_keycap->setVisible(shortcut.has_value());
    m_keycap->setText(shortcut ? shortcut->description() : QString());
}

void HomeTab::showLoginItemCard()
{
    const LoginItemController &loginItem = *m_services.loginItem;
    m_loginItemCard->setVisible(loginItem.isInstallableLocation() && !loginItem.isRegistered());
}

void HomeTab::showTokenCard()
{
    const std::optional<QString> token = TokenStore::accessToken();
    m_tokenCard->setVisible(!token || token->isEmpty());
}
