#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

typedef struct _GCancellable GCancellable;

// A GCancellable that cancels itself once `limit` has passed, so that a synchronous GLib or
// D-Bus call given it returns within that time even when its peer never answers.
// Destroying the deadline stops the watch.
class CancellableDeadline {
public:
    explicit CancellableDeadline(std::chrono::milliseconds limit);
    ~CancellableDeadline();
    CancellableDeadline(const CancellableDeadline &) = delete;
    CancellableDeadline &operator=(const CancellableDeadline &) = delete;

    GCancellable *cancellable() const { return m_cancellable; }

private:
    GCancellable *m_cancellable;
    std::mutex m_mutex;
    std::condition_variable m_finished;
    bool m_done = false;
    std::thread m_watch;
};
