#include "WirePace.h"

#include "UnitModel.h"

#include <algorithm>

namespace {

// Waking for every byte would cost a fast line thousands of wake-ups a
// second; a few bytes late is nothing to a host that waits in whole windows.
constexpr int64_t LOOK_EVERY_US = 10'000;

}  // namespace

size_t wirePace_take(WirePace *pace, int64_t nowUs, int baud, size_t waiting)
{
    if (waiting == 0) {
        pace->quiet = true;
        return 0;
    }
    if (pace->quiet || baud != pace->baud) {
        *pace = WirePace{baud, nowUs, 0, false};
    }
    const uint64_t arrived = unit_wireArrivals(pace->startUs, baud, nowUs) - pace->taken;
    const size_t count = static_cast<size_t>(std::min<uint64_t>(arrived, waiting));
    pace->taken += count;
    // Once the line is emptied, whatever the host writes next begins anew.
    pace->quiet = count == waiting;
    return count;
}

bool wirePace_nextUs(const WirePace &pace, size_t waiting, int64_t *atUs)
{
    if (pace.quiet || waiting == 0) {
        return false;
    }
    const uint64_t step = std::max<uint64_t>(1, unit_wireArrivals(0, pace.baud, LOOK_EVERY_US));
    *atUs = pace.startUs + unit_wireTimeUs(pace.taken + std::min<uint64_t>(step, waiting), pace.baud);
    return true;
}
