#pragma once

#include <QColor>
#include <QVariantAnimation>
#include <QWidget>

#include <chrono>

// The recording indicator: a dot of 10 × 10 that breathes between its size and 1.4 times it, easing in
// and out over 0.7 s each way, for as long as it is on screen. Hidden, it runs no animation at all.
class PulsingDot : public QWidget {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds breathDuration{700};
    static constexpr qreal largestScale = 1.4;
    static constexpr qreal diameter = 10;

    explicit PulsingDot(QColor color, QWidget *parent = nullptr);

    QColor color() const { return m_color; }
    qreal scale() const { return m_scale; }
    bool isAnimating() const { return m_breath.state() == QAbstractAnimation::Running; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QColor m_color;
    qreal m_scale = 1.0;
    QVariantAnimation m_breath;
};
