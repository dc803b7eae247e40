#include "platform/subset/WriteTimeouts.h"

#include <algorithm>

namespace {

// About 31 years: a longer window waits no differently, and microseconds
// stay far from overflowing.
constexpr uint64_t LONGEST_WRITE_WINDOW_MS = 1'000'000'000'000;

}  // namespace

int64_t subset_writeWindowUs(const COMMTIMEOUTS *timeouts, DWORD asked)
{
    const uint64_t totalMs =
        static_cast<uint64_t>(timeouts->WriteTotalTimeoutMultiplier) * asked + timeouts->WriteTotalTimeoutConstant;
    if (totalMs == 0) {
        return WRITE_WAIT_UNLIMITED;
    }
    return static_cast<int64_t>(std::min(totalMs, LONGEST_WRITE_WINDOW_MS)) * 1000;
}
