#pragma once

#include <QWidget>

class QBoxLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;

// What every page of the first-run guide shares: the page's column, its text styles, the "已授权"
// style row, and one primary button at the bottom that is the page's default action: Return or
// Enter anywhere on the page presses it, unless a focused control takes the key itself (the test
// page's text box does: there Return starts a new line).
class OnboardingPage : public QWidget {
    Q_OBJECT
public:
    explicit OnboardingPage(QWidget *parent = nullptr);

    QPushButton *primaryButton() const { return m_primary; }

protected:
    // The page's column; its margins leave the room the guide keeps around every page.
    QVBoxLayout *column() const { return m_column; }
    // Adds the primary button, centred, as the last item of the column.
    QPushButton *addPrimaryButton(const QString &label);

    QLabel *makeTitle(const QString &text);
    // A centred paragraph that wraps within the page.
    QLabel *makeBody(const QString &text);
    // A row with a green check and `text`, centred.
    QWidget *makeCheckRow(const QString &text);

    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QVBoxLayout *m_column;
    QPushButton *m_primary = nullptr;
};
