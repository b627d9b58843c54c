#pragma once

#include <QWidget>

#include <functional>

class QPushButton;

// What the main window shows before the first run is completed, until the four-page first-run
// guide takes this place (the window's `onboarding` factory): the product's name, one line about
// what it does, and "继续", which finishes.
class FirstRunPlaceholder : public QWidget {
    Q_OBJECT
public:
    explicit FirstRunPlaceholder(std::function<void()> finish, QWidget *parent = nullptr);

    QPushButton *continueButton() const { return m_continue; }

private:
    QPushButton *m_continue;
};
