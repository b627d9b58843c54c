#pragma once

#include <QWidget>

class DictationPreferences;
class QCheckBox;

// The "提示音" switch: a short sound when a recording starts and another when it ends.
class SoundCuesRow : public QWidget {
    Q_OBJECT
public:
    explicit SoundCuesRow(DictationPreferences &preferences, QWidget *parent = nullptr);

    QCheckBox *toggle() const { return m_switch; }

private:
    QCheckBox *m_switch;
};
