#include "net/VoiceSocketEvent.h"

#include "app/AppLogger.h"
#include "core/ExactJson.h"
#include "core/LeadingCharacters.h"

#include <QJsonDocument>
#include <QJsonObject>

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

std::optional<VoiceSocketEvent> VoiceSocketEvent::fromServerMessage(const QString &message)
{
    QJsonParseError parseError;
    const QJsonDocument document = parseJsonExactly(message.toUtf8(), &parseError);
    const QJsonObject object = document.object();
    const QJsonValue typeValue = object.value(QStringLiteral("type"));
    if (parseError.error != QJsonParseError::NoError || !document.isObject() || !typeValue.isString()) {
        qCCritical(AppLogger::socket, "received unparseable string: %s", qUtf8Printable(leadingCharacters(message, 80)));
        return std::nullopt;
    }

    const QString type = typeValue.toString();
    const QJsonValue text = object.value(QStringLiteral("text"));
    const auto number = [&object](const char *key) {
        const QJsonValue value = object.value(QLatin1String(key));
        return value.isDouble() ? value.toDouble() : 0.0;
    };
    const QString textOrEmpty = text.isString() ? text.toString() : QString();

    if (type == QLatin1String("partial")) {
        if (text.isString())
            return partial(text.toString());
    } else if (type == QLatin1String("final_sentence")) {
        if (text.isString())
            return finalSentence(text.toString());
    } else if (type == QLatin1String("asr_done")) {
        return asrDone(textOrEmpty, number("asr_time"));
    } else if (type == QLatin1String("polish_done")) {
        return polishDone(textOrEmpty, number("polish_time"), number("total_time"));
    } else if (type == QLatin1String("error")) {
        const QJsonValue errorMessage = object.value(QStringLiteral("message"));
        return error(errorMessage.isString() ? errorMessage.toString() : QStringLiteral("unknown"));
    } else {
        qCCritical(AppLogger::socket, "unknown message type: %s", qUtf8Printable(type));
    }
    return std::nullopt;
}
