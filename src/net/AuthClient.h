#pragma once

#include "core/Expected.h"
#include "net/AccessTokenProvider.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <chrono>

// The backend's account endpoints: exchanges an Apple identity token for the backend's access
// and refresh tokens, renews the access token, and hands out an access token that has more
// than five minutes to live. Stateless; the tokens live in TokenStore. It neither logs nor
// retries: failures go to the caller as AuthError values, or as the network layer's own error
// (PlatformError, domain "QNetworkReply") for transport failures. Stored tokens are only
// written on success. Runs on the thread's Qt event loop (the main thread in the application).
class AuthClient {
public:
    AuthClient() = delete;

    // Every request gives up after this long without progress.
    static constexpr std::chrono::milliseconds requestTimeout{60000};
    // A stored access token is used as it is only while it has strictly more than this to live.
    static constexpr double refreshMarginSeconds = 300.0;

    // POST /auth/apple {"identity_token": …}; stores the access token, then the refresh token.
    static QCoro::Task<Expected<Done, TokenFailure>> signInWithApple(QString identityToken);
    // POST /auth/refresh {"refresh_token": …} with the stored refresh token (no sharing);
    // stores and returns the new access token.
    static QCoro::Task<TokenResult> refreshAccessToken();
    // The stored access token when it has more than refreshMarginSeconds to live; otherwise
    // (or when its expiry cannot be read) the result of the process-wide shared refresh.
    static QCoro::Task<TokenResult> validAccessToken();

private:
    // The body of a 200 response to a JSON POST, or the failure.
    static QCoro::Task<Expected<QByteArray, TokenFailure>> post(QUrl url, QJsonObject body);
};
