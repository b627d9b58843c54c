#include "FakeSecretStore.h"

#include <QMutexLocker>

std::optional<QByteArray> FakeSecretStore::read(const QString &service, const QString &account)
{
    QMutexLocker lock(&m_mutex);
    ++m_reads;
    const auto it = m_items.constFind({service, account});
    if (m_unavailable || it == m_items.constEnd())
        return std::nullopt;
    return *it;
}

void FakeSecretStore::write(const QString &service, const QString &account, const QByteArray &value)
{
    QMutexLocker lock(&m_mutex);
    ++m_writes;
    if (!m_unavailable)
        m_items.insert({service, account}, value);
}

void FakeSecretStore::remove(const QString &service, const QString &account)
{
    QMutexLocker lock(&m_mutex);
    ++m_removes;
    if (!m_unavailable)
        m_items.remove({service, account});
}

int FakeSecretStore::reads() const
{
    QMutexLocker lock(&m_mutex);
    return m_reads;
}

int FakeSecretStore::writes() const
{
    QMutexLocker lock(&m_mutex);
    return m_writes;
}

int FakeSecretStore::removes() const
{
    QMutexLocker lock(&m_mutex);
    return m_removes;
}

void FakeSecretStore::setUnavailable(bool unavailable)
{
    QMutexLocker lock(&m_mutex);
    m_unavailable = unavailable;
}
