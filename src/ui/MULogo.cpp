#include "ui/MULogo.h"

#include "ui/MUTheme.h"

#include <QPainter>
#include <QPainterPath>

#include <array>

MULogo::MULogo(int size, QColor color, QWidget *parent)
    : QWidget(parent), m_size(size), m_color(color.isValid() ? color : MUTheme::accent())
{
    setFixedSize(size, size);
    setAccessibleName(QStringLiteral("Murlex"));
}

QSize MULogo::sizeHint() const { return {m_size, m_size}; }

void MULogo::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box(0, 0, m_size, m_size);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    painter.drawRoundedRect(box, m_size * 0.26, m_size * 0.26);

    // Five bars of a voice level, tallest in the middle.
    constexpr std::array<qreal, 5> heights = {0.26, 0.50, 0.70, 0.44, 0.30};
    const qreal bar = m_size * 0.09;
    const qreal gap = m_size * 0.055;
    const qreal total = heights.size() * bar + (heights.size() - 1) * gap;
    qreal x = (m_size - total) / 2;
    painter.setBrush(Qt::white);
    for (const qreal height : heights) {
        const qreal h = m_size * height;
        painter.drawRoundedRect(QRectF(x, (m_size - h) / 2, bar, h), bar / 2, bar / 2);
        x += bar + gap;
    }
}
