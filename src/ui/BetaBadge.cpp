#include "ui/BetaBadge.h"

#include "ui/MUTheme.h"

#include <QPainter>

BetaBadge::BetaBadge(QColor blue, QWidget *parent)
    : QWidget(parent), m_blue(blue.isValid() ? blue : MUTheme::accent())
{
    setFont(MUTheme::captionFont());
    setAccessibleName(text());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize BetaBadge::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 16, metrics.height() + 6};
}

void BetaBadge::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = m_blue;
    fill.setAlphaF(0.16f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.drawRoundedRect(box, box.height() / 2, box.height() / 2);
    painter.setPen(m_blue);
    painter.drawText(rect(), Qt::AlignCenter, text());
}
