#include "ui/MUTheme.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "ui/MUCard.h"

namespace MUTheme {

QColor accent() { return QColor(0x2f, 0x6b, 0xff); }
QColor live() { return QColor(0x22, 0xa8, 0x5a); }
QColor warning() { return QColor(0xe0, 0x7b, 0x12); }

bool isDark(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightnessF() < palette.color(QPalette::WindowText).lightnessF();
}

QColor cardFill(const QPalette &palette)
{
    const QColor window = palette.color(QPalette::Window);
    return isDark(palette) ? window.lighter(135) : window.lighter(104);
}

QColor cardOutline(const QPalette &palette)
{
    const QColor window = palette.color(QPalette::Window);
    return isDark(palette) ? window.lighter(185) : window.darker(116);
}

namespace {
QFont scaled(qreal factor, QFont::Weight weight)
{
    QFont font = QApplication::font();
    const qreal base = font.pointSizeF() > 0 ? font.pointSizeF() : 10.0;
    font.setPointSizeF(base * factor);
    font.setWeight(weight);
    return font;
}
} // namespace

QFont heroFont() { return scaled(1.9, QFont::Bold); }
QFont titleFont() { return scaled(1.1, QFont::DemiBold); }
QFont sectionFont() { return scaled(1.0, QFont::Bold); }
QFont captionFont() { return scaled(0.9, QFont::Normal); }
QFont keycapFont() { return scaled(1.5, QFont::DemiBold); }

QPixmap symbol(const QString &name, int size, const QColor &color)
{
    const QIcon shape(QStringLiteral(":/ui/assets/symbols/") + name + QStringLiteral(".svg"));
    QPixmap pixmap = shape.pixmap(size, size);
    if (pixmap.isNull())
        return pixmap;
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    return pixmap;
}

QIcon symbolIcon(const QString &name, const QPalette &palette, int size)
{
    QIcon icon;
    icon.addPixmap(symbol(name, size, palette.color(QPalette::WindowText)), QIcon::Normal);
    icon.addPixmap(symbol(name, size, palette.color(QPalette::HighlightedText)), QIcon::Selected);
    return icon;
}

QWidget *groupedSection(const QString &title, QWidget *body)
{
    auto *section = new QWidget;
    section->setObjectName(title);
    auto *layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto *heading = new QLabel(title);
    heading->setFont(sectionFont());
    layout->addWidget(heading);
    auto *card = new MUCard(14);
    card->content()->addWidget(body);
    layout->addWidget(card);
    return section;
}

void makeCaption(QLabel *label)
{
    label->setFont(captionFont());
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
}

} // namespace MUTheme
