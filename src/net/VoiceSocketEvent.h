#pragma once

#include <QMetaType>
#include <QString>

#include <optional>

// One thing the recognition socket has to tell: a server message turned into a typed value,
// or the opening, failure or closing of the connection.
class VoiceSocketEvent {
public:
    enum class Kind { partial, finalSentence, asrDone, polishDone, error, disconnected, connected };

    static VoiceSocketEvent partial(QString text);
    static VoiceSocketEvent finalSentence(QString text);
    static VoiceSocketEvent asrDone(QString text, double asrTime);
    static VoiceSocketEvent polishDone(QString text, double polishTime, double totalTime);
    static VoiceSocketEvent error(QString message);
    static VoiceSocketEvent disconnected(int closeCode, std::optional<QString> reason);
    static VoiceSocketEvent connected();

    // The event a text message of the server carries: {"type":"partial","text":…} and the other
    // message types. None when it carries nothing to publish: not a JSON object with a string
    // "type" (logged as unparseable), an unknown type (logged), or a partial or final sentence
    // without text.
    static std::optional<VoiceSocketEvent> fromServerMessage(const QString &message);

    VoiceSocketEvent() = default; // connected; needed by the meta-type system

    Kind kind() const { return m_kind; }
    // partial, finalSentence, asrDone, polishDone: the text; error: the message.
    const QString &text() const { return m_text; }
    double asrTime() const { return m_asrTime; }
    double polishTime() const { return m_polishTime; }
    double totalTime() const { return m_totalTime; }
    int closeCode() const { return m_closeCode; }
    const std::optional<QString> &reason() const { return m_reason; }

    bool operator==(const VoiceSocketEvent &other) const = default;

    // Textual form for log lines and test failures, e.g. asrDone("你好", 0.5).
    QString describe() const;

private:
    VoiceSocketEvent(Kind kind, QString text = {}, double first = 0, double second = 0);

    Kind m_kind = Kind::connected;
    QString m_text;
    double m_asrTime = 0;
    double m_polishTime = 0;
    double m_totalTime = 0;
    int m_closeCode = 0;
    std::optional<QString> m_reason;
};

Q_DECLARE_METATYPE(VoiceSocketEvent)
