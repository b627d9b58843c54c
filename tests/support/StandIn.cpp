#include "StandIn.h"

#include "store/TokenStore.h"

#include <QtGlobal>

namespace {
void removeTokens()
{
    TokenStore::setAccessToken(std::nullopt);
    TokenStore::setRefreshToken(std::nullopt);
}
} // namespace

StandIn::~StandIn()
{
    if (m_installed)
        removeTokens();
    m_installed.reset();
}

bool StandIn::start()
{
    m_installed.reset();
    m_access.reset();
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        qWarning("no session bus: run the tests through scripts/harness.sh");
        return false;
    }
    if (!server.start())
        return false;
    m_access = std::make_unique<RecordingNetworkAccess>(server.port(), DevServer::caCertificates());
    m_installed.emplace(m_access.get());
    return true;
}

bool StandIn::reset()
{
    removeTokens();
    if (m_access)
        m_access->clear();
    return server.reset();
}
