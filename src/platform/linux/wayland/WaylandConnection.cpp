#include "platform/linux/wayland/WaylandConnection.h"

#include "app/AppLogger.h"

#include <QElapsedTimer>

#include <wayland-client.h>

#include <cerrno>
#include <csignal>
#include <poll.h>

namespace {

void onSyncDone(void *data, wl_callback *, uint32_t)
{
    *static_cast<bool *>(data) = true;
}

const wl_callback_listener syncListener = {.done = onSyncDone};

} // namespace

WaylandConnection::WaylandConnection(const QByteArray &socket, QObject *parent) : QObject(parent)
{
    // A client that stops reading the clipboard data we write would otherwise end the process
    // with SIGPIPE; a failed write is handled where it happens.
    std::signal(SIGPIPE, SIG_IGN);

    m_display = wl_display_connect(socket.isEmpty() ? nullptr : socket.constData());
    if (!m_display) {
        qCWarning(AppLogger::app, "cannot connect to the Wayland compositor at %s", socket.constData());
        return;
    }
    static const wl_registry_listener listener = {.global = &WaylandConnection::onGlobal,
                                                  .global_remove = &WaylandConnection::onGlobalRemove};
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &listener, this);

    m_notifier = std::make_unique<QSocketNotifier>(wl_display_get_fd(m_display), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &WaylandConnection::readAndDispatch);

    if (!roundtrip())
        qCWarning(AppLogger::app, "the Wayland compositor did not list its globals within %lld ms",
                  static_cast<long long>(roundtripBound.count()));
}

WaylandConnection::~WaylandConnection()
{
    m_notifier.reset();
    if (m_registry)
        wl_registry_destroy(m_registry);
    if (m_display)
        wl_display_disconnect(m_display);
}

std::shared_ptr<WaylandConnection> WaylandConnection::session()
{
    static std::weak_ptr<WaylandConnection> shared;
    if (auto existing = shared.lock())
        return existing;
    const QByteArray socket = qgetenv("WAYLAND_DISPLAY");
    if (socket.isEmpty())
        return nullptr;
    auto connection = std::make_shared<WaylandConnection>(socket);
    if (!connection->isConnected())
        return nullptr;
    shared = connection;
    return connection;
}

bool WaylandConnection::isConnected() const
{
    return m_display && wl_display_get_error(m_display) == 0;
}

bool WaylandConnection::hasGlobal(const char *interface) const
{
    for (const Global &global : m_globals)
        if (global.interface == interface)
            return true;
    return false;
}

wl_proxy *WaylandConnection::bind(const wl_interface *interface, uint32_t version)
{
    if (!isConnected())
        return nullptr;
    for (const Global &global : std::as_const(m_globals)) {
        if (global.interface == interface->name)
            return static_cast<wl_proxy *>(
                wl_registry_bind(m_registry, global.name, interface, std::min(version, global.version)));
    }
    return nullptr;
}

void WaylandConnection::onGlobal(void *data, wl_registry *, uint32_t name, const char *interface, uint32_t version)
{
    static_cast<WaylandConnection *>(data)->m_globals.append({name, QByteArray(interface), version});
}

void WaylandConnection::onGlobalRemove(void *data, wl_registry *, uint32_t name)
{
    auto *self = static_cast<WaylandConnection *>(data);
    self->m_globals.removeIf([name](const Global &global) { return global.name == name; });
}

bool WaylandConnection::roundtrip(std::chrono::milliseconds bound)
{
    if (!isConnected())
        return false;
    bool done = false;
    wl_callback *callback = wl_display_sync(m_display);
    wl_callback_add_listener(callback, &syncListener, &done);
    QElapsedTimer waited;
    waited.start();
    // A bounded wait on the socket, not an event loop: only this connection's events are
    // dispatched meanwhile, and the wait ends at the bound whatever the compositor does.
    while (!done && isConnected()) {
        while (wl_display_prepare_read(m_display) != 0)
            wl_display_dispatch_pending(m_display);
        if (done) {
            wl_display_cancel_read(m_display);
            break;
        }
        wl_display_flush(m_display);
        const qint64 left = bound.count() - waited.elapsed();
        if (left <= 0) {
            wl_display_cancel_read(m_display);
            break;
        }
        pollfd fd{wl_display_get_fd(m_display), POLLIN, 0};
        const int ready = poll(&fd, 1, static_cast<int>(left));
        if (ready > 0) {
            wl_display_read_events(m_display);
        } else {
            wl_display_cancel_read(m_display);
            if (ready < 0 && errno != EINTR)
                break;
        }
        wl_display_dispatch_pending(m_display);
    }
    wl_callback_destroy(callback);
    checkError();
    return done;
}

void WaylandConnection::flush()
{
    if (!isConnected())
        return;
    wl_display_dispatch_pending(m_display);
    wl_display_flush(m_display);
    checkError();
}

void WaylandConnection::readAndDispatch()
{
    if (!isConnected())
        return;
    while (wl_display_prepare_read(m_display) != 0)
        wl_display_dispatch_pending(m_display);
    // The socket is readable: reading does not block.
    if (wl_display_read_events(m_display) < 0) {
        checkError();
        return;
    }
    wl_display_dispatch_pending(m_display);
    wl_display_flush(m_display);
    checkError();
}

void WaylandConnection::checkError()
{
    if (!m_display || !m_notifier || !m_notifier->isEnabled() || wl_display_get_error(m_display) == 0)
        return;
    qCWarning(AppLogger::app, "the connection to the Wayland compositor broke (error %d)", wl_display_get_error(m_display));
    m_notifier->setEnabled(false);
    Q_EMIT lost();
}
