#include "shortcuts/LocalizedTexts.h"

#include <QHash>

namespace KeyboardShortcuts {

QString LocalizedTexts::text(const char *key)
{
    static const QHash<QString, QString> table{
        {QStringLiteral("record_shortcut"), QStringLiteral("录制快捷键")},
        {QStringLiteral("press_shortcut"), QStringLiteral("请按下快捷键")},
        {QStringLiteral("space_key"), QStringLiteral("空格")},
        {QStringLiteral("keyboard_shortcut_used_by_menu_item"),
         QStringLiteral("此快捷键无法使用，因为菜单项“%1”已在使用它。")},
        {QStringLiteral("keyboard_shortcut_used_by_system"),
         QStringLiteral("此快捷键无法使用，因为系统已在使用它。")},
        {QStringLiteral("keyboard_shortcuts_can_be_changed"),
         QStringLiteral("大多数系统快捷键可以在“设置 › 键盘 › 键盘快捷键”中更改。")},
        {QStringLiteral("ok"), QStringLiteral("好")},
        {QStringLiteral("force_use_shortcut"), QStringLiteral("仍然使用")},
        {QStringLiteral("keyboard_shortcut_disallowed"), QStringLiteral("不允许使用此快捷键，请换一个组合。")},
    };
    const QString k = QString::fromLatin1(key);
    return table.value(k, k);
}

} // namespace KeyboardShortcuts
