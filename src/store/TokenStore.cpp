#include "store/TokenStore.h"

#include "core/StrictUtf8.h"
#include "platform/Platform.h"
#include "platform/SecretStore.h"

#include <atomic>

namespace {
std::atomic<SecretStore *> g_substitute{nullptr};
}

void TokenStore::setSecretStore(SecretStore *store)
{
    g_substitute.store(store);
}

SecretStore &TokenStore::store()
{
    if (SecretStore *substitute = g_substitute.load())
        return *substitute;
    return Platform::secretStore();
}

std::optional<QString> TokenStore::read(const char *account)
{
    const std::optional<QByteArray> bytes = store().read(QLatin1String(service), QLatin1String(account));
    if (!bytes)
        return std::nullopt;
    return StrictUtf8::decode(*bytes);
}

void TokenStore::write(const char *account, const std::optional<QString> &token)
{
    if (token)
        store().write(QLatin1String(service), QLatin1String(account), token->toUtf8());
    else
        store().remove(QLatin1String(service), QLatin1String(account));
}

std::optional<QString> TokenStore::accessToken() { return read(accessTokenAccount); }
void TokenStore::setAccessToken(const std::optional<QString> &token) { write(accessTokenAccount, token); }
std::optional<QString> TokenStore::refreshToken() { return read(refreshTokenAccount); }
void TokenStore::setRefreshToken(const std::optional<QString> &token) { write(refreshTokenAccount, token); }
