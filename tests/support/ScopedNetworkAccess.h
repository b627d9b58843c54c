#pragma once

#include "net/NetworkAccess.h"

#include <QPointer>

// Installs a transport as the process-wide one for the lifetime of this object and puts back the
// one that was installed before, also when a failed check leaves the test early.
class ScopedNetworkAccess {
public:
    explicit ScopedNetworkAccess(NetworkAccess *access) : m_previous(NetworkAccess::shared())
    {
        NetworkAccess::setShared(access);
    }
    ~ScopedNetworkAccess() { NetworkAccess::setShared(m_previous); }
    ScopedNetworkAccess(const ScopedNetworkAccess &) = delete;
    ScopedNetworkAccess &operator=(const ScopedNetworkAccess &) = delete;

private:
    QPointer<NetworkAccess> m_previous;
};
