#include "ui/StatusGlyph.h"

#include <QPainter>
#include <QPainterPath>

const QColor StatusGlyph::green = QColor(0x34, 0xC7, 0x59);
const QColor StatusGlyph::orange = QColor(0xFF, 0x95, 0x00);

StatusGlyph::StatusGlyph(Kind kind, QWidget *parent)
    : QWidget(parent)
    , m_kind(kind)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void StatusGlyph::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect());
    const qreal s = qMin(box.width(), box.height());
    const QPointF o = box.center() - QPointF(s / 2, s / 2);
    auto at = [&](qreal x, qreal y) { return o + QPointF(x * s, y * s); };

    if (m_kind == Kind::check) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(green);
        painter.drawEllipse(QRectF(o, QSizeF(s, s)));
        QPainterPath tick;
        tick.moveTo(at(0.27, 0.52));
        tick.lineTo(at(0.44, 0.68));
        tick.lineTo(at(0.73, 0.35));
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::white, s * 0.13, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(tick);
        return;
    }

    QPainterPath triangle;
    triangle.moveTo(at(0.5, 0.06));
    triangle.lineTo(at(0.97, 0.9));
    triangle.lineTo(at(0.03, 0.9));
    triangle.closeSubpath();
    painter.setPen(QPen(orange, s * 0.08, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(orange);
    painter.drawPath(triangle);
    painter.setPen(QPen(Qt::white, s * 0.12, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(at(0.5, 0.36), at(0.5, 0.6));
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(at(0.5, 0.75), s * 0.065, s * 0.065);
}
