#include "net/VoiceSocketEvent.h"

VoiceSocketEvent::VoiceSocketEvent(Kind kind, QString text, double first, double second)
    : m_kind(kind)
    , m_text(std::move(text))
    , m_asrTime(kind == Kind::asrDone ? first : 0)
    , m_polishTime(kind == Kind::polishDone ? first : 0)
    , m_totalTime(kind == Kind::polishDone ? second : 0)
{
}

VoiceSocketEvent VoiceSocketEvent::partial(QString text) { return {Kind::partial, std::move(text)}; }
VoiceSocketEvent VoiceSocketEvent::finalSentence(QString text) { return {Kind::finalSentence, std::move(text)}; }
VoiceSocketEvent VoiceSocketEvent::asrDone(QString text, double asrTime) { return {Kind::asrDone, std::move(text), asrTime}; }
VoiceSocketEvent VoiceSocketEvent::error(QString message) { return {Kind::error, std::move(message)}; }
VoiceSocketEvent VoiceSocketEvent::connected() { return {}; }

VoiceSocketEvent VoiceSocketEvent::polishDone(QString text, double polishTime, double totalTime)
{
    return {Kind::polishDone, std::move(text), polishTime, totalTime};
}

VoiceSocketEvent VoiceSocketEvent::disconnected(int closeCode, std::optional<QString> reason)
{
    VoiceSocketEvent e(Kind::disconnected);
    e.m_closeCode = closeCode;
    e.m_reason = std::move(reason);
    return e;
}

QString VoiceSocketEvent::describe() const
{
    const auto quoted = [](const QString &s) { return QLatin1Char('"') + s + QLatin1Char('"'); };
    switch (m_kind) {
    case Kind::partial:
        return QStringLiteral("partial(%1)").arg(quoted(m_text));
    case Kind::finalSentence:
        return QStringLiteral("finalSentence(%1)").arg(quoted(m_text));
    case Kind::asrDone:
        return QStringLiteral("asrDone(%1, %2)").arg(quoted(m_text), QString::number(m_asrTime));
    case Kind::polishDone:
        return QStringLiteral("polishDone(%1, %2, %3)")
            .arg(quoted(m_text), QString::number(m_polishTime), QString::number(m_totalTime));
    case Kind::error:
        return QStringLiteral("error(%1)").arg(quoted(m_text));
    case Kind::disconnected:
        return QStringLiteral("disconnected(%1, %2)")
            .arg(QString::number(m_closeCode), m_reason ? quoted(*m_reason) : QStringLiteral("nil"));
    case Kind::connected:
        return QStringLiteral("connected");
    }
    return {};
}
