#include "platform/linux/wayland/ToplevelFocusedWindow.h"

#include "platform/linux/wayland/WaylandConnection.h"

#include "wlr-foreign-toplevel-client-protocol.h"

#include <wayland-client.h>

ToplevelFocusedWindow::ToplevelFocusedWindow(std::shared_ptr<WaylandConnection> connection)
    : m_connection(std::move(connection))
{
    if (!m_connection)
        return;
    m_manager = m_connection->bind(&zwlr_foreign_toplevel_manager_v1_interface, 3);
    if (!m_manager)
        return;
    static const zwlr_foreign_toplevel_manager_v1_listener listener = {
        .toplevel = reinterpret_cast<decltype(listener.toplevel)>(&ToplevelFocusedWindow::onToplevel),
        .finished = reinterpret_cast<decltype(listener.finished)>(&ToplevelFocusedWindow::onManagerFinished),
    };
    zwlr_foreign_toplevel_manager_v1_add_listener(reinterpret_cast<zwlr_foreign_toplevel_manager_v1 *>(m_manager),
                                                  &listener, this);
    // The compositor lists the existing toplevels at once.
    m_connection->roundtrip();
}

ToplevelFocusedWindow::~ToplevelFocusedWindow()
{
    if (!m_connection || !m_connection->isConnected())
        return;
    for (wl_proxy *handle : m_toplevels.keys())
        zwlr_foreign_toplevel_handle_v1_destroy(reinterpret_cast<zwlr_foreign_toplevel_handle_v1 *>(handle));
    if (m_manager) {
        // The compositor answers stop with finished, which must not reach this object any more:
        // the proxy goes now, and libwayland drops what still comes for it.
        zwlr_foreign_toplevel_manager_v1_stop(reinterpret_cast<zwlr_foreign_toplevel_manager_v1 *>(m_manager));
        wl_proxy_destroy(m_manager);
    }
    m_connection->flush();
}

WindowClass ToplevelFocusedWindow::windowClass()
{
    if (!m_manager)
        return {};
    // Whatever the compositor reported since the event loop last looked.
    m_connection->flush();
    for (const Toplevel &toplevel : std::as_const(m_toplevels))
        if (toplevel.activated)
            return {toplevel.appId, toplevel.appId};
    return {};
}

void ToplevelFocusedWindow::onToplevel(void *data, wl_proxy *, wl_proxy *handle)
{
    auto *self = static_cast<ToplevelFocusedWindow *>(data);
    static const zwlr_foreign_toplevel_handle_v1_listener listener = {
        .title = reinterpret_cast<decltype(listener.title)>(&ToplevelFocusedWindow::onTitle),
        .app_id = reinterpret_cast<decltype(listener.app_id)>(&ToplevelFocusedWindow::onAppId),
        .output_enter = reinterpret_cast<decltype(listener.output_enter)>(&ToplevelFocusedWindow::onOutput),
        .output_leave = reinterpret_cast<decltype(listener.output_leave)>(&ToplevelFocusedWindow::onOutput),
        .state = reinterpret_cast<decltype(listener.state)>(&ToplevelFocusedWindow::onState),
        .done = reinterpret_cast<decltype(listener.done)>(&ToplevelFocusedWindow::onDone),
        .closed = reinterpret_cast<decltype(listener.closed)>(&ToplevelFocusedWindow::onClosed),
        .parent = reinterpret_cast<decltype(listener.parent)>(&ToplevelFocusedWindow::onParent),
    };
    zwlr_foreign_toplevel_handle_v1_add_listener(reinterpret_cast<zwlr_foreign_toplevel_handle_v1 *>(handle),
                                                 &listener, self);
    self->m_toplevels.insert(handle, {});
}

void ToplevelFocusedWindow::onManagerFinished(void *data, wl_proxy *manager)
{
    auto *self = static_cast<ToplevelFocusedWindow *>(data);
    wl_proxy_destroy(manager);
    self->m_manager = nullptr;
}

void ToplevelFocusedWindow::onTitle(void *, wl_proxy *, const char *) {}

void ToplevelFocusedWindow::onAppId(void *data, wl_proxy *handle, const char *appId)
{
    auto *self = static_cast<ToplevelFocusedWindow *>(data);
    self->m_toplevels[handle].pendingAppId = QString::fromUtf8(appId);
}

void ToplevelFocusedWindow::onOutput(void *, wl_proxy *, wl_proxy *) {}

void ToplevelFocusedWindow::onState(void *data, wl_proxy *handle, wl_array *state)
{
    auto *self = static_cast<ToplevelFocusedWindow *>(data);
    bool activated = false;
    const auto *entries = static_cast<const uint32_t *>(state->data);
    for (size_t i = 0; i < state->size / sizeof(uint32_t); ++i)
        if (entries[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED)
            activated = true;
    self->m_toplevels[handle].pendingActivated = activated;
}

void ToplevelFocusedWindow::onDone(void *data, wl_proxy *handle)
{
    auto *self = static_cast<ToplevelFocusedWindow *>(data);
    Toplevel &toplevel = self->m_toplevels[handle];
    toplevel.appId = toplevel.pendingAppId;
    toplevel.activated = toplevel.pendingActivated;
}

void ToplevelFocusedWindow::onClosed(void *data, wl_proxy *handle)
{
    auto *self = static_cast<ToplevelFocusedWindow *>(data);
    self->m_toplevels.remove(handle);
    zwlr_foreign_toplevel_handle_v1_destroy(reinterpret_cast<zwlr_foreign_toplevel_handle_v1 *>(handle));
}

void ToplevelFocusedWindow::onParent(void *, wl_proxy *, wl_proxy *) {}
