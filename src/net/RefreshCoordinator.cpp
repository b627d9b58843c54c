#include "net/RefreshCoordinator.h"

#include "net/AuthClient.h"

#include <coroutine>
#include <optional>
#include <vector>

// One refresh and everybody waiting for it. Its result is kept, so a waiter that arrives after
// it finished gets the same result at once.
struct RefreshCoordinator::Flight {
    std::optional<TokenResult> result;
    std::vector<std::coroutine_handle<>> waiters;

    void finish(TokenResult outcome)
    {
        result = std::move(outcome);
        for (std::coroutine_handle<> waiter : std::exchange(waiters, {}))
            waiter.resume();
    }

    struct Awaiter {
        std::shared_ptr<Flight> flight;
        bool await_ready() const noexcept { return flight->result.has_value(); }
        void await_suspend(std::coroutine_handle<> waiter) { flight->waiters.push_back(waiter); }
        TokenResult await_resume() const { return *flight->result; }
    };
};

RefreshCoordinator &RefreshCoordinator::shared()
{
    static RefreshCoordinator *coordinator = new RefreshCoordinator([] { return AuthClient::refreshAccessToken(); });
    return *coordinator;
}

RefreshCoordinator::RefreshCoordinator(Refresh refresh, QObject *parent)
    : QObject(parent)
    , m_refresh(std::move(refresh))
{
}

RefreshCoordinator::~RefreshCoordinator() = default;

QCoro::Task<TokenResult> RefreshCoordinator::currentTask()
{
    std::shared_ptr<Flight> flight = m_inFlight;
    if (!flight) {
        flight = std::make_shared<Flight>();
        m_inFlight = flight;
        run(flight);
    }
    // Named, not a temporary inside the co_return: g++ 12 may destroy such a temporary twice.
    Flight::Awaiter awaiter{std::move(flight)};
    TokenResult result = co_await awaiter;
    co_return result;
}

void RefreshCoordinator::clear()
{
    m_inFlight.reset();
}

QCoro::Task<> RefreshCoordinator::run(std::shared_ptr<Flight> flight)
{
    std::optional<TokenResult> result;
    try {
        QCoro::Task<TokenResult> refresh = m_refresh();
        result = co_await refresh;
    } catch (const std::exception &e) {
        // Nothing in the refresh throws on purpose; still, no waiter may be left hanging.
        result = TokenResult(TokenFailure(PlatformError{QStringLiteral("RefreshCoordinator"), -1, QString::fromUtf8(e.what())}));
    } catch (...) {
        result = TokenResult(TokenFailure(PlatformError{QStringLiteral("RefreshCoordinator"), -1, QStringLiteral("unknown exception")}));
    }
    // The clearing is a step of its own: until it has run, callers get this finished refresh.
    QMetaObject::invokeMethod(
        this, [this, flight] {
            if (m_inFlight == flight)
                clear();
        },
        Qt::QueuedConnection);
    flight->finish(std::move(*result));
}
