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
    m_breath.setStartValue(1.0);
    m_breath.setEndValue(largestScale);
    m_breath.setDuration(int(breathDuration.count()));
    m_breath.setEasingCurve(easeInOut);
    m_breath.setLoopCount(-1);
    // Out and back: every new loop runs the other way.
    connect(&m_breath, &QAbstractAnimation::currentLoopChanged, this, [this] {
        m_breath.setDirection(m_breath.direction() == QAbstractAnimation::Forward ? QAbstractAnimation::Backward
                                                                                   : QAbstractAnimation::Forward);
    });
    connect(&m_breath, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_scale = value.toReal();
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
    m_breath.setDirection(QAbstractAnimation::Forward);
    m_breath.start();
}

void PulsingDot::hideEvent(QHideEvent *)
{
    m_breath.stop();
}
