#pragma once

#include "net/AccessTokenProvider.h"

// The account as the dictation controller sees it: AuthClient for tokens, TokenStore for
// signing out.
class AuthTokenProvider : public AccessTokenProvider {
public:
    QCoro::Task<TokenResult> validAccessToken() override;
    QCoro::Task<TokenResult> refreshAccessToken() override;
    void signOut() override;
};
