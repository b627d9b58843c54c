#include "ui/RecordingOverlayView.h"

#include "injection/TextInjection.h"

#include "app/AppState.h"
#include "store/DictationPreferences.h"
#include "ui/OverlaySpinner.h"
#include "ui/PulsingDot.h"
#include "ui/StatusGlyph.h"

#include <QPainter>
#include <QPainterPath>

namespace {
const QColor recordingRed(0xFF, 0x3B, 0x30);
} // namespace

RecordingOverlayView::RecordingOverlayView(AppState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(&state)
    , m_dot(new PulsingDot(recordingRed, this))
    , m_spinner(new OverlaySpinner(Qt::white, this))
    , m_check(new StatusGlyph(StatusGlyph::Kind::check, this))
    , m_warning(new StatusGlyph(StatusGlyph::Kind::warning, this))
{
    setFixedSize(width, height);
    setAttribute(Qt::WA_TranslucentBackground);
    const QRect indicatorBox(outerPadding + horizontalPadding, (height - indicatorSize) / 2, indicatorSize, indicatorSize);
    for (QWidget *indicator : {static_cast<QWidget *>(m_dot), static_cast<QWidget *>(m_spinner),
                               static_cast<QWidget *>(m_check), static_cast<QWidget *>(m_warning)}) {
        indicator->setGeometry(indicatorBox);
        indicator->hide();
    }
    connect(&state, &AppState::phaseChanged, this, &RecordingOverlayView::refresh);
    connect(&state, &AppState::partialTextChanged, this, &RecordingOverlayView::refresh);
    connect(&state, &AppState::debugModeChanged, this, &RecordingOverlayView::refresh);
    connect(&state, &AppState::textDelivered, this, [this](TextInjection::Outcome outcome) {
        if (!m_state || m_state->phase().kind() != Phase::Kind::injecting)
            return;
        m_outcome = outcome;
        refresh();
    });
    refresh();
}

RecordingOverlayView::~RecordingOverlayView() = default;

void RecordingOverlayView::refresh()
{
    if (!m_state)
        return;
    const Phase phase = m_state->phase();
    if (phase.kind() != Phase::Kind::injecting)
        m_outcome.reset();
    QString text;
    Indicator indicator = Indicator::none;
    switch (phase.kind()) {
    case Phase::Kind::idle:
        // On its way out: keep what was shown rather than flash an empty capsule.
        return;
    case Phase::Kind::recording:
        text = m_state->debugMode() && !m_state->partialText().isEmpty() ? m_state->partialText()
                                                                         : QStringLiteral("聆听中…");
        indicator = Indicator::pulsingDot;
        break;
    case Phase::Kind::finalizing:
        text = QStringLiteral("转录中…");
        indicator = Indicator::spinner;
        break;
    case Phase::Kind::polishing:
        text = QStringLiteral("润色中…");
        indicator = Indicator::spinner;
        break;
    case Phase::Kind::injecting:
        // What the injection did decides: until it has answered, what was shown stays; a failure
        // turns into the error.
        if (!m_outcome || *m_outcome == TextInjection::Outcome::failed)
            return;
        // Copy only as a result option is what the person asked for; otherwise they are told how
        // to paste the text left on the clipboard.
        if (*m_outcome == TextInjection::Outcome::pasted)
            text = QStringLiteral("已完成");
        else if (m_state->preferences().copyOnly())
            text = QStringLiteral("已复制");
        else
            text = QStringLiteral("已复制,请按 Ctrl+V 粘贴");
        indicator = Indicator::check;
        break;
    case Phase::Kind::error:
        text = phase.message();
        indicator = Indicator::warning;
        break;
    }
    if (text == m_text && indicator == m_indicator)
        return;
    m_text = text;
    m_indicator = indicator;
    m_dot->setVisible(indicator == Indicator::pulsingDot);
    m_spinner->setVisible(indicator == Indicator::spinner);
    m_check->setVisible(indicator == Indicator::check);
    m_warning->setVisible(indicator == Indicator::warning);
    update();
}

bool RecordingOverlayView::isAnimating() const
{
    return m_dot->isAnimating() || m_spinner->isAnimating();
}

QRectF RecordingOverlayView::capsuleRect()
{
    return QRectF(outerPadding, outerPadding, width - 2 * outerPadding, height - 2 * outerPadding);
}

QFont RecordingOverlayView::textFont()
{
    QFont font;
    font.setPixelSize(fontPixelSize);
    font.setWeight(QFont::Medium);
    return font;
}

QRect RecordingOverlayView::textRect() const
{
    const int left = outerPadding + horizontalPadding + indicatorSize + spacing;
    const int right = width - outerPadding - horizontalPadding;
    return QRect(left, outerPadding + verticalPadding, right - left, height - 2 * (outerPadding + verticalPadding));
}

QString RecordingOverlayView::displayedText() const
{
    // One line: line breaks of a transcript or a message become spaces, and what does not fit is
    // cut out of the middle.
    QString line = m_text;
    for (QChar &c : line) {
        if (c == u'\n' || c == u'\r' || c == u'\t' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return QFontMetrics(textFont()).elidedText(line, Qt::ElideMiddle, textRect().width());
}

void RecordingOverlayView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    QPainterPath capsule;
    capsule.addRoundedRect(capsuleRect(), cornerRadius, cornerRadius);
    painter.fillPath(capsule, QColor::fromRgbF(0, 0, 0, 0.78f));
    // The 1-pixel border lies inside the capsule's outline.
    QPainterPath border;
    border.addRoundedRect(capsuleRect().adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius - 0.5, cornerRadius - 0.5);
    painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.08f), 1.0));
    painter.drawPath(border);

    painter.setFont(textFont());
    painter.setPen(Qt::white);
    painter.drawText(textRect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, displayedText());
}
