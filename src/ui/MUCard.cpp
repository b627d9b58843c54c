#include "ui/MUCard.h"

#include "ui/MUTheme.h"

#include <QPainter>
#include <QVBoxLayout>

MUCard::MUCard(int padding, QWidget *parent) : QWidget(parent), m_content(new QVBoxLayout(this))
{
    m_content->setContentsMargins(padding, padding, padding, padding);
    m_content->setSpacing(8);
}

void MUCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(MUTheme::cardOutline(palette()), 1));
    painter.setBrush(MUTheme::cardFill(palette()));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), MUTheme::cornerRadius, MUTheme::cornerRadius);
}
