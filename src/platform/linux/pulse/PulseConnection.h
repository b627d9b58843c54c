#pragma once

#include <pulse/pulseaudio.h>

#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <map>
#include <optional>

// A source of the PulseAudio server as the audio code needs it.
struct PulseSourceInfo {
    uint32_t index = PA_INVALID_INDEX;
    QString name;
    QString description; // the server's human-readable name, e.g. "Built-in Audio Analog Stereo"
    pa_sample_spec sampleSpec{};
    pa_channel_map channelMap{};
    bool isMonitor = false;
    bool isBuiltIn = false; // property device.form_factor "internal" or device.bus "pci"
};

// The one connection of the process to the PulseAudio server: a threaded main loop and a
// context, made on first use and made again when the server went away. Every blocking call
// waits at most `operationTimeout` for the server.
//
// Threads: the public functions are for the main thread, never for the PulseAudio thread, and
// are called without the loop locked unless they say otherwise. Subscribers and stream
// callbacks run on the PulseAudio thread with the loop locked.
class PulseConnection {
public:
    // How long a blocking request waits for the server's answer.
    static constexpr std::chrono::milliseconds kOperationTimeout{3000};

    // `server`: a PulseAudio server string; empty means the client configuration's default.
    explicit PulseConnection(QString server = {}, std::chrono::milliseconds operationTimeout = kOperationTimeout);
    ~PulseConnection();
    PulseConnection(const PulseConnection &) = delete;
    PulseConnection &operator=(const PulseConnection &) = delete;

    // Connects when not connected. False when the server cannot be reached in time.
    bool ensureConnected();
    // The description of the last failure, e.g. "Connection refused".
    QString lastError() const;

    std::optional<QList<PulseSourceInfo>> sources();
    // What the audio code reads of a source the server describes.
    static PulseSourceInfo sourceInfo(const pa_source_info &source);
    std::optional<PulseSourceInfo> source(const QString &name);
    std::optional<PulseSourceInfo> source(uint32_t index);
    // The server's default source; nullopt when it cannot be read, empty when there is none.
    std::optional<QString> defaultSourceName();

    enum class Event { sourceAdded, sourceChanged, sourceRemoved, defaultSourceChanged };
    using Subscriber = std::function<void(Event event, uint32_t sourceIndex)>;
    // Subscribers are told of new, changed and removed sources and of default-source changes on the PulseAudio thread and
    // must not block. Call with the loop locked.
    int addSubscriber(Subscriber subscriber);
    void removeSubscriber(int id);

    // Holds the loop lock: while held, no callback of this connection runs.
    class Locker {
    public:
        explicit Locker(PulseConnection &connection);
        ~Locker();
        Locker(const Locker &) = delete;
        Locker &operator=(const Locker &) = delete;

    private:
        pa_threaded_mainloop *m_loop;
    };

    // Valid after ensureConnected(); use with the loop locked.
    pa_context *context() const { return m_context; }
    // Waits, with the loop locked, until `done` holds or the operation timeout passes; whatever
    // changes what `done` reads must call signal(). True when `done` holds.
    bool waitUntil(const std::function<bool()> &done);
    // Wakes waitUntil(); for callbacks on the PulseAudio thread.
    void signal();
    // Records the context's last error as lastError(); with the loop locked.
    void noteContextError();

private:
    bool startLoop();
    bool connectLocked();
    void dropContextLocked();
    bool await(pa_operation *operation);
    void notify(Event event, uint32_t index);

    static void onContextState(pa_context *context, void *self);
    static void onSubscription(pa_context *context, pa_subscription_event_type_t type, uint32_t index, void *self);
    static void onServerInfoEvent(pa_context *context, const pa_server_info *info, void *self);

    const QString m_server;
    const std::chrono::milliseconds m_timeout;
    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;
    QString m_lastError;
    QString m_defaultSource;                // kept current on the PulseAudio thread
    std::map<int, Subscriber> m_subscribers; // touched with the loop locked
    int m_nextSubscriberId = 1;
};
