#include "net/AuthClient.h"

#include "app/StrictUtf8.h"
#include "net/BackendConfig.h"
#include "net/NetworkAccess.h"
#include "net/RefreshCoordinator.h"
#include "net/RestReply.h"
#include "store/JWT.h"
#include "store/TokenStore.h"

#include <QCoroNetworkReply>
#include <QDateTime>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <memory>

QCoro::Task<Expected<QByteArray, TokenFailure>> AuthClient::post(QUrl url, QJsonObject body)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(int(requestTimeout.count()));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    const QByteArray payload = QJsonDocument(body).toJson(QJsonDocument::Compact);

    const RestReply::Owned reply(NetworkAccess::shared()->post(request, payload));
    co_await reply.get();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (RestReply::isTransportError(*reply) || (!status.isValid() && reply->error() != QNetworkReply::NoError))
        co_return TokenFailure(RestReply::platformError(*reply));
    if (!status.isValid())
        co_return TokenFailure(AuthError::decode());

    const QByteArray responseBody = reply->readAll();
    if (const int code = status.toInt(); code != 200)
        co_return TokenFailure(AuthError::http(code, StrictUtf8::decode(responseBody).value_or(QString())));
    co_return responseBody;
}

QCoro::Task<Expected<Done, TokenFailure>> AuthClient::signInWithApple(QString identityToken)
{
    QJsonObject body;
    body.insert(QLatin1String("identity_token"), identityToken);
    const Expected<QByteArray, TokenFailure> response = co_await post(BackendConfig::authAppleURL(), body);
    if (!response)
        co_return response.error();

    const std::optional<QJsonObject> record = RestReply::jsonObject(*response);
    if (!record)
        co_return TokenFailure(AuthError::decode());
    const QJsonValue accessToken = record->value(QLatin1String("access_token"));
    const QJsonValue refreshToken = record->value(QLatin1String("refresh_token"));
    const QJsonValue isNewUser = record->value(QLatin1String("is_new_user"));
    if (!accessToken.isString() || !refreshToken.isString() || !isNewUser.isBool())
        co_return TokenFailure(AuthError::decode());

    TokenStore::setAccessToken(accessToken.toString());
    TokenStore::setRefreshToken(refreshToken.toString());
    co_return Done{};
}

QCoro::Task<TokenResult> AuthClient::refreshAccessToken()
{
    const std::optional<QString> refreshToken = TokenStore::refreshToken();
    if (!refreshToken)
        co_return TokenFailure(AuthError::noRefreshToken());

    QJsonObject body;
    body.insert(QLatin1String("refresh_token"), *refreshToken);
    const Expected<QByteArray, TokenFailure> response = co_await post(BackendConfig::authRefreshURL(), body);
    if (!response)
        co_return response.error();

    const std::optional<QJsonObject> record = RestReply::jsonObject(*response);
    const QJsonValue accessToken = record ? record->value(QLatin1String("access_token")) : QJsonValue();
    if (!accessToken.isString())
        co_return TokenFailure(AuthError::decode());

    TokenStore::setAccessToken(accessToken.toString());
    co_return accessToken.toString();
}

QCoro::Task<TokenResult> AuthClient::validAccessToken()
{
    const std::optional<QString> token = TokenStore::accessToken();
    if (!token || token->isEmpty())
        co_return TokenFailure(AuthError::noAccessToken());

    if (const std::optional<QDateTime> expiry = JWT::expiry(*token)) {
        const double secondsLeft = double(QDateTime::currentDateTimeUtc().msecsTo(*expiry)) / 1000.0;
        if (secondsLeft > refreshMarginSeconds)
            co_return *token;
    }
    TokenResult shared = co_await RefreshCoordinator::shared().currentTask();
    co_return shared;
}
