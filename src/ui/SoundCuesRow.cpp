#include "ui/SoundCuesRow.h"

#include "store/DictationPreferences.h"
#include "ui/MUTheme.h"

#include <QCheckBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

SoundCuesRow::SoundCuesRow(DictationPreferences &preferences, QWidget *parent)
    : QWidget(parent)
    , m_switch(new QCheckBox(QStringLiteral("提示音")))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_switch);
    auto *caption = new QLabel(QStringLiteral("开始录音和结束录音时各播放一声短促的提示音。"));
    MUTheme::makeCaption(caption);
    layout->addWidget(caption);

    m_switch->setChecked(preferences.soundCues());
    connect(m_switch, &QCheckBox::toggled, &preferences, &DictationPreferences::setSoundCues);
    connect(&preferences, &DictationPreferences::soundCuesChanged, m_switch, [this](bool on) {
        const QSignalBlocker quiet(m_switch);
        m_switch->setChecked(on);
    });
}
