#include "net/AuthAnswer.h"

#include "net/RestReply.h"

std::optional<AuthAnswer::SignIn> AuthAnswer::signIn(const QByteArray &body)
{
    const std::optional<QJsonObject> record = RestReply::jsonObject(body);
    if (!record)
        return std::nullopt;
    const QJsonValue accessToken = record->value(QLatin1String("access_token"));
    const QJsonValue refreshToken = record->value(QLatin1String("refresh_token"));
    const QJsonValue isNewUser = record->value(QLatin1String("is_new_user"));
    if (!accessToken.isString() || !refreshToken.isString() || !isNewUser.isBool())
        return std::nullopt;
    return SignIn{accessToken.toString(), refreshToken.toString(), isNewUser.toBool()};
}

std::optional<QString> AuthAnswer::refresh(const QByteArray &body)
{
    const std::optional<QJsonObject> record = RestReply::jsonObject(body);
    const QJsonValue accessToken = record ? record->value(QLatin1String("access_token")) : QJsonValue();
    if (!accessToken.isString())
        return std::nullopt;
    return accessToken.toString();
}
