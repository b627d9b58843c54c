#include "ui/OnboardingProgressBar.h"

#include "ui/OnboardingBackButton.h"
#include "ui/OnboardingPalette.h"

#include <QPainter>

namespace {
constexpr int capsuleHeight = 6;
constexpr int capsuleGap = 6;
constexpr int leadingGap = 12;
} // namespace

OnboardingProgressBar::OnboardingProgressBar(int currentSegment, int totalSegments, std::function<void()> onBack,
                                             QWidget *parent)
    : QWidget(parent)
    , m_currentSegment(currentSegment)
    , m_totalSegments(qMax(totalSegments, 0))
{
    setFixedHeight(OnboardingBackButton::side);
    if (onBack) {
        m_back = new OnboardingBackButton(this);
        m_back->move(0, 0);
        connect(m_back, &QAbstractButton::clicked, this, [onBack = std::move(onBack)] { onBack(); });
    }
}

QRectF OnboardingProgressBar::capsuleRect(int number) const
{
    if (number < 1 || number > m_totalSegments)
        return {};
    // The back button's place is kept whether or not the button is there.
    const qreal left = OnboardingBackButton::side + leadingGap;
    const qreal available = width() - left - capsuleGap * (m_totalSegments - 1);
    const qreal each = qMax<qreal>(available / m_totalSegments, 0);
    return QRectF(left + (number - 1) * (each + capsuleGap), (height() - capsuleHeight) / 2.0, each, capsuleHeight);
}

void OnboardingProgressBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int number = 1; number <= m_totalSegments; ++number) {
        painter.setBrush(number <= m_currentSegment ? OnboardingPalette::primary() : OnboardingPalette::faint());
        painter.drawRoundedRect(capsuleRect(number), capsuleHeight / 2.0, capsuleHeight / 2.0);
    }
}
