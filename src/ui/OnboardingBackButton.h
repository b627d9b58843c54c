#pragma once

#include <QAbstractButton>

// The guide's back button: a left chevron in a round hover area, reachable by the keyboard.
class OnboardingBackButton : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr int side = 28;

    explicit OnboardingBackButton(QWidget *parent = nullptr);

    QSize sizeHint() const override { return {side, side}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    bool m_hovered = false;
};
