#pragma once

#include "ui/MainWindowServices.h"

#include <QWidget>

class AboutSection;
class LoginItemRow;
class QLabel;
class QPushButton;
class StatusSection;
class TextPathRow;
class ToggleBindingHint;
namespace KeyboardShortcuts {
class Recorder;
}

// The settings, as a grouped form of eight sections in this order: 启动 (launch at login),
// 快捷键 (the dictation shortcut), 录音 (the microphone and the start and stop sounds), 听写结果
// (history on disk, copy only, how text is written), 认证 (the account), 状态 (live status), 关于 (version and links)
// and 引导 (replaying the first-run guide).
class SettingsTab : public QWidget {
    Q_OBJECT
public:
    explicit SettingsTab(const MainWindowServices &services, QWidget *parent = nullptr);

    // The titles of the sections, top to bottom.
    QStringList sectionTitles() const;

    LoginItemRow *loginItemRow() const { return m_loginItemRow; }
    KeyboardShortcuts::Recorder *recorder() const { return m_recorder; }
    QLabel *shortcutWarning() const { return m_shortcutWarning; }
    // How to bind murlex --toggle in this desktop; shown where the shortcut cannot reach every window.
    ToggleBindingHint *toggleBindingHint() const { return m_toggleBindingHint; }
    QWidget *authSection() const { return m_authSection; }
    // How text is written in this session.
    TextPathRow *textPathRow() const { return m_textPathRow; }
    StatusSection *statusSection() const { return m_statusSection; }
    AboutSection *aboutSection() const { return m_aboutSection; }
    QPushButton *replayButton() const { return m_replay; }

private:
    QWidget *section(const QString &title, QWidget *body);

    QList<QWidget *> m_sections;
    LoginItemRow *m_loginItemRow;
    KeyboardShortcuts::Recorder *m_recorder;
    QLabel *m_shortcutWarning;
    ToggleBindingHint *m_toggleBindingHint;
    QWidget *m_authSection;
    TextPathRow *m_textPathRow;
    StatusSection *m_statusSection;
    AboutSection *m_aboutSection;
    QPushButton *m_replay;
};
