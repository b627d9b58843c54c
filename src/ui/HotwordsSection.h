#pragma once

#include <QPointer>
#include <QWidget>

class HotWordsStore;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

// The hot words as the store has them, each with "删除"; a field and "添加" for a new one; and
// the store's state in words: an empty list, the outcome of the last server exchange, and the
// changes still waiting for the server with "立即同步".
class HotwordsSection : public QWidget {
    Q_OBJECT
public:
    explicit HotwordsSection(HotWordsStore &store, QWidget *parent = nullptr);

    QLineEdit *input() const { return m_input; }
    QPushButton *addButton() const { return m_add; }
    QPushButton *syncButton() const { return m_sync; }
    // The "删除" button of the word, or null.
    QPushButton *deleteButton(const QString &word) const;
    // The words shown, in order.
    QStringList shownWords() const;
    // The status lines shown (the empty list, the sync status, the pending count), in order.
    QStringList statusTexts() const;

private:
    void addWord();
    void showWords();
    void showStatus();

    QPointer<HotWordsStore> m_store;
    QVBoxLayout *m_list;
    QLineEdit *m_input;
    QPushButton *m_add;
    QLabel *m_empty;
    QLabel *m_status;
    QWidget *m_pendingRow;
    QLabel *m_pending;
    QPushButton *m_sync;
};
