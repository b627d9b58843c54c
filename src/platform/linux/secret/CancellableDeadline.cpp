#include <gio/gio.h>

#include "platform/linux/secret/CancellableDeadline.h"

CancellableDeadline::CancellableDeadline(std::chrono::milliseconds limit)
    : m_cancellable(g_cancellable_new())
{
    m_watch = std::thread([this, limit] {
        std::unique_lock lock(m_mutex);
        if (!m_finished.wait_for(lock, limit, [this] { return m_done; }))
            g_cancellable_cancel(m_cancellable);
    });
}

CancellableDeadline::~CancellableDeadline()
{
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_finished.notify_all();
    m_watch.join();
    g_object_unref(m_cancellable);
}
