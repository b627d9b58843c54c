#pragma once

#include "platform/FocusedWindow.h"

#include <QHash>
#include <QString>

#include <memory>

struct wl_array;
struct wl_proxy;
class WaylandConnection;

// The focused application under Wayland, from the foreign-toplevel protocol
// (zwlr_foreign_toplevel_manager_v1): the app id of the activated toplevel, as both names of the
// window class. The compositor keeps us informed through events read on the event loop.
// Where the compositor does not offer the protocol, nothing can tell which application has the
// focus: the class is empty, which the paste takes for "not a terminal" (Control+V).
class ToplevelFocusedWindow : public FocusedWindow {
public:
    explicit ToplevelFocusedWindow(std::shared_ptr<WaylandConnection> connection);
    ~ToplevelFocusedWindow() override;

    WindowClass windowClass() override;

private:
    struct Toplevel {
        QString appId;
        bool activated = false;
        // Changes take effect with the handle's done event.
        QString pendingAppId;
        bool pendingActivated = false;
    };

    static void onToplevel(void *data, wl_proxy *manager, wl_proxy *handle);
    static void onManagerFinished(void *data, wl_proxy *manager);
    static void onTitle(void *data, wl_proxy *handle, const char *title);
    static void onAppId(void *data, wl_proxy *handle, const char *appId);
    static void onOutput(void *data, wl_proxy *handle, wl_proxy *output);
    static void onState(void *data, wl_proxy *handle, wl_array *state);
    static void onDone(void *data, wl_proxy *handle);
    static void onClosed(void *data, wl_proxy *handle);
    static void onParent(void *data, wl_proxy *handle, wl_proxy *parent);

    std::shared_ptr<WaylandConnection> m_connection;
    wl_proxy *m_manager = nullptr;
    QHash<wl_proxy *, Toplevel> m_toplevels;
};
