#include "ui/AccessibilityTrustPoll.h"

#include <QEvent>
#include <QWidget>

AccessibilityTrustPoll::AccessibilityTrustPoll(QWidget *view, std::function<bool()> isTrusted,
                                               std::chrono::milliseconds interval)
    : QObject(view), m_view(view), m_isTrusted(std::move(isTrusted)), m_interval(interval), m_trusted(m_isTrusted())
{
    view->installEventFilter(this);
    if (view->isVisible())
        start();
}

bool AccessibilityTrustPoll::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view) {
        if (event->type() == QEvent::Show)
            start();
        else if (event->type() == QEvent::Hide)
            stop();
    }
    return QObject::eventFilter(watched, event);
}

void AccessibilityTrustPoll::start()
{
    if (m_pollTimer)
        return;
    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(m_interval);
    connect(m_pollTimer, &QTimer::timeout, this, &AccessibilityTrustPoll::poll);
    m_pollTimer->start();
}

void AccessibilityTrustPoll::stop()
{
    delete m_pollTimer;
}

void AccessibilityTrustPoll::poll()
{
    const bool trusted = m_isTrusted();
    if (trusted == m_trusted)
        return;
    m_trusted = trusted;
    Q_EMIT trustedChanged(trusted);
}
