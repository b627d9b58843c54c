#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <functional>

class QKeyEvent;
class QMenu;

namespace KeyboardShortcuts {

// Watches the application's menus: tells when the first one opens and the last one closes, and
// while one is open hands its key events to `keyHandler` (an open menu holds the keyboard, so
// the desktop's hot keys do not fire meanwhile). Submenus of a watched menu are watched as they
// appear.
class MenuTracker : public QObject {
    Q_OBJECT
public:
    // `keyHandler` returns true for an event it consumed.
    explicit MenuTracker(std::function<bool(const QKeyEvent &)> keyHandler, QObject *parent = nullptr);

    void watch(QMenu *menu);
    // The menus passed to watch(), without their submenus.
    QList<QMenu *> menus() const;
    bool isMenuOpen() const { return !m_open.isEmpty(); }

Q_SIGNALS:
    void menuOpenChanged(bool open);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void track(QMenu *menu);
    void shown(QMenu *menu);
    void hidden(QObject *menu);

    std::function<bool(const QKeyEvent &)> m_keyHandler;
    QList<QPointer<QMenu>> m_menus;
    QSet<QObject *> m_tracked;
    QSet<QObject *> m_open;
};

} // namespace KeyboardShortcuts
