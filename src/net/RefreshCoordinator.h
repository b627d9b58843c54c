#pragma once

#include "net/AccessTokenProvider.h"

#include <QObject>

#include <functional>
#include <memory>

// The one refresh of the access token that everybody shares. While a refresh is in flight,
// and after it finished until its clearing (a separately queued step) has run, every caller
// gets that refresh's result: the same token or the same error. The caller after the clearing
// starts a new refresh. Lives on the thread of its event loop and is used from there only,
// so looking at the refresh in flight and starting one is a single step.
class RefreshCoordinator : public QObject {
    Q_OBJECT
public:
    using Refresh = std::function<QCoro::Task<TokenResult>()>;

    // The process-wide coordinator over AuthClient::refreshAccessToken(); never destroyed.
    static RefreshCoordinator &shared();

    explicit RefreshCoordinator(Refresh refresh, QObject *parent = nullptr);
    ~RefreshCoordinator() override;

    // The result of the refresh in flight, starting one when none is held.
    QCoro::Task<TokenResult> currentTask();
    // Forgets the refresh in flight; its waiters still get its result.
    void clear();
    bool hasFlight() const { return bool(m_inFlight); }

private:
    struct Flight;
    QCoro::Task<> run(std::shared_ptr<Flight> flight);

    Refresh m_refresh;
    std::shared_ptr<Flight> m_inFlight;
};
