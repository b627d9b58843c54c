#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>

class QWidget;

// Whether accessibility is granted, as one view shows it: read when the view is built, then
// re-read on a repeating timer only while the view is visible (the timer starts when the view is
// shown and is dropped when it is hidden). trustedChanged() fires only when an answer differs.
class AccessibilityTrustPoll : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds defaultInterval{1000};

    // `view` is watched, not owned; the poll is its child.
    AccessibilityTrustPoll(QWidget *view, std::function<bool()> isTrusted,
                           std::chrono::milliseconds interval = defaultInterval);

    bool trusted() const { return m_trusted; }
    // Whether the timer exists (the view is visible).
    bool isPolling() const { return m_pollTimer != nullptr; }
    std::chrono::milliseconds interval() const { return m_interval; }

Q_SIGNALS:
    void trustedChanged(bool trusted);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void start();
    void stop();
    void poll();

    QWidget *m_view;
    std::function<bool()> m_isTrusted;
    std::chrono::milliseconds m_interval;
    bool m_trusted;
    QPointer<QTimer> m_pollTimer;
};
