#pragma once

#include <QList>
#include <QString>

// The tabs of the main window's sidebar, in their order.
enum class MainTab { home, hotwords, history, settings };

namespace MainTabs {
QList<MainTab> all();
// "home", "hotwords", "history", "settings".
QString rawValue(MainTab tab);
// The sidebar's label.
QString label(MainTab tab);
// The sidebar's symbol (MUTheme::symbol).
QString symbol(MainTab tab);
} // namespace MainTabs
