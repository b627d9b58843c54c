#include "store/TokenStore.h"

#include "core/StrictUtf8.h"
#include "platform/Platform.h"
#include "platform/SecretStore.h"

#include <QMutex>

#include <atomic>

namespace {
std::atomic<SecretStore *> g_substitute{nullptr};

// The access token as the secret store last gave it. The generation counts every change of the
// item made through here (and every change of store): a read that began before one does not put
// what it found back into the copy.
struct AccessTokenCopy {
    QMutex mutex;
    std::optional<QString> token;
    quint64 generation = 0;

    void drop()
    {
        const QMutexLocker lock(&mutex);
        token.reset();
        ++generation;
    }
};

AccessTokenCopy &accessTokenCopy()
{
    static AccessTokenCopy copy;
    return copy;
}
} // namespace

void TokenStore::setSecretStore(SecretStore *store)
{
    g_substitute.store(store);
    accessTokenCopy().drop();
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

std::optional<QString> TokenStore::accessToken()
{
    AccessTokenCopy &copy = accessTokenCopy();
    quint64 generation = 0;
    {
        const QMutexLocker lock(&copy.mutex);
        if (copy.token)
            return copy.token;
        generation = copy.generation;
    }
    // Outside the lock: a read may wait on the store for seconds. None is not kept, so a token that
    // appears later (the store unlocked, another sign-in) is found.
    const std::optional<QString> token = read(accessTokenAccount);
    if (token) {
        const QMutexLocker lock(&copy.mutex);
        if (copy.generation == generation)
            copy.token = token;
    }
    return token;
}

void TokenStore::setAccessToken(const std::optional<QString> &token)
{
    // Dropped before the store changes as well as after: no reader keeps the old token once this
    // began, nor puts back what it read while the store changed.
    accessTokenCopy().drop();
    write(accessTokenAccount, token);
    accessTokenCopy().drop();
}

std::optional<QString> TokenStore::refreshToken() { return read(refreshTokenAccount); }
void TokenStore::setRefreshToken(const std::optional<QString> &token) { write(refreshTokenAccount, token); }
