#pragma once

#include "DevServer.h"
#include "RecordingNetworkAccess.h"
#include "ScopedNetworkAccess.h"

#include <memory>
#include <optional>

// What every client suite starts from: the stand-in backend on a free port, the recording
// transport installed process-wide while the fixture lives, and no tokens in the keyring.
//
//     StandIn m_standIn;
//     void initTestCase() { QVERIFY(m_standIn.start()); }
//     void init() { QVERIFY(m_standIn.reset()); }
class StandIn {
public:
    StandIn() = default;
    ~StandIn();
    StandIn(const StandIn &) = delete;
    StandIn &operator=(const StandIn &) = delete;

    // Starts the stand-in and installs the transport (again after the stand-in was stopped: it
    // gets a new port); false outside the harness (no session bus for the keyring) or when the
    // stand-in does not start.
    bool start();
    // Before each case: the stand-in's state reset, the tokens removed, the recording cleared.
    bool reset();

    DevServer server;
    // Valid after start().
    RecordingNetworkAccess &access() { return *m_access; }

private:
    std::unique_ptr<RecordingNetworkAccess> m_access;
    std::optional<ScopedNetworkAccess> m_installed;
};
