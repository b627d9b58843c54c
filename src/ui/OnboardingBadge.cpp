#include "ui/OnboardingBadge.h"

#include "ui/OnboardingPalette.h"

#include <QPainter>
#include <QPainterPath>

namespace {
// A microphone in the unit square `box`: capsule, cradle and stand.
void drawMicrophone(QPainter &painter, const QRectF &box, const QColor &colour)
{
    const qreal s = box.width();
    auto at = [&](qreal x, qreal y) { return box.topLeft() + QPointF(x * s, y * s); };
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(QRectF(at(0.36, 0.08), QSizeF(0.28 * s, 0.50 * s)), 0.14 * s, 0.14 * s);
    QPainterPath cradle;
    cradle.arcMoveTo(QRectF(at(0.24, 0.18), QSizeF(0.52 * s, 0.54 * s)), 180);
    cradle.arcTo(QRectF(at(0.24, 0.18), QSizeF(0.52 * s, 0.54 * s)), 180, 180);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(colour, 0.07 * s, Qt::SolidLine, Qt::RoundCap));
    painter.drawPath(cradle);
    painter.drawLine(at(0.5, 0.72), at(0.5, 0.86));
    painter.drawLine(at(0.36, 0.88), at(0.64, 0.88));
}
} // namespace

OnboardingBadge::OnboardingBadge(Symbol symbol, int size, QWidget *parent)
    : QWidget(parent)
    , m_symbol(symbol)
{
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void OnboardingBadge::setSymbol(Symbol symbol)
{
    if (m_symbol == symbol)
        return;
    m_symbol = symbol;
    update();
}

void OnboardingBadge::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = qMin(width(), height());
    const QRectF box((width() - s) / 2, (height() - s) / 2, s, s);
    auto at = [&](qreal x, qreal y) { return box.topLeft() + QPointF(x * s, y * s); };

    switch (m_symbol) {
    case Symbol::logo: {
        painter.setPen(Qt::NoPen);
        painter.setBrush(OnboardingPalette::primary());
        painter.drawRoundedRect(box, 0.22 * s, 0.22 * s);
        drawMicrophone(painter, QRectF(at(0.2, 0.18), QSizeF(0.6 * s, 0.6 * s)), OnboardingPalette::onPrimary());
        break;
    }
    case Symbol::microphone:
        drawMicrophone(painter, box.adjusted(0.08 * s, 0.04 * s, -0.08 * s, -0.12 * s), OnboardingPalette::primary());
        break;
    case Symbol::lockShield: {
        QPainterPath shield;
        shield.moveTo(at(0.5, 0.04));
        shield.cubicTo(at(0.66, 0.14), at(0.8, 0.17), at(0.9, 0.17));
        shield.cubicTo(at(0.9, 0.6), at(0.78, 0.82), at(0.5, 0.96));
        shield.cubicTo(at(0.22, 0.82), at(0.1, 0.6), at(0.1, 0.17));
        shield.cubicTo(at(0.2, 0.17), at(0.34, 0.14), at(0.5, 0.04));
        painter.setPen(Qt::NoPen);
        painter.setBrush(OnboardingPalette::primary());
        painter.drawPath(shield);
        // The lock: a shackle over a body.
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(OnboardingPalette::onPrimary(), 0.06 * s));
        painter.drawArc(QRectF(at(0.38, 0.28), QSizeF(0.24 * s, 0.26 * s)), 0, 180 * 16);
        painter.drawLine(at(0.38, 0.41), at(0.38, 0.47));
        painter.drawLine(at(0.62, 0.41), at(0.62, 0.47));
        painter.setPen(Qt::NoPen);
        painter.setBrush(OnboardingPalette::onPrimary());
        painter.drawRoundedRect(QRectF(at(0.32, 0.46), QSizeF(0.36 * s, 0.26 * s)), 0.04 * s, 0.04 * s);
        break;
    }
    case Symbol::checkmark: {
        painter.setPen(Qt::NoPen);
        painter.setBrush(OnboardingPalette::success());
        painter.drawEllipse(box.adjusted(0.04 * s, 0.04 * s, -0.04 * s, -0.04 * s));
        QPainterPath tick;
        tick.moveTo(at(0.28, 0.52));
        tick.lineTo(at(0.44, 0.67));
        tick.lineTo(at(0.72, 0.36));
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(OnboardingPalette::onPrimary(), 0.1 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(tick);
        break;
    }
    }
}
