#include "SimTest.h"

#include "channel/PortDetection.h"

#include <string>

namespace {

const std::string PROBE_ON_WIRE = "%%%help -c version\n\r";

class PortSearch : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        ASSERT_TRUE(allocateProgramBuffers());
        ComPortAPI_SetHardwareFlowControl(FALSE);
    }

    static std::vector<int> writeRates(int com)
    {
        std::vector<int> rates;
        for (const SimEvent &event : events(SimEventKind::Write, com)) {
            rates.push_back(event.baud);
        }
        return rates;
    }
};

}  // namespace

TEST_F(PortSearch, SkipsAbsentTriesSilentFindsTheUnitOnItsSecondRate)
{
    simPort_setSilent(2);
    UnitConfig unit;
    unit.normalBaud = 9600;
    simPort_attachUnit(3, unit);

    ASSERT_TRUE(detectComPortAndBaudrate());
    EXPECT_EQ(gComPortNumber, 3);
    EXPECT_EQ(gBaudRate, 9600);
    EXPECT_EQ(simPort_currentBaud(3), 9600);
    EXPECT_EQ(g_dcb.BaudRate, 9600u);
    EXPECT_EQ(simConsole_text(), "");

    // COM2: six rates, two probes each, one silent window per probe.
    const std::vector<int> tried = {115200, 115200, 9600, 9600, 57600, 57600, 4800, 4800, 2400, 2400, 1200, 1200};
    EXPECT_EQ(writeRates(2), tried);
    EXPECT_EQ(events(SimEventKind::Open, 2).size(), 1u + 6u);
    for (const std::string &w : writes(2)) {
        EXPECT_EQ(w, PROBE_ON_WIRE);
    }
    // COM3: twice unheard at 115200, answered at once at 9600.
    EXPECT_EQ(writeRates(3), (std::vector<int>{115200, 115200, 9600}));

    const int64_t window = MAX_WAIT_READ * 1000LL;
    int64_t expected = 0;
    for (int rate : tried) {
        expected += wire(20, rate) + window;
    }
    expected += 2 * (wire(20, 115200) + window);
    expected += wire(20, 9600) + window + window;
    EXPECT_EQ(simClock_nowUs(), expected);
}

TEST_F(PortSearch, AnsweredFirstProbeSendsNoSecond)
{
    UnitConfig unit;
    unit.normalBaud = 115200;
    simPort_attachUnit(1, unit);
    ASSERT_TRUE(detectComPortAndBaudrate());
    EXPECT_EQ(writes(1).size(), 1u);
    EXPECT_EQ(gBaudRate, 115200);
}

TEST_F(PortSearch, UnitThatMissesTheFirstProbeIsFoundOnTheSecond)
{
    UnitConfig unit;
    unit.missedProbes = 1;
    simPort_attachUnit(5, unit);
    ASSERT_TRUE(detectComPortAndBaudrate());
    EXPECT_EQ(gComPortNumber, 5);
    EXPECT_EQ(gBaudRate, 9600);
    EXPECT_EQ(writeRates(5), (std::vector<int>{115200, 115200, 9600, 9600}));
}

TEST_F(PortSearch, HeldPortIsPassedOverSilently)
{
    simPort_setHeld(1);
    simPort_attachUnit(2, UnitConfig{});
    ASSERT_TRUE(detectComPortAndBaudrate());
    EXPECT_EQ(gComPortNumber, 2);
    EXPECT_EQ(simConsole_text(), "");
}

TEST_F(PortSearch, NothingPresentFailsAtOnceLeavingNothingOpen)
{
    simPort_attachUnit(33, UnitConfig{});
    EXPECT_FALSE(detectComPortAndBaudrate());
    EXPECT_EQ(gComPortNumber, 0);
    EXPECT_EQ(gBaudRate, 0);
    EXPECT_EQ(simClock_nowUs(), 0);
    EXPECT_EQ(simPorts_openHandles(), 0);
    EXPECT_EQ(g_dcb.BaudRate, 9600u);
    EXPECT_EQ(simConsole_text(), "");
}

TEST_F(PortSearch, ReplyWithAnythingMoreIsNoAnswerAndTheLastRateStaysStaged)
{
    UnitConfig unit;
    unit.faults.push_back({UnitExchange::Probe, UnitFault::ExtraLineEnd});
    simPort_attachUnit(1, unit);
    EXPECT_FALSE(detectComPortAndBaudrate());
    EXPECT_EQ(simPorts_openHandles(), 0);
    EXPECT_EQ(g_dcb.BaudRate, 1200u);
    EXPECT_EQ(gComPortNumber, 0);
}

TEST_F(PortSearch, OpenThatFailsAfterTheFirstLookPrintsAndMovesOn)
{
    simPort_setSilent(1);
    simPort_refuseConfiguration(1);
    simPort_attachUnit(2, UnitConfig{});
    ASSERT_TRUE(detectComPortAndBaudrate());
    std::string messages;
    for (int i = 0; i < 6; ++i) {
        messages += "ERROR: COM1 configuration failed !";
    }
    EXPECT_EQ(simConsole_text(), messages);
}

TEST_F(PortSearch, FailedProbeWriteCountsAsNoAnswer)
{
    UnitConfig unit;
    unit.normalBaud = 115200;
    simPort_attachUnit(1, unit);
    simPort_failWrite(1, 1);
    ASSERT_TRUE(detectComPortAndBaudrate());
    EXPECT_EQ(simConsole_text(), "\r\nError occurred when sending data !\r\n");
    EXPECT_EQ(writes(1).size(), 2u);
}

// A port whose line takes nothing (a far end that stopped reading) costs
// the search one write window, not one for every probe at every rate.
TEST_F(PortSearch, PortThatStopsTakingBytesIsLeftAfterOneWriteWindow)
{
    simPort_setSilent(1);
    simPort_stallWriteAfter(1, PROBE_ON_WIRE);
    simPort_attachUnit(2, UnitConfig{});
    ASSERT_TRUE(detectComPortAndBaudrate());
    EXPECT_EQ(gComPortNumber, 2);
    EXPECT_EQ(writes(1), std::vector<std::string>{""});
    EXPECT_EQ(events(SimEventKind::Open, 2).front().timeUs, WRITE_STALL_TIMEOUT_MS * 1000LL);
    EXPECT_EQ(simPorts_openHandles(), 1);
}
