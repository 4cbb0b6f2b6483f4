#pragma once

#include <QTest>
#include <QTestEventLoop>

#include <optional>

namespace linvera::test {

/// What a call that answers through a callback reported; `start` takes the callback and returns the
/// call, which is kept until the answer came or `timeoutMs` passed (then the value is empty).
template <typename T, typename Start> std::optional<T> awaitAnswer(Start start, int timeoutMs = 30000)
{
    std::optional<T> answer;
    [[maybe_unused]] const auto call = start([&answer](const T& value) { answer = value; });
    if (!QTest::qWaitFor([&answer] { return answer.has_value(); }, timeoutMs))
        return std::nullopt;
    return answer;
}

/// The same for a callback that takes nothing: true when it ran within `timeoutMs`. Waits in a
/// test event loop, which turns as fast as the program's own (a polling wait sleeps between turns
/// and would slow a transfer down).
template <typename Start> bool awaitEnd(Start start, int timeoutMs = 30000)
{
    QTestEventLoop loop;
    bool ended = false;
    [[maybe_unused]] const auto call = start([&ended, &loop] {
        ended = true;
        loop.exitLoop();
    });
    if (!ended)
        loop.enterLoopMSecs(timeoutMs);
    return ended;
}

} // namespace linvera::test
