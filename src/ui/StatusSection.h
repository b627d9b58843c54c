#pragma once

#include "app/Phase.h"

#include <QWidget>

#include <chrono>

class AccessibilityPermissionRow;
class AppState;
class PermissionChecker;
class QLabel;

// Live status: whether the recognition socket is open, the dictation phase, and the
// accessibility permission.
class StatusSection : public QWidget {
    Q_OBJECT
public:
    StatusSection(AppState &state, PermissionChecker &permissions, std::chrono::milliseconds pollInterval,
                  QWidget *parent = nullptr);

    QLabel *connectionLabel() const { return m_connection; }
    QLabel *phaseLabel() const { return m_phase; }
    AccessibilityPermissionRow *accessibilityRow() const { return m_accessibility; }

    // "空闲", "录音中", … and "错误:" + the message.
    static QString phaseText(const Phase &phase);

private:
    QLabel *m_connection;
    QLabel *m_phase;
    AccessibilityPermissionRow *m_accessibility;
};
