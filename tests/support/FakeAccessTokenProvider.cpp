#include "FakeAccessTokenProvider.h"

#include <QCoro/QCoroTimer>

QCoro::Task<TokenResult> FakeAccessTokenProvider::validAccessToken()
{
    ++m_validCount;
    return answer(m_valid);
}

QCoro::Task<TokenResult> FakeAccessTokenProvider::refreshAccessToken()
{
    ++m_refreshCount;
    if (m_onRefresh)
        m_onRefresh();
    return answer(m_refresh);
}

QCoro::Task<TokenResult> FakeAccessTokenProvider::answer(QList<TokenResult> &results)
{
    // Taken before suspending, so the answer is the one queued at the time of the call.
    std::optional<TokenResult> result;
    if (results.size() > 1)
        result = results.takeFirst();
    else if (!results.isEmpty())
        result = results.first();
    if (m_delay.count() > 0)
        co_await QCoro::sleepFor(m_delay);
    if (!result)
        co_return TokenResult(TokenFailure(AuthError::noAccessToken()));
    co_return *result;
}
