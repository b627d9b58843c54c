#pragma once

#include "net/AccessTokenProvider.h"

#include <QList>

#include <chrono>
#include <functional>

// Tokens the test hands out (typically issued by the stand-in's control API). Each call takes the
// next queued result, or repeats the last one when the queue has one left; answers may be delayed.
class FakeAccessTokenProvider : public AccessTokenProvider {
public:
    QCoro::Task<TokenResult> validAccessToken() override;
    QCoro::Task<TokenResult> refreshAccessToken() override;
    void signOut() override { ++m_signOutCount; }

    void setValidResults(QList<TokenResult> results) { m_valid = std::move(results); }
    void setRefreshResults(QList<TokenResult> results) { m_refresh = std::move(results); }
    void setDelay(std::chrono::milliseconds delay) { m_delay = delay; }
    // Runs at each refreshAccessToken(), before it answers (e.g. the network comes back).
    void setOnRefresh(std::function<void()> hook) { m_onRefresh = std::move(hook); }

    int validCount() const { return m_validCount; }
    int refreshCount() const { return m_refreshCount; }
    int signOutCount() const { return m_signOutCount; }

private:
    QCoro::Task<TokenResult> answer(QList<TokenResult> &results);

    QList<TokenResult> m_valid;
    QList<TokenResult> m_refresh;
    std::chrono::milliseconds m_delay{0};
    std::function<void()> m_onRefresh;
    int m_validCount = 0;
    int m_refreshCount = 0;
    int m_signOutCount = 0;
};
