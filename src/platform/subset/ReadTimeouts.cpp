#include "platform/subset/ReadTimeouts.h"

#include <algorithm>

namespace {

constexpr int64_t US_PER_MS = 1000;
// About 31 years: a longer total window waits no differently, and the
// arithmetic in microseconds stays far from overflowing.
constexpr uint64_t LONGEST_WINDOW_MS = 1'000'000'000'000;

// What is left of a window of `limitMs` after `elapsedUs`, never below 0.
int64_t leftOf(int64_t limitMs, int64_t elapsedUs)
{
    return std::max<int64_t>(limitMs * US_PER_MS - elapsedUs, 0);
}

}  // namespace

int64_t subset_readWaitUs(const COMMTIMEOUTS *timeouts, DWORD asked, DWORD got, int64_t sinceStartUs,
                          int64_t sinceLastByteUs)
{
    if (got >= asked) {
        return 0;
    }
    const DWORD interval = timeouts->ReadIntervalTimeout;
    const DWORD multiplier = timeouts->ReadTotalTimeoutMultiplier;
    const DWORD constant = timeouts->ReadTotalTimeoutConstant;
    if (interval == MAXDWORD && multiplier == 0 && constant == 0) {
        return 0;
    }
    if (interval == MAXDWORD && multiplier == MAXDWORD && constant > 0 && constant < MAXDWORD) {
        return got > 0 ? 0 : leftOf(constant, sinceStartUs);
    }
    const uint64_t totalMs =
        std::min<uint64_t>(static_cast<uint64_t>(multiplier) * asked + constant, LONGEST_WINDOW_MS);
    int64_t wait = totalMs > 0 ? leftOf(static_cast<int64_t>(totalMs), sinceStartUs) : READ_WAIT_UNLIMITED;
    if (interval != 0 && got > 0) {
        wait = std::min(wait, leftOf(interval, sinceLastByteUs));
    }
    return wait;
}
