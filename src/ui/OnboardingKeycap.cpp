#include "ui/OnboardingKeycap.h"

#include "ui/OnboardingPalette.h"

#include <QPainter>

namespace {
constexpr int horizontalPadding = 10;
constexpr int verticalPadding = 4;
constexpr int edge = 2; // the shadow edge under the face
} // namespace

OnboardingKeycap::OnboardingKeycap(const QString &text, QWidget *parent)
    : QWidget(parent)
    , m_text(text)
{
    QFont f = font();
    f.setWeight(QFont::DemiBold);
    setFont(f);
    setAccessibleName(text);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void OnboardingKeycap::setText(const QString &text)
{
    if (m_text == text)
        return;
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

QSize OnboardingKeycap::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(m_text) + 2 * horizontalPadding, metrics.height() + 2 * verticalPadding + edge};
}

void OnboardingKeycap::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF face = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5 - edge);
    painter.setPen(Qt::NoPen);
    painter.setBrush(OnboardingPalette::border());
    painter.drawRoundedRect(face.translated(0, edge), 6, 6);
    painter.setBrush(OnboardingPalette::background());
    painter.setPen(QPen(OnboardingPalette::border(), 1));
    painter.drawRoundedRect(face, 6, 6);
    painter.setPen(OnboardingPalette::text());
    painter.drawText(face, Qt::AlignCenter, m_text);
}
