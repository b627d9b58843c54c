#pragma once

#include "platform/InputMethodCommit.h"

#include <QDBusConnection>

// Commits through Murlex's module inside Fcitx5 (fcitx5-addon/), over the session bus.
class Fcitx5Commit : public InputMethodCommit {
public:
    explicit Fcitx5Commit(QDBusConnection bus, std::chrono::milliseconds replyTimeout = defaultReplyTimeout);

    QString frameworkName() const override;
    std::chrono::milliseconds replyTimeout() const override { return m_replyTimeout; }
    QCoro::Task<Result> commit(QString text) override;

private:
    QDBusConnection m_bus;
    std::chrono::milliseconds m_replyTimeout;
};
