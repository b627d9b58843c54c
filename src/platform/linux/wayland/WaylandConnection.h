#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSocketNotifier>

#include <chrono>
#include <memory>

struct wl_display;
struct wl_interface;
struct wl_proxy;
struct wl_registry;

// Our own client connection to the Wayland compositor (Murlex's windows live on XWayland; this one
// is for the protocols that reach other applications). Events are read and dispatched on the Qt
// event loop when the socket has data; a wait for the compositor's answer is always bounded.
// Lives on the main thread.
class WaylandConnection : public QObject {
    Q_OBJECT
public:
    struct Global {
        uint32_t name;
        QByteArray interface;
        uint32_t version;
    };

    // The longest a start-up exchange with the compositor (the globals, a first state) may take.
    // KWin answers a client that its desktop entries name only after looking the entry up, which
    // takes seconds on a busy machine.
    static constexpr std::chrono::milliseconds roundtripBound{5000};

    // Connects to the socket `socket` names (a name in XDG_RUNTIME_DIR or an absolute path) and
    // learns the globals; check isConnected().
    explicit WaylandConnection(const QByteArray &socket, QObject *parent = nullptr);
    ~WaylandConnection() override;

    // The session's compositor (WAYLAND_DISPLAY), shared process-wide while anyone holds it; null
    // when this is no Wayland session or the compositor cannot be reached.
    static std::shared_ptr<WaylandConnection> session();

    bool isConnected() const;
    wl_display *display() const { return m_display; }
    const QList<Global> &globals() const { return m_globals; }
    bool hasGlobal(const char *interface) const;
    // Binds the global of that interface at min(version, offered); null when it is not offered.
    wl_proxy *bind(const wl_interface *interface, uint32_t version);

    // Sends what is queued and waits, at most `bound`, until the compositor has answered every
    // request sent so far, dispatching the events that come in meanwhile. False on timeout or a
    // broken connection.
    bool roundtrip(std::chrono::milliseconds bound = roundtripBound);
    // Sends what is queued, and dispatches whatever has arrived without waiting.
    void flush();

Q_SIGNALS:
    // The compositor closed the connection or reported a protocol error.
    void lost();

private:
    static void onGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t version);
    static void onGlobalRemove(void *data, wl_registry *registry, uint32_t name);
    void readAndDispatch();
    void checkError();

    wl_display *m_display = nullptr;
    wl_registry *m_registry = nullptr;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QList<Global> m_globals;
};
