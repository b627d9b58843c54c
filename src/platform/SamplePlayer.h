#pragma once

#include "platform/AudioFormat.h"

#include <QByteArray>
#include <QString>

// Short sounds kept by the sound server and played from there by name: once a sound is uploaded,
// playing it is one message to the server, so it never holds up the caller. Main thread only.
class SamplePlayer {
public:
    virtual ~SamplePlayer() = default;

    // Hands `pcm` (interleaved signed 16-bit samples in `format`) to the sound server under `name`,
    // replacing a sound of that name, and waits (boundedly) until the server has it. False when the
    // server cannot be reached or refuses it.
    virtual bool upload(const QString &name, const QByteArray &pcm, const AudioFormat &format) = 0;
    // Starts playing the sound `name` on the default output and returns at once, without ever
    // waiting for the server. False (and nothing plays) when the sound was not uploaded through
    // this player, when there is no connection to the server, or when the server answered the
    // last play of it that it no longer has it: upload it again.
    virtual bool play(const QString &name) = 0;
};
