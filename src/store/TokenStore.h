#pragma once

#include "core/AppIdentity.h"

#include <QString>

#include <optional>

class SecretStore;

// The access and refresh tokens, kept in the user's secret store and nowhere else: one item per
// token with the service of the bundle identifier ("quillfen.MurlexMac") and the account "access_token" or "refresh_token",
// holding the token's UTF-8 bytes. The access token the store last gave is kept in memory for the
// life of the process (never on disk), so a dictation asks the secret store only when no copy is
// held; every write or delete of it goes through here and drops the copy at once, so the next read
// sees the store's new content (a write the store dropped is not mistaken for a stored token). The
// refresh token is read from the store each time.
// The store never reports an error: a failed read is none, a failed write or delete is dropped.
class TokenStore {
public:
    TokenStore() = delete;

    static constexpr const char *service = AppIdentity::bundleIdentifier;
    static constexpr const char *accessTokenAccount = "access_token";
    static constexpr const char *refreshTokenAccount = "refresh_token";

    // A text stores it (insert or replace); none deletes the item.
    static std::optional<QString> accessToken();
    static void setAccessToken(const std::optional<QString> &token);
    static std::optional<QString> refreshToken();
    static void setRefreshToken(const std::optional<QString> &token);

    // Substitutes the secret store (not owned); nullptr restores the platform's own. Either drops
    // the copy held in memory.
    static void setSecretStore(SecretStore *store);

private:
    static SecretStore &store();
    static std::optional<QString> read(const char *account);
    static void write(const char *account, const std::optional<QString> &token);
};
