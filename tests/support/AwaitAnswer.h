#pragma once

#include <QTest>

#include <optional>

namespace linvera::test {

/// What a call that answers through a callback reported; `start` takes the callback and returns the
/// call, which is kept until the answer came or `timeoutMs` passed (then the value is empty).
template <typename T, typename Start> std::optional<T> awaitAnswer(Start start, int timeoutMs = 30000)
{
    std::optional<T> answer;
    const auto call = start([&answer](const T& value) { answer = value; });
    if (!QTest::qWaitFor([&answer] { return answer.has_value(); }, timeoutMs))
        return std::nullopt;
    return answer;
}

} // namespace linvera::test
