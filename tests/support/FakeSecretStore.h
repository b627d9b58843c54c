#pragma once

#include "platform/SecretStore.h"

#include <QHash>
#include <QMutex>
#include <QPair>

// An in-memory secret store for tests that must see every call (e.g. that a failure writes
// nothing) or that must not depend on a keyring. Install it with TokenStore::setSecretStore.
class FakeSecretStore : public SecretStore {
public:
    std::optional<QByteArray> read(const QString &service, const QString &account) override;
    void write(const QString &service, const QString &account, const QByteArray &value) override;
    void remove(const QString &service, const QString &account) override;

    int reads() const;
    int writes() const;
    int removes() const;
    // Makes every later call fail the way an unreachable store does.
    void setUnavailable(bool unavailable);

private:
    mutable QMutex m_mutex;
    QHash<QPair<QString, QString>, QByteArray> m_items;
    int m_reads = 0;
    int m_writes = 0;
    int m_removes = 0;
    bool m_unavailable = false;
};
