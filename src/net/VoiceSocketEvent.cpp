#include "net/VoiceSocketEvent.h"

VoiceSocketEvent VoiceSocketEvent::partial(QString text)
{
    VoiceSocketEvent e;
    e.m_kind = Kind::partial;
    e.m_text = std::move(text);
    return e;
}

VoiceSocketEvent VoiceSocketEvent::finalSentence(QString text)
{
    VoiceSocketEvent e;
    e.m_kind = Kind::finalSentence;
    e.m_text = std::move(text);
    return e;
}

VoiceSocketEvent VoiceSocketEvent::asrDone(QString text, double asrTime)
{
    VoiceSocketEvent e;
    e.m_kind = Kind::asrDone;
    e.m_text = std::move(text);
    e.m_asrTime = asrTime;
    return e;
}

VoiceSocketEvent VoiceSocketEvent::polishDone(QString text, double polishTime, double totalTime)
{
    VoiceSocketEvent e;
    e.m_kind = Kind::polishDone;
    e.m_text = std::move(text);
    e.m_polishTime = polishTime;
    e.m_totalTime = totalTime;
    return e;
}

VoiceSocketEvent VoiceSocketEvent::error(QString message)
{
    VoiceSocketEvent e;
    e.m_kind = Kind::error;
    e.m_text = std::move(message);
    return e;
}

VoiceSocketEvent VoiceSocketEvent::disconnected(int closeCode, std::optional<QString> reason)
{
    VoiceSocketEvent e;
    e.m_kind = Kind::disconnected;
    e.m_closeCode = closeCode;
    e.m_reason = std::move(reason);
    return e;
}

VoiceSocketEvent VoiceSocketEvent::connected()
{
    return VoiceSocketEvent();
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
