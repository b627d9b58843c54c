// The recognition server's text messages: the text-frame decoder and the event it produces.
// QWebSocket hands a text message over as a QString decoded from the frame's UTF-8.

#include "FuzzSupport.h"

#include "net/VoiceSocketEvent.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString message = QString::fromUtf8(FuzzSupport::bytes(data, size));
    const std::optional<VoiceSocketEvent> event = VoiceSocketEvent::fromServerMessage(message);
    if (!event)
        return 0;
    using Kind = VoiceSocketEvent::Kind;
    // A server message never opens or closes the connection.
    FuzzSupport::check(event->kind() != Kind::connected && event->kind() != Kind::disconnected,
                       "a server message became a connection event");
    (void)event->describe();
    return 0;
}
