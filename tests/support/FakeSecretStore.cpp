#include "FakeSecretStore.h"

#include <QMutexLocker>

std::optional<QByteArray> FakeSecretStore::read(const QString &service, const QString &account)
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_items.constFind({service, account});
    if (it == m_items.constEnd())
        return std::nullopt;
    return *it;
}

void FakeSecretStore::write(const QString &service, const QString &account, const QByteArray &value)
{
    QMutexLocker lock(&m_mutex);
    m_items.insert({service, account}, value);
}

void FakeSecretStore::remove(const QString &service, const QString &account)
{
    QMutexLocker lock(&m_mutex);
    m_items.remove({service, account});
}
