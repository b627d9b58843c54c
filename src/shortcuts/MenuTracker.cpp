#include "shortcuts/MenuTracker.h"

#include <QKeyEvent>
#include <QMenu>

namespace KeyboardShortcuts {

MenuTracker::MenuTracker(std::function<bool(const QKeyEvent &)> keyHandler, QObject *parent)
    : QObject(parent), m_keyHandler(std::move(keyHandler))
{
}

void MenuTracker::watch(QMenu *menu)
{
    if (!menu)
        return;
    m_menus.removeAll(nullptr);
    if (!m_menus.contains(menu))
        m_menus.append(menu);
    track(menu);
}

QList<QMenu *> MenuTracker::menus() const
{
    QList<QMenu *> result;
    for (const QPointer<QMenu> &menu : m_menus)
        if (menu)
            result.append(menu);
    return result;
}

void MenuTracker::track(QMenu *menu)
{
    if (m_tracked.contains(menu))
        return;
    m_tracked.insert(menu);
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { shown(menu); });
    connect(menu, &QMenu::aboutToHide, this, [this, menu] { hidden(menu); });
    connect(menu, &QObject::destroyed, this, [this](QObject *gone) {
        m_tracked.remove(gone);
        if (m_open.remove(gone) && m_open.isEmpty())
            Q_EMIT menuOpenChanged(false);
    });
}

void MenuTracker::shown(QMenu *menu)
{
    const auto actions = menu->actions();
    for (QAction *action : actions)
        if (QMenu *submenu = action->menu())
            track(submenu);
    if (m_open.contains(menu))
        return;
    menu->installEventFilter(this);
    m_open.insert(menu);
    if (m_open.size() == 1)
        Q_EMIT menuOpenChanged(true);
}

void MenuTracker::hidden(QObject *menu)
{
    if (!m_open.remove(menu))
        return;
    menu->removeEventFilter(this);
    if (m_open.isEmpty())
        Q_EMIT menuOpenChanged(false);
}

bool MenuTracker::eventFilter(QObject *watched, QEvent *event)
{
    if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) && m_open.contains(watched))
        return m_keyHandler(*static_cast<QKeyEvent *>(event));
    return QObject::eventFilter(watched, event);
}

} // namespace KeyboardShortcuts
