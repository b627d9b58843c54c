#pragma once

#include "platform/InputMethodCommit.h"

#include <QDBusConnection>

#include <memory>
#include <optional>

class QDBusServiceWatcher;

// Commits through Murlex's module inside Fcitx5 (fcitx5-addon/), over the session bus. Whether
// Fcitx5 runs is followed from the bus's own announcements, so where it does not run a commit
// answers at once, without a round trip on the way to the paste.
class Fcitx5Commit : public InputMethodCommit {
public:
    explicit Fcitx5Commit(QDBusConnection bus, std::chrono::milliseconds replyTimeout = defaultReplyTimeout);
    ~Fcitx5Commit() override;

    QString frameworkName() const override;
    std::chrono::milliseconds replyTimeout() const override { return m_replyTimeout; }
    QCoro::Task<Result> commit(QString text) override;

private:
    QDBusConnection m_bus;
    std::chrono::milliseconds m_replyTimeout;
    std::unique_ptr<QDBusServiceWatcher> m_watcher;
    // Whether Fcitx5 owns its name; empty until the bus has told.
    std::optional<bool> m_running;
};
