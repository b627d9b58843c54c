#include "ui/KeycapView.h"

#include "ui/MUTheme.h"

#include <QPainter>

namespace {
constexpr int keyHeight = 46;
constexpr int keyPadding = 14;
constexpr int keySpacing = 8;
constexpr int shadow = 3;

bool isModifierGlyph(QChar c)
{
    return c == QChar(0x2303) || c == QChar(0x2325) || c == QChar(0x21E7) || c == QChar(0x2318);
}
} // namespace

KeycapView::KeycapView(const QString &text, QWidget *parent) : QWidget(parent)
{
    setFont(MUTheme::keycapFont());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setText(text);
}

void KeycapView::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

QStringList KeycapView::keys() const
{
    QStringList keys;
    qsizetype i = 0;
    while (i < m_text.size() && isModifierGlyph(m_text.at(i)))
        keys << QString(m_text.at(i++));
    if (i < m_text.size())
        keys << m_text.mid(i);
    return keys;
}

int KeycapView::keyWidth(const QString &key) const
{
    return std::max(keyHeight, QFontMetrics(font()).horizontalAdvance(key) + 2 * keyPadding);
}

QSize KeycapView::sizeHint() const
{
    int width = 0;
    const QStringList all = keys();
    for (const QString &key : all)
        width += keyWidth(key);
    width += keySpacing * std::max<qsizetype>(0, all.size() - 1);
    return {std::max(width, 1), keyHeight + shadow + 1};
}

void KeycapView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette &colors = palette();
    int x = 0;
    for (const QString &key : keys()) {
        const QRectF cap(x + 0.5, 0.5, keyWidth(key) - 1, keyHeight);
        // The key's side, then its top.
        painter.setPen(Qt::NoPen);
        painter.setBrush(MUTheme::cardOutline(colors));
        painter.drawRoundedRect(cap.translated(0, shadow), 8, 8);
        painter.setPen(QPen(MUTheme::cardOutline(colors), 1));
        painter.setBrush(MUTheme::cardFill(colors));
        painter.drawRoundedRect(cap, 8, 8);
        painter.setPen(colors.color(QPalette::WindowText));
        painter.drawText(cap, Qt::AlignCenter, key);
        x += keyWidth(key) + keySpacing;
    }
}
