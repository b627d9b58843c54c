#pragma once

#include <QCoroTask>
#include <QTest>

#include <memory>
#include <optional>

// Runs the event loop until `task` has finished and returns its result; none when it has not
// finished within `timeoutMs`. Unlike QCoro::waitFor it needs no default-constructible result
// (Expected has none). A task that finishes after the timeout writes into shared storage, so
// it cannot touch the returned-from frame.
template <typename T>
std::optional<T> taskResult(QCoro::Task<T> task, int timeoutMs = 30000)
{
    auto result = std::make_shared<std::optional<T>>();
    [](QCoro::Task<T> running, std::shared_ptr<std::optional<T>> out) -> QCoro::Task<> {
        T value = co_await running;
        out->emplace(std::move(value));
    }(std::move(task), result);
    if (!QTest::qWaitFor([&result] { return result->has_value(); }, timeoutMs))
        return std::nullopt;
    return std::move(*result);
}
