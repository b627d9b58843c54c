#pragma once

#include "app/Phase.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class AppState;
class QMenu;
class QSystemTrayIcon;
namespace KeyboardShortcuts {
class Shortcut;
}

// The application's presence in the system tray: the icon "MenuBarIcon" (the same in every phase)
// and its menu, rebuilt from the state whenever a field it shows changes:
//   status line · [“live transcript”] · [上次注入: …] · 开始/结束录音 (…) · 粘贴上一次结果 · 调试模式 ·
//   打开主窗口 · 退出 MurlexMac
// A click on the icon (either button) opens the menu. Without any system tray on the desktop it says
// so once in the log; the global shortcut keeps working.
class MenuBarController : public QObject {
    Q_OBJECT
public:
    // How many characters of the last injected text the menu shows, and how wide (in pixels) and how
    // many lines the live transcript may take.
    static constexpr int lastInjectedPrefix = 60;
    static constexpr int transcriptWidth = 300;
    static constexpr int transcriptLines = 2;

    explicit MenuBarController(AppState &state, QObject *parent = nullptr);
    ~MenuBarController() override;

    // What "打开主窗口" does: show, raise and activate the main window (set by whoever builds it).
    void setMainWindowOpener(std::function<void()> open);

    QMenu *menu() const { return m_menu.get(); }
    QSystemTrayIcon *trayIcon() const { return m_tray.get(); }

    // The tray icon, from the application's resources.
    static QIcon icon();
    // The status line for a phase.
    static QString statusText(const Phase &phase, bool isConnected);
    // The toggle item's title for the stored shortcut.
    static QString toggleTitle(const std::optional<KeyboardShortcuts::Shortcut> &shortcut);

protected:
    // The quit chord while the menu is open (a popup menu does not dispatch its items' shortcuts).
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void rebuild();
    // Only the status line shows the phase: a phase change rewrites that line in place instead of
    // rebuilding every entry, so the paste that follows "injecting" at once does not wait for it.
    void showStatus();
    void quit();
    void addTextLine(const QString &text, const QFont &font, bool secondary, int maxLines);
    void openMainWindow();
    void popUpMenu();

    QPointer<AppState> m_state;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    std::function<void()> m_openMainWindow;
};
