#include "ui/PulsingDot.h"

#include <QPainter>

PulsingDot::PulsingDot(QColor color, QWidget *parent)
    : QWidget(parent)
    , m_color(color)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // Ease in and out like the platform's standard curve (control points 0.42, 0 and 0.58, 1).
    QEasingCurve easeInOut(QEasingCurve::BezierSpline);
    easeInOut.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
    // One loop is a breath out and back: the value runs 0 → 2 linearly, 0 → 1 grows the dot and
    // 1 → 2 shrinks it along the same curve. (Turning the animation's direction at each loop from
    // its own loop signal re-enters that signal without end.)
    m_breath.setStartValue(0.0);
    m_breath.setEndValue(2.0);
    m_breath.setDuration(int(2 * breathDuration.count()));
    m_breath.setLoopCount(-1);
    connect(&m_breath, &QVariantAnimation::valueChanged, this, [this, easeInOut](const QVariant &value) {
        const qreal position = value.toReal();
        const qreal progress = easeInOut.valueForProgress(position <= 1.0 ? position : 2.0 - position);
        m_scale = 1.0 + (largestScale - 1.0) * progress;
        update();
    });
}

void PulsingDot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    const qreal radius = diameter / 2 * m_scale;
    painter.drawEllipse(QRectF(rect()).center(), radius, radius);
}

void PulsingDot::showEvent(QShowEvent *)
{
    m_scale = 1.0;
    m_breath.start();
}

void PulsingDot::hideEvent(QHideEvent *)
{
    m_breath.stop();
}
