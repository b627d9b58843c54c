#include "ui/LevelMeterBar.h"

#include "ui/MUTheme.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

LevelMeterBar::LevelMeterBar(QWidget *parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(QStringLiteral("输入音量"));
}

void LevelMeterBar::setLevel(double level)
{
    level = std::clamp(level, 0.0, 1.0);
    if (level == m_level)
        return;
    m_level = level;
    update();
}

QSize LevelMeterBar::sizeHint() const { return {200, 8}; }

QSize LevelMeterBar::minimumSizeHint() const { return {60, 8}; }

void LevelMeterBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = track.height() / 2;
    painter.setPen(MUTheme::cardOutline(palette()));
    painter.setBrush(MUTheme::cardFill(palette()));
    painter.drawRoundedRect(track, radius, radius);
    if (m_level <= 0)
        return;
    QPainterPath clip;
    clip.addRoundedRect(track, radius, radius);
    painter.setClipPath(clip);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_level > 0.9 ? MUTheme::warning() : MUTheme::live());
    painter.drawRect(QRectF(track.left(), track.top(), track.width() * m_level, track.height()));
}
