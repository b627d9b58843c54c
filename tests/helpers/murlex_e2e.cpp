// The murlex application as the end-to-end tests run it: the same ApplicationMain as the shipped
// program, talking through the suites' test transport. It keeps building the production URLs and
// connects to the stand-in the test started on 127.0.0.1:$MURLEX_E2E_STANDIN_PORT instead,
// verifying TLS against the development certificate authority.
#include "app/ApplicationMain.h"
#include "DevServer.h"
#include "RedirectingNetworkAccess.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    return ApplicationMain::run(argc, argv, [] {
        bool ok = false;
        const int port = qEnvironmentVariableIntValue("MURLEX_E2E_STANDIN_PORT", &ok);
        if (!ok || port <= 0 || port > 65535)
            qFatal("murlex_e2e: MURLEX_E2E_STANDIN_PORT names no port");
        NetworkAccess::setShared(new RedirectingNetworkAccess(static_cast<quint16>(port), DevServer::caCertificates(),
                                                              QCoreApplication::instance()));
    });
}
