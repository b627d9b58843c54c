#pragma once

#include <QDateTime>
#include <QPointer>
#include <QWidget>

class AppState;
class QLabel;
class QPushButton;
class QVBoxLayout;

// The history tab: one grouped section, "历史", listing the last dictated texts, newest first, each
// with its time and length and the actions 复制 (onto the clipboard), 再次粘贴 (into the window that had
// the focus before Murlex's: this window is minimised first so the window manager hands the focus
// back) and 删除; a "全部清除" for the whole list, and a line that says so while the list is empty.
class HistoryTab : public QWidget {
    Q_OBJECT
public:
    // How many characters of a text a row shows (the rest is in its tooltip).
    static constexpr int shownCharacters = 280;

    explicit HistoryTab(AppState &state, QWidget *parent = nullptr);

    // The entries' texts as shown, top to bottom.
    QStringList shownTexts() const;
    // One row's action: "copy", "pasteAgain" or "delete"; null when there is no such row.
    QPushButton *actionButton(int row, const QString &action) const;
    QPushButton *clearButton() const { return m_clear; }
    QLabel *emptyLabel() const { return m_empty; }
    // The line that confirms the last action ("已复制到剪贴板"), hidden until one.
    QLabel *notice() const { return m_notice; }

    // The time of an entry as a row shows it, relative to `now` (today, yesterday, this year, other years).
    static QString timeText(const QDateTime &time, const QDateTime &now);

private:
    void showEntries();
    QWidget *entryRow(quint64 id, const QString &text, const QString &meta);

    QPointer<AppState> m_state;
    QVBoxLayout *m_list;
    QLabel *m_empty;
    QLabel *m_notice;
    QPushButton *m_clear;
};
