#pragma once

#include <QColor>
#include <QVariantAnimation>
#include <QWidget>

#include <chrono>

// A small circular progress spinner: an open arc turning once per second while it is on screen.
class OverlaySpinner : public QWidget {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds turnDuration{1000};

    explicit OverlaySpinner(QColor color, QWidget *parent = nullptr);

    bool isAnimating() const { return m_turn.state() == QAbstractAnimation::Running; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QColor m_color;
    qreal m_angle = 0;
    QVariantAnimation m_turn;
};
