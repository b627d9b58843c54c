#pragma once

#include "core/Expected.h"
#include "core/PlatformError.h"
#include "net/AuthError.h"

#include <QString>
#include <QCoro/QCoroTask>

#include <variant>

// A failure of a token operation: an AuthError, or a platform error passed through unchanged.
using TokenFailure = std::variant<AuthError, PlatformError>;
using TokenResult = Expected<QString, TokenFailure>;

// What the dictation controller needs of the account: a token good for the connection, one
// direct refresh, and signing out. The real one sits over AuthClient and TokenStore.
class AccessTokenProvider {
public:
    virtual ~AccessTokenProvider() = default;
    // The stored access token, refreshed first (through the shared refresh) when it is about to expire.
    virtual QCoro::Task<TokenResult> validAccessToken() = 0;
    // One direct "/auth/refresh" exchange; stores and returns the new access token.
    virtual QCoro::Task<TokenResult> refreshAccessToken() = 0;
    // Deletes both stored tokens.
    virtual void signOut() = 0;
};
