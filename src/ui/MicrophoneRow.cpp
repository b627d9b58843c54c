#include "ui/MicrophoneRow.h"

#include "app/AppState.h"
#include "audio/InputLevelMeter.h"
#include "store/DictationPreferences.h"
#include "ui/LevelMeterBar.h"
#include "ui/MUTheme.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

MicrophoneRow::MicrophoneRow(AppState &state, std::unique_ptr<InputSources> sources,
                             std::unique_ptr<InputLevelMeter> meter, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
    , m_sources(std::move(sources))
    , m_meter(std::move(meter))
    , m_chooser(new QComboBox)
    , m_bar(new LevelMeterBar)
    , m_missing(new QLabel(QStringLiteral("所选麦克风当前未连接,录音时将自动选择;它重新连接后会再次使用。")))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    auto *choiceRow = new QHBoxLayout;
    auto *choiceLabel = new QLabel(QStringLiteral("麦克风"));
    choiceLabel->setBuddy(m_chooser);
    // Inputs can have long descriptions: the closed box keeps a steady width, the list shows them whole.
    m_chooser->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_chooser->setMinimumContentsLength(22);
    choiceRow->addWidget(choiceLabel);
    choiceRow->addStretch(1);
    choiceRow->addWidget(m_chooser);
    layout->addLayout(choiceRow);

    auto *levelRow = new QHBoxLayout;
    auto *levelLabel = new QLabel(QStringLiteral("输入音量"));
    MUTheme::makeCaption(levelLabel);
    levelLabel->setWordWrap(false);
    levelRow->addWidget(levelLabel);
    levelRow->addWidget(m_bar, 1);
    layout->addLayout(levelRow);

    MUTheme::makeCaption(m_missing);
    QPalette warning = m_missing->palette();
    warning.setColor(QPalette::WindowText, MUTheme::warning());
    m_missing->setPalette(warning);
    layout->addWidget(m_missing);

    connect(m_sources.get(), &InputSources::sourcesChanged, this, &MicrophoneRow::showSources);
    connect(m_chooser, &QComboBox::activated, this, &MicrophoneRow::choose);
    connect(&m_state.preferences(), &DictationPreferences::inputSourceChanged, this, [this] {
        showChoice();
        updateMeter();
    });
    connect(&m_state, &AppState::phaseChanged, this, [this] { updateMeter(); });
    connect(m_meter.get(), &InputLevelMeter::levelChanged, m_bar, &LevelMeterBar::setLevel);
    showChoice();
}

MicrophoneRow::~MicrophoneRow() = default;

QString MicrophoneRow::automaticText() { return QStringLiteral("自动(优先内置麦克风)"); }

void MicrophoneRow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_shown = true;
    m_sources->start();
    updateMeter();
}

void MicrophoneRow::hideEvent(QHideEvent *event)
{
    m_shown = false;
    m_sources->stop();
    updateMeter();
    QWidget::hideEvent(event);
}

void MicrophoneRow::showSources(const QList<InputSource> &sources)
{
    m_available = sources;
    showChoice();
    // The chosen input may have come back, or a built-in one appeared: measure what records now.
    updateMeter(true);
}

void MicrophoneRow::showChoice()
{
    const QSignalBlocker quiet(m_chooser);
    const QString chosen = m_state.preferences().inputSource();
    m_chooser->clear();
    m_chooser->addItem(automaticText(), QString());
    bool present = chosen.isEmpty();
    for (const InputSource &source : std::as_const(m_available)) {
        m_chooser->addItem(source.description, source.name);
        m_chooser->setItemData(m_chooser->count() - 1, source.name, Qt::ToolTipRole);
        present = present || source.name == chosen;
    }
    if (!present)
        m_chooser->addItem(chosen + QStringLiteral("(未连接)"), chosen);
    m_chooser->setCurrentIndex(std::max(0, m_chooser->findData(chosen)));
    m_missing->setVisible(!present);
}

void MicrophoneRow::choose(int index)
{
    m_state.preferences().setInputSource(m_chooser->itemData(index).toString());
}

void MicrophoneRow::updateMeter(bool restart)
{
    // A dictation owns the microphone from its recording on; the meter waits until it is over.
    const Phase::Kind phase = m_state.phase().kind();
    const bool dictating = phase != Phase::Kind::idle && phase != Phase::Kind::error;
    if (!m_shown || dictating) {
        m_meter->stop();
        return;
    }
    const QString chosen = m_state.preferences().inputSource();
    if (m_meter->isRunning() && chosen == m_meteredInput && !restart)
        return;
    m_meteredInput = chosen;
    m_meter->start(chosen);
}
