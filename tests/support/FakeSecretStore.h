#pragma once

#include "platform/SecretStore.h"

#include <QHash>
#include <QMutex>
#include <QPair>

// An in-memory secret store, for tests that must not depend on a keyring.
// Install it with TokenStore::setSecretStore(&fake) and remove it with setSecretStore(nullptr).
class FakeSecretStore : public SecretStore {
public:
    std::optional<QByteArray> read(const QString &service, const QString &account) override;
    void write(const QString &service, const QString &account, const QByteArray &value) override;
    void remove(const QString &service, const QString &account) override;

private:
    QMutex m_mutex;
    QHash<QPair<QString, QString>, QByteArray> m_items;
};
