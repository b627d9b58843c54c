#include "ui/OverlaySpinner.h"

#include <QPainter>

OverlaySpinner::OverlaySpinner(QColor color, QWidget *parent)
    : QWidget(parent)
    , m_color(color)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_turn.setStartValue(0.0);
    m_turn.setEndValue(360.0);
    m_turn.setDuration(int(turnDuration.count()));
    m_turn.setLoopCount(-1);
    connect(&m_turn, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_angle = value.toReal();
        update();
    });
}

void OverlaySpinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal pen = 2.0;
    const QRectF ring = QRectF(rect()).adjusted(pen, pen, -pen, -pen);
    // A faint full ring, and the bright three quarters of it that turn.
    QColor track = m_color;
    track.setAlphaF(0.25);
    painter.setPen(QPen(track, pen));
    painter.drawEllipse(ring);
    painter.setPen(QPen(m_color, pen, Qt::SolidLine, Qt::RoundCap));
    // Angles in sixteenths of a degree, counter-clockwise; the arc turns clockwise.
    painter.drawArc(ring, int((90 - m_angle) * 16), -270 * 16);
}

void OverlaySpinner::showEvent(QShowEvent *)
{
    m_turn.start();
}

void OverlaySpinner::hideEvent(QHideEvent *)
{
    m_turn.stop();
}
