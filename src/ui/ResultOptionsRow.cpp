#include "ui/ResultOptionsRow.h"

#include "store/DictationHistory.h"
#include "store/DictationPreferences.h"
#include "ui/MUTheme.h"

#include <QCheckBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {
QLabel *caption(const QString &text)
{
    auto *label = new QLabel(text);
    MUTheme::makeCaption(label);
    return label;
}
} // namespace

ResultOptionsRow::ResultOptionsRow(DictationPreferences &preferences, QWidget *parent)
    : QWidget(parent)
    , m_saveHistory(new QCheckBox(QStringLiteral("保存听写历史")))
    , m_copyOnly(new QCheckBox(QStringLiteral("只复制,不粘贴")))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_saveHistory);
    layout->addWidget(caption(QStringLiteral("把最近 %1 条结果存到本机,只有你的账户能读取;关闭后立即删除。从不保存录音。")
                                  .arg(DictationHistory::capacity)));
    layout->addSpacing(6);
    layout->addWidget(m_copyOnly);
    layout->addWidget(caption(QStringLiteral("结果只放到剪贴板,不模拟按键,也不恢复原来的剪贴板内容;"
                                             "适合不欢迎模拟按键的应用。")));

    m_saveHistory->setChecked(preferences.saveHistory());
    m_copyOnly->setChecked(preferences.copyOnly());
    connect(m_saveHistory, &QCheckBox::toggled, &preferences, &DictationPreferences::setSaveHistory);
    connect(m_copyOnly, &QCheckBox::toggled, &preferences, &DictationPreferences::setCopyOnly);
    connect(&preferences, &DictationPreferences::saveHistoryChanged, m_saveHistory, [this](bool on) {
        const QSignalBlocker quiet(m_saveHistory);
        m_saveHistory->setChecked(on);
    });
    connect(&preferences, &DictationPreferences::copyOnlyChanged, m_copyOnly, [this](bool on) {
        const QSignalBlocker quiet(m_copyOnly);
        m_copyOnly->setChecked(on);
    });
}
