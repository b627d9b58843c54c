#pragma once

#include "platform/SecretStore.h"

#include <chrono>

// The secret store of the Secret Service (GNOME Keyring, KWallet) through libsecret: items with
// the attributes "service" and "account" in the default collection, the value as given.
// Every call is synchronous and bounded by `callTimeout`; a keyring that does not answer in
// time is treated like a failure.
class LibsecretStore : public SecretStore {
public:
    static constexpr std::chrono::milliseconds defaultCallTimeout{5000};

    explicit LibsecretStore(std::chrono::milliseconds callTimeout = defaultCallTimeout);

    std::optional<QByteArray> read(const QString &service, const QString &account) override;
    void write(const QString &service, const QString &account, const QByteArray &value) override;
    void remove(const QString &service, const QString &account) override;

private:
    std::chrono::milliseconds m_callTimeout;
};
