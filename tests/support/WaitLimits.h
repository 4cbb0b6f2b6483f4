#pragma once

#include "net/HttpRequest.h"

#include <chrono>

namespace linvera::test {

/// Limits with short waits, so that a test's silent peer ends in a fraction of the designed time.
/// The connection gets the idle time; the caps stay as designed.
inline HttpLimits WaitLimits(std::chrono::milliseconds idle, std::chrono::milliseconds total)
{
    HttpLimits limits;
    limits.connect = idle;
    limits.idle = idle;
    limits.total = total;
    return limits;
}

} // namespace linvera::test
