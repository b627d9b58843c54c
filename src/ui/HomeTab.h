#pragma once

#include "ui/MainWindowServices.h"

#include <QPointer>
#include <QWidget>

class AccessibilityTrustPoll;
class GuideCard;
class KeycapView;
class QLabel;
class StatusPill;

// The dashboard: the header (mark, Beta, LIVE/OFF), the hero texts with the shortcut, the speed
// card, and one guide card for each piece of set-up still missing (accessibility, launch at login,
// the access token). Follows the state while it lives; the accessibility poll runs only while the
// tab is visible, and the token is read again each time the tab is shown.
class HomeTab : public QWidget {
    Q_OBJECT
public:
    explicit HomeTab(const MainWindowServices &services, QWidget *parent = nullptr);

    StatusPill *statusPill() const { return m_pill; }
    QLabel *heroLine() const { return m_heroLine; }
    // "未设置", shown instead of the keycaps while no shortcut is set.
    QLabel *noShortcutLabel() const { return m_noShortcut; }
    // Null while no shortcut is set.
    KeycapView *keycap() const;
    GuideCard *accessibilityCard() const { return m_accessibilityCard; }
    GuideCard *loginItemCard() const { return m_loginItemCard; }
    GuideCard *accessTokenCard() const { return m_tokenCard; }
    AccessibilityTrustPoll *trustPoll() const { return m_trustPoll; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void showShortcut();
    void showLoginItemCard();
    void showTokenCard();

    MainWindowServices m_services;
    StatusPill *m_pill;
    QLabel *m_heroLine;
    QLabel *m_noShortcut;
    KeycapView *m_keycap;
    GuideCard *m_accessibilityCard;
    GuideCard *m_loginItemCard;
    GuideCard *m_tokenCard;
    AccessibilityTrustPoll *m_trustPoll;
};
