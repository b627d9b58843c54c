#include "ui/StatusPill.h"

#include "ui/MUTheme.h"

#include <QPainter>

namespace {
constexpr int dot = 8;
constexpr int padding = 10;
} // namespace

StatusPill::StatusPill(bool isOn, QWidget *parent) : QWidget(parent), m_isOn(isOn)
{
    QFont font = MUTheme::captionFont();
    font.setWeight(QFont::Bold);
    setFont(font);
    setAccessibleName(text());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void StatusPill::setOn(bool on)
{
    if (m_isOn == on)
        return;
    m_isOn = on;
    setAccessibleName(text());
    updateGeometry();
    update();
}

QString StatusPill::text() const { return m_isOn ? QStringLiteral("LIVE") : QStringLiteral("OFF"); }

QSize StatusPill::sizeHint() const
{
    const QFontMetrics metrics(font());
    // As wide as the wider text, so the header does not move when the state changes.
    const int textWidth = std::max(metrics.horizontalAdvance(QStringLiteral("LIVE")), metrics.horizontalAdvance(QStringLiteral("OFF")));
    return {padding + dot + 6 + textWidth + padding, metrics.height() + 8};
}

void StatusPill::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color = m_isOn ? MUTheme::live() : palette().color(QPalette::PlaceholderText);
    QColor fill = color;
    fill.setAlphaF(0.15f);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(color, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(box, box.height() / 2, box.height() / 2);

    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(padding, (height() - dot) / 2.0, dot, dot));
    painter.setPen(m_isOn ? color : palette().color(QPalette::WindowText));
    painter.drawText(QRect(padding + dot + 6, 0, width() - padding - dot - 6, height()), Qt::AlignVCenter | Qt::AlignLeft,
                     text());
}
