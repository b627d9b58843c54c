#include "ui/OnboardingPage.h"

#include "ui/OnboardingPalette.h"
#include "ui/StatusGlyph.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int horizontalMargin = 40;
constexpr int verticalMargin = 28;
constexpr int primaryButtonWidth = 240;
constexpr int primaryButtonHeight = 38;

QString primaryButtonStyle()
{
    return QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 8px;"
                          " font-weight: 600; padding: 0 18px; }"
                          "QPushButton:pressed { background: %3; }"
                          "QPushButton:focus { outline: none; }")
        .arg(OnboardingPalette::primary().name(), OnboardingPalette::onPrimary().name(),
             OnboardingPalette::primaryPressed().name());
}
} // namespace

OnboardingPage::OnboardingPage(QWidget *parent)
    : QWidget(parent)
    , m_column(new QVBoxLayout(this))
{
    m_column->setContentsMargins(horizontalMargin, verticalMargin, horizontalMargin, verticalMargin);
    m_column->setSpacing(12);
    setAutoFillBackground(true);
    QFont f = font();
    f.setPointSizeF(f.pointSizeF() * 1.1);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::Window, OnboardingPalette::background());
    p.setColor(QPalette::WindowText, OnboardingPalette::text());
    setPalette(p);
}

QPushButton *OnboardingPage::addPrimaryButton(const QString &label)
{
    m_primary = new QPushButton(label, this);
    m_primary->setFixedSize(primaryButtonWidth, primaryButtonHeight);
    m_primary->setStyleSheet(primaryButtonStyle());
    m_primary->setCursor(Qt::PointingHandCursor);
    m_column->addWidget(m_primary, 0, Qt::AlignHCenter);
    return m_primary;
}

QLabel *OnboardingPage::makeTitle(const QString &text)
{
    auto *label = new QLabel(text, this);
    QFont f = label->font();
    f.setPointSizeF(f.pointSizeF() * 1.7);
    f.setWeight(QFont::Bold);
    label->setFont(f);
    label->setAlignment(Qt::AlignHCenter);
    return label;
}

QLabel *OnboardingPage::makeBody(const QString &text)
{
    auto *label = new QLabel(text, this);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignHCenter);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, OnboardingPalette::secondaryText());
    label->setPalette(p);
    return label;
}

QWidget *OnboardingPage::makeCheckRow(const QString &text)
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addStretch();
    auto *check = new StatusGlyph(StatusGlyph::Kind::check, row);
    check->setFixedSize(18, 18);
    layout->addWidget(check);
    auto *label = new QLabel(text, row);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, OnboardingPalette::success().darker(130));
    label->setPalette(p);
    layout->addWidget(label);
    layout->addStretch();
    return row;
}

void OnboardingPage::keyPressEvent(QKeyEvent *event)
{
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (isReturn && m_primary && m_primary->isEnabled() && isEnabled()) {
        // A held key must not run through several pages at once.
        if (!event->isAutoRepeat())
            m_primary->click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void OnboardingPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The keyboard starts on the default action, so Return works without a click first.
    if (m_primary && !focusWidget())
        m_primary->setFocus(Qt::OtherFocusReason);
}
