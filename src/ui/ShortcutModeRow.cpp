#include "ui/ShortcutModeRow.h"

#include "store/DictationPreferences.h"
#include "ui/MUTheme.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

using Mode = DictationPreferences::ShortcutMode;

ShortcutModeRow::ShortcutModeRow(DictationPreferences &preferences, QWidget *parent)
    : QWidget(parent), m_preferences(preferences), m_choice(new QComboBox), m_caption(new QLabel)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *row = new QHBoxLayout;
    auto *label = new QLabel(QStringLiteral("快捷键模式"));
    label->setBuddy(m_choice);
    m_choice->addItem(QStringLiteral("按一下开始,再按一下结束"), QVariant::fromValue(Mode::toggle));
    m_choice->addItem(QStringLiteral("按住说话,松开结束"), QVariant::fromValue(Mode::hold));
    row->addWidget(label);
    row->addStretch(1);
    row->addWidget(m_choice);
    layout->addLayout(row);
    MUTheme::makeCaption(m_caption);
    layout->addWidget(m_caption);

    connect(m_choice, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_preferences.setShortcutMode(m_choice->itemData(index).value<Mode>()); });
    connect(&preferences, &DictationPreferences::shortcutModeChanged, this, &ShortcutModeRow::showPreference);
    showPreference();
}

void ShortcutModeRow::showPreference()
{
    const Mode mode = m_preferences.shortcutMode();
    {
        const QSignalBlocker quiet(m_choice);
        m_choice->setCurrentIndex(m_choice->findData(QVariant::fromValue(mode)));
    }
    m_caption->setText(mode == Mode::hold
                           ? QStringLiteral("按住快捷键说话,松开结束;不到 0.3 秒的短按照旧:按一下开始,再按一下结束。录音时按 Esc 取消,不粘贴任何文字。")
                           : QStringLiteral("录音时按 Esc 取消,不粘贴任何文字。"));
}
