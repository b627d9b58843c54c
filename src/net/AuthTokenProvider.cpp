#include "net/AuthTokenProvider.h"

#include "net/AuthClient.h"
#include "store/TokenStore.h"

QCoro::Task<TokenResult> AuthTokenProvider::validAccessToken()
{
    return AuthClient::validAccessToken();
}

QCoro::Task<TokenResult> AuthTokenProvider::refreshAccessToken()
{
    return AuthClient::refreshAccessToken();
}

void AuthTokenProvider::signOut()
{
    TokenStore::setAccessToken(std::nullopt);
    TokenStore::setRefreshToken(std::nullopt);
}
