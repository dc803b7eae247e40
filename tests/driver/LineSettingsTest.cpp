// What the program does to the line itself: the settings it applies at each
// open and during the update, in order, the CTS output flow control of every
// byte it sends, and the purge that keeps what an earlier rate left behind
// from ever being read.
#include "SimTest.h"

#include "base/ReadWindows.h"

#include <ostream>
#include <string>
#include <vector>

namespace {

const std::string PROBE = "%%%help -c version\n\r";

// Read interval/multiplier/constant, then the write multiplier/constant.
std::string timeoutsOf(const COMMTIMEOUTS &t)
{
    return "timeouts " + std::to_string(t.ReadIntervalTimeout) + "/" + std::to_string(t.ReadTotalTimeoutMultiplier) +
           "/" + std::to_string(t.ReadTotalTimeoutConstant) + " write " +
           std::to_string(t.WriteTotalTimeoutMultiplier) + "/" + std::to_string(t.WriteTotalTimeoutConstant);
}

// A read window of `ms`, with the one write window every exchange keeps.
std::string timeouts(DWORD ms)
{
    return timeoutsOf({ms, 0, ms, 0, WRITE_STALL_TIMEOUT_MS});
}

std::string state(int baud, bool ctsFlow)
{
    return "state " + std::to_string(baud) + (ctsFlow ? " cts" : " no cts");
}

// The line events of one port, each in a few words; reads and writes left out.
std::vector<std::string> lineTranscript(int com)
{
    std::vector<std::string> seen;
    for (const SimEvent &e : simEvents_all()) {
        if (e.port != com) {
            continue;
        }
        switch (e.kind) {
        case SimEventKind::Open: seen.push_back("open"); break;
        case SimEventKind::Close: seen.push_back("close"); break;
        case SimEventKind::CommTimeouts: seen.push_back(timeoutsOf(e.timeouts)); break;
        case SimEventKind::CommState: seen.push_back(state(e.baud, e.line.fOutxCtsFlow != 0)); break;
        case SimEventKind::Purge: seen.push_back("purge " + std::to_string(e.code)); break;
        case SimEventKind::Escape: seen.push_back(e.code == SETDTR ? "raise DTR" : "other escape"); break;
        default: break;
        }
    }
    return seen;
}

// A configured open: the records, both queues emptied, then DTR.
std::vector<std::string> configuredOpen(int baud)
{
    return {"open", timeouts(MAX_WAIT_READ), state(baud, false), "purge 15", "raise DTR"};
}

void append(std::vector<std::string> &to, const std::vector<std::string> &more)
{
    to.insert(to.end(), more.begin(), more.end());
}

struct PortChoice {
    const char *name;
    bool unitAnswersTheSearch;
    const char *answers;  // typed at the prompts when the search fails
};

void PrintTo(const PortChoice &choice, std::ostream *os)
{
    *os << choice.name;
}

class LineSettings : public SimTest {};

class FlowControl : public LineSettings, public ::testing::WithParamInterface<PortChoice> {};

}  // namespace

// Every byte of the search goes out without CTS output flow control, every
// byte of the update with it, whether the search or the technician found the
// port.
TEST_P(FlowControl, OffThroughTheSearchOnFromTheUpdate)
{
    UnitConfig unit;
    if (!GetParam().unitAnswersTheSearch) {
        unit.faults.push_back({UnitExchange::Probe, UnitFault::Garbled});
    }
    simPort_attachUnit(3, unit);
    simPort_setSilent(2);
    ASSERT_EQ(runProgram(GetParam().answers), 0);

    int searchWrites = 0;
    int updateWrites = 0;
    for (const SimEvent &e : events(SimEventKind::Write, 2)) {
        EXPECT_EQ(e.line.fOutxCtsFlow, 0u) << "search write on COM2 at " << e.baud;
        ++searchWrites;
    }
    bool updating = false;
    for (const SimEvent &e : events(SimEventKind::Write, 3)) {
        updating = updating || e.bytes.rfind("%%%fw -v", 0) == 0;
        EXPECT_EQ(e.line.fOutxCtsFlow, updating ? 1u : 0u)
            << (updating ? "update" : "search") << " write at " << e.baud << ": " << e.bytes.substr(0, 20);
        ++(updating ? updateWrites : searchWrites);
    }
    EXPECT_EQ(searchWrites, GetParam().unitAnswersTheSearch ? 12 + 3 : 12 + 12);
    EXPECT_GT(updateWrites, 100);
}

INSTANTIATE_TEST_SUITE_P(PortChoices, FlowControl,
                         ::testing::Values(PortChoice{"found_by_the_search", true, ""},
                                           PortChoice{"typed_by_the_technician", false, "3\n9600\n"}),
                         [](const ::testing::TestParamInfo<PortChoice> &choice) { return choice.param.name; });

// The whole life of the line in a successful update: each rate of the search
// opened with the records, purged, DTR raised, and closed; then the update's
// own changes on the open port.
TEST_F(LineSettings, EverySettingOfAnUpdateInOrder)
{
    simPort_attachUnit(3, UnitConfig{});
    simPort_setSilent(2);
    ASSERT_EQ(runProgram(), 0);

    std::vector<std::string> silentPort = {"open", "close"};
    for (int baud : {115200, 9600, 57600, 4800, 2400, 1200}) {
        append(silentPort, configuredOpen(baud));
        silentPort.push_back("close");
    }
    EXPECT_EQ(lineTranscript(2), silentPort);

    std::vector<std::string> unitPort = {"open", "close"};
    append(unitPort, configuredOpen(115200));
    unitPort.push_back("close");
    append(unitPort, configuredOpen(9600));
    append(unitPort, {state(9600, true), timeouts(QUERY_READ_TIMEOUT_MS), timeouts(FPGA_READY_TIMEOUT_MS),
                      state(115200, true), timeouts(DATA_REPLY_TIMEOUT_MS), timeouts(MCU_READY_TIMEOUT_MS),
                      timeouts(DATA_REPLY_TIMEOUT_MS), state(9600, true), timeouts(CLOSING_READ_TIMEOUT_MS), "close"});
    EXPECT_EQ(lineTranscript(3), unitPort);
}

// A unit that answers after the port was closed leaves its reply on the line
// (the far end keeps it for the next opener); the next open, at another rate,
// must drop it before anything is read.
TEST_F(LineSettings, BytesLeftFromAnEarlierRateAreDroppedWhenThePortOpensAgain)
{
    simPort_attachUnit(1, UnitConfig{});
    ASSERT_TRUE(ComPortAPI_OpenCOM(1));
    std::string probe = PROBE;
    int count = 0;
    ASSERT_TRUE(ComPortAPI_WriteCOM(probe.data(), static_cast<int>(probe.size()), &count));
    ComPortAPI_CloseCOM();
    simClock_advanceUs(200000);  // the whole reply arrives meanwhile, at 9600

    ComPortAPI_SetBaudRate(115200);
    ASSERT_TRUE(ComPortAPI_OpenCOM(1));
    char buffer[128];
    EXPECT_TRUE(ComPortAPI_ReadCOM(buffer, sizeof buffer, &count));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(simEvents_joined(SimEventKind::Read, 1), "");

    std::vector<std::string> dropped;
    for (const SimEvent &purge : events(SimEventKind::Purge, 1)) {
        dropped.push_back(purge.bytes);
    }
    EXPECT_EQ(dropped, (std::vector<std::string>{"", UNIT_HELP_VERSION_REPLY}));
}
