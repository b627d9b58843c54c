#pragma once

#include <QWidget>

class DictationPreferences;
class QCheckBox;

// The switches over what becomes of a dictated text: "保存听写历史" (the history also kept on disk,
// readable by the owner alone, deleted when switched off) and "只复制,不粘贴" (the text left on the
// clipboard without a paste), each with a caption. Follows the preferences when they change elsewhere.
class ResultOptionsRow : public QWidget {
    Q_OBJECT
public:
    explicit ResultOptionsRow(DictationPreferences &preferences, QWidget *parent = nullptr);

    QCheckBox *saveHistorySwitch() const { return m_saveHistory; }
    QCheckBox *copyOnlySwitch() const { return m_copyOnly; }

private:
    QCheckBox *m_saveHistory;
    QCheckBox *m_copyOnly;
};
