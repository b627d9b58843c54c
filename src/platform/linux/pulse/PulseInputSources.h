#pragma once

#include "platform/InputSources.h"
#include "platform/linux/pulse/PulseConnection.h"

#include <memory>

// The input sources of a PulseAudio server (also PipeWire through pipewire-pulse), followed
// through the server's source events. Each event asks the server for the whole list again, on
// the PulseAudio thread; a list that differs from the last one reaches the main thread as
// sourcesChanged(). The connection (and its thread) is made on the first start().
class PulseInputSources final : public InputSources {
    Q_OBJECT
public:
    explicit PulseInputSources(QString server = {}, QObject *parent = nullptr);
    ~PulseInputSources() override;

    void start() override;
    void stop() override;

private:
    void stopLocked();
    void requestListLocked();
    void publish(const QList<InputSource> &sources);
    static void onSource(pa_context *context, const pa_source_info *source, int eol, void *self);

    const QString m_server;
    std::unique_ptr<PulseConnection> m_connection;
    // Touched with the loop locked:
    int m_subscription = 0;
    pa_operation *m_listing = nullptr;
    bool m_listAgain = false; // a change came while a listing ran
    QList<PulseSourceInfo> m_collected;
    std::optional<QList<InputSource>> m_published;
};
