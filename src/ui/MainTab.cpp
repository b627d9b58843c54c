#include "ui/MainTab.h"

namespace MainTabs {

QList<MainTab> all() { return {MainTab::home, MainTab::hotwords, MainTab::history, MainTab::settings}; }

QString rawValue(MainTab tab)
{
    switch (tab) {
    case MainTab::home:
        return QStringLiteral("home");
    case MainTab::hotwords:
        return QStringLiteral("hotwords");
    case MainTab::history:
        return QStringLiteral("history");
    case MainTab::settings:
        return QStringLiteral("settings");
    }
    return {};
}

QString label(MainTab tab)
{
    switch (tab) {
    case MainTab::home:
        return QStringLiteral("首页");
    case MainTab::hotwords:
        return QStringLiteral("热词");
    case MainTab::history:
        return QStringLiteral("历史");
    case MainTab::settings:
        return QStringLiteral("设置");
    }
    return {};
}

QString symbol(MainTab tab)
{
    switch (tab) {
    case MainTab::home:
        return QStringLiteral("house");
    case MainTab::hotwords:
        return QStringLiteral("character.book.closed");
    case MainTab::history:
        return QStringLiteral("clock.arrow.circlepath");
    case MainTab::settings:
        return QStringLiteral("gearshape");
    }
    return {};
}

} // namespace MainTabs
