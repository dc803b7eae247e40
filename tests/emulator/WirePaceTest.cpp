#include "WirePace.h"

#include "UnitModel.h"

#include "../support/NamedCase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// A stretch of the run: the host keeps the line full (as a writer blocked on
// a full pseudo-terminal does) or sends nothing, at one rate.
struct Stretch {
    int64_t ms;
    int baud;
    bool sends;
};

struct PaceCase : NamedCase {
    std::vector<Stretch> stretches;
};

// The line never holds less than this while the host sends.
constexpr size_t LINE_FULL = 4096;

// Whether a line at `baud` carries `bytes` in `us` (the wire time rounded as
// everywhere else).
bool withinLine(uint64_t bytes, int64_t us, int baud)
{
    return unit_wireTimeUs(bytes, baud) <= us;
}

class WirePaceTest : public ::testing::TestWithParam<PaceCase> {};

// The unit is driven as the serving loop drives it, on a virtual clock: it
// looks when the pace says more has arrived, or at the next stretch.
TEST_P(WirePaceTest, NeverTakesMoreThanTheLineCarriesAndKeepsUpWithIt)
{
    WirePace pace;
    int64_t now = 0, stretchStart = 0;
    for (const Stretch &s : GetParam().stretches) {
        const int64_t end = stretchStart + s.ms * 1000;
        uint64_t taken = 0;
        now = std::max(now, stretchStart);
        while (now < end) {
            const size_t waiting = s.sends ? LINE_FULL : 0;
            const size_t count = wirePace_take(&pace, now, s.baud, waiting);
            taken += count;
            ASSERT_TRUE(withinLine(taken, now - stretchStart, s.baud))
                << taken << " bytes at " << now - stretchStart << " us into a stretch at " << s.baud;
            int64_t next = 0;
            now = wirePace_nextUs(pace, waiting - count, &next) ? next : end;
        }
        if (s.sends) {
            // Behind the line by at most a look (10 ms) and a byte under way at
            // each end of the stretch.
            EXPECT_FALSE(withinLine(taken + 2, end - stretchStart - 20'000, s.baud))
                << "only " << taken << " bytes in " << s.ms << " ms at " << s.baud;
        } else {
            EXPECT_EQ(taken, 0u);
        }
        stretchStart = end;
    }
}

const PaceCase PACE_CASES[] = {
    {{"Steady9600"}, {{3000, 9600, true}}},
    {{"Steady115200"}, {{3000, 115200, true}}},
    {{"Steady1200"}, {{3000, 1200, true}}},
    {{"RateRisesMidRun"}, {{1000, 9600, true}, {2000, 115200, true}}},
    {{"RateFallsMidRun"}, {{1000, 115200, true}, {2000, 1200, true}}},
    {{"PauseBanksNothing"}, {{1000, 57600, true}, {5000, 57600, false}, {1000, 57600, true}}},
};
INSTANTIATE_TEST_SUITE_P(Lines, WirePaceTest, ::testing::ValuesIn(PACE_CASES), CaseName());

}  // namespace
