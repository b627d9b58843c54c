#include "net/AuthClient.h"

#include "core/StrictUtf8.h"
#include "net/AuthAnswer.h"
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

    const std::optional<AuthAnswer::SignIn> answer = AuthAnswer::signIn(*response);
    if (!answer)
        co_return TokenFailure(AuthError::decode());

    TokenStore::setAccessToken(answer->accessToken);
    TokenStore::setRefreshToken(answer->refreshToken);
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

    const std::optional<QString> accessToken = AuthAnswer::refresh(*response);
    if (!accessToken)
        co_return TokenFailure(AuthError::decode());

    TokenStore::setAccessToken(*accessToken);
    co_return *accessToken;
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
