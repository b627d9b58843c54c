#include "net/HotWordsAnswer.h"

#include "net/RestReply.h"

#include <QJsonArray>

std::optional<QStringList> HotWordsAnswer::list(const QByteArray &body)
{
    const std::optional<QJsonObject> record = RestReply::jsonObject(body);
    const QJsonValue list = record ? record->value(QLatin1String("hotwords")) : QJsonValue();
    if (!list.isArray())
        return std::nullopt;
    QStringList words;
    const QJsonArray array = list.toArray();
    for (const QJsonValue &word : array) {
        if (!word.isString())
            return std::nullopt;
        words.append(word.toString());
    }
    return words;
}

std::optional<bool> HotWordsAnswer::saved(const QByteArray &body)
{
    const std::optional<QJsonObject> record = RestReply::jsonObject(body);
    const QJsonValue saved = record ? record->value(QLatin1String("saved")) : QJsonValue();
    if (!saved.isBool())
        return std::nullopt;
    return saved.toBool();
}
