#pragma once

#include <QWidget>

#include <chrono>

class AccessibilityTrustPoll;
class PermissionChecker;
class QLabel;
class QPushButton;

// "辅助功能权限": "已授权" with a check mark while granted, otherwise "去授权…", which asks for it.
// Re-reads the trust on a timer only while visible.
class AccessibilityPermissionRow : public QWidget {
    Q_OBJECT
public:
    AccessibilityPermissionRow(PermissionChecker &permissions, std::chrono::milliseconds pollInterval,
                               QWidget *parent = nullptr);

    QLabel *grantedLabel() const { return m_granted; }
    QPushButton *requestButton() const { return m_request; }
    AccessibilityTrustPoll *trustPoll() const { return m_poll; }

private:
    void showTrust(bool trusted);

    QLabel *m_mark;
    QLabel *m_granted;
    QPushButton *m_request;
    AccessibilityTrustPoll *m_poll;
};
