#pragma once

#include "ui/MainTab.h"
#include "ui/MainWindowServices.h"

#include <QWidget>

class HistoryTab;
class HomeTab;
class HotwordsTab;
class QListWidget;
class QSplitter;
class QStackedWidget;
class SettingsTab;

// The main view: a sidebar listing the tabs (首页, 热词, 历史, 设置) beside the selected tab. The
// selection starts at 首页 whenever the view is built.
class MainWindowView : public QWidget {
    Q_OBJECT
public:
    static constexpr int sidebarMinimumWidth = 160;
    static constexpr int sidebarIdealWidth = 180;
    static constexpr int sidebarMaximumWidth = 220;

    explicit MainWindowView(const MainWindowServices &services, QWidget *parent = nullptr);

    MainTab selection() const { return m_selection; }
    void select(MainTab tab);

    QListWidget *sidebar() const { return m_sidebar; }
    HomeTab *homeTab() const { return m_home; }
    HotwordsTab *hotwordsTab() const { return m_hotwords; }
    HistoryTab *historyTab() const { return m_history; }
    SettingsTab *settingsTab() const { return m_settings; }

protected:
    void changeEvent(QEvent *event) override;

private:
    void paintSidebarIcons();

    MainTab m_selection = MainTab::home;
    QSplitter *m_splitter;
    QListWidget *m_sidebar;
    QStackedWidget *m_detail;
    HomeTab *m_home;
    HotwordsTab *m_hotwords;
    HistoryTab *m_history;
    SettingsTab *m_settings;
};
