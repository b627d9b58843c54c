#include "ui/OnboardingBackButton.h"

#include "ui/OnboardingPalette.h"

#include <QPainter>
#include <QPainterPath>

OnboardingBackButton::OnboardingBackButton(QWidget *parent)
    : QAbstractButton(parent)
{
    setFixedSize(side, side);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(QStringLiteral("返回"));
    setToolTip(QStringLiteral("返回"));
}

void OnboardingBackButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void OnboardingBackButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void OnboardingBackButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect());
    if (m_hovered || isDown() || hasFocus()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(OnboardingPalette::faint());
        painter.drawEllipse(box.adjusted(1, 1, -1, -1));
    }
    const qreal s = box.width();
    QPainterPath chevron;
    chevron.moveTo(box.topLeft() + QPointF(0.56 * s, 0.3 * s));
    chevron.lineTo(box.topLeft() + QPointF(0.38 * s, 0.5 * s));
    chevron.lineTo(box.topLeft() + QPointF(0.56 * s, 0.7 * s));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(OnboardingPalette::text(), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(chevron);
}
