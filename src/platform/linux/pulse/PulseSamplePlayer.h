#pragma once

#include "platform/SamplePlayer.h"
#include "platform/linux/pulse/PulseConnection.h"

#include <map>
#include <memory>

// Sounds in a PulseAudio server's sample cache: uploaded through an upload stream, played with
// pa_context_play_sample on the server's default sink. The connection (and its thread) is made
// on the first upload.
class PulseSamplePlayer final : public SamplePlayer {
public:
    explicit PulseSamplePlayer(QString server = {});

    bool upload(const QString &name, const QByteArray &pcm, const AudioFormat &format) override;
    bool play(const QString &name) override;

private:
    struct Sound {
        QByteArray name;
        bool lost = false; // the server failed to play it; with the loop locked
    };
    static void onPlayed(pa_context *context, int success, void *sound);

    const QString m_server;
    std::map<QString, std::unique_ptr<Sound>> m_sounds; // outlives the connection's callbacks
    std::unique_ptr<PulseConnection> m_connection;
};
