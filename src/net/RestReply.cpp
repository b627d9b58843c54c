#include "net/RestReply.h"

#include <QJsonDocument>

std::optional<QJsonObject> RestReply::jsonObject(const QByteArray &body)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}
