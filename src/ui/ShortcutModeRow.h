#pragma once

#include <QWidget>

class DictationPreferences;
class QComboBox;
class QLabel;

// The "快捷键模式" choice over DictationPreferences::shortcutMode: press once to start and again
// to end (the default), or hold to talk. A caption under it says what else the keys do.
class ShortcutModeRow : public QWidget {
    Q_OBJECT
public:
    explicit ShortcutModeRow(DictationPreferences &preferences, QWidget *parent = nullptr);

    QComboBox *choice() const { return m_choice; }
    QLabel *caption() const { return m_caption; }

private:
    void showPreference();

    DictationPreferences &m_preferences;
    QComboBox *m_choice;
    QLabel *m_caption;
};
