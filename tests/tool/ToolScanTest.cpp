// OrvaneFwTool scan on the simulated platform: every port of the range probed
// as the updater's search probes it, every unit listed, busy ports named.
#include "NamedCase.h"
#include "ToolSimTest.h"

#include "ToolOutcome.h"
#include "commands/Commands.h"
#include "unit/UnitJson.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

const std::string PROBE_ON_WIRE = "%%%help -c version\n\r";

class ToolScan : public ToolSimTest {
protected:
    static UnitConfig unit(UnitVariant variant, int baud)
    {
        UnitConfig config;
        config.variant = variant;
        config.normalBaud = baud;
        return config;
    }
};

}  // namespace

namespace {

// What the worker of one port finds (the scan side by side gives each port
// to a "scan --port N --json" of its own): the port's line of the
// listing and its JSON object.
struct PortCase : NamedCase {
    int port;
    std::string line;
    std::string json;
};

class ToolScanPort : public ToolScan, public ::testing::WithParamInterface<PortCase> {};

}  // namespace

TEST_P(ToolScanPort, ListsWhatThePortHoldsAndLeavesNothingOpen)
{
    const PortCase &c = GetParam();
    simPort_setSilent(2);
    simPort_attachUnit(4, unit(UnitVariant::TX, 9600));
    simPort_setHeld(6);
    simPort_setHeldBy(7, 1234, "cat");
    UnitConfig current = unit(UnitVariant::RX, 57600);
    current.fwSub = 5;
    simPort_attachUnit(9, current);

    const ScanResult scan = scanPorts(c.port, c.port);

    EXPECT_EQ(simConsole_text(),
              "PORT   PATH           BAUD  PRODUCT  FIRMWARE   FPGA           DEVICE  FIRMWARE 1.00.05\n" + c.line);
    EXPECT_EQ(scanJson(scan), c.json);
    // The scan side by side takes the port back from the worker's JSON.
    ScanResult merged;
    ASSERT_TRUE(addScanJson(c.json, merged));
    EXPECT_EQ(scanJson(merged), c.json);
    EXPECT_EQ(simPorts_openHandles(), 0);
    // A unit is only asked, never sent an upload command.
    for (const std::string &w : writes(c.port)) {
        EXPECT_TRUE(w == PROBE_ON_WIRE || w == "%%%fw -v\n\r" || w == "%%%fw -p\n\r") << w;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scan, ToolScanPort,
    ::testing::Values(
        PortCase{
            "silent", 2, "",
            R"({"units":[],"busy":[],"ports":[{"port":2,"path":"/dev/ttyS1","reason":"silent","phase":"search"}]})"},
        PortCase{"unit_to_update", 4,
                 "COM4   /dev/ttyS3     9600  TX       1.00.04    SDI6G 1.04     1       to update\n",
                 R"({"units":[{"port":4,"path":"/dev/ttyS3","baud":9600,"product":"TX","firmware":"1.00.04",)"
                 R"("fpga":"SDI6G 1.04","device":1,"current":false}],"busy":[],"ports":[]})"},
        PortCase{
            "busy", 6, "COM6   /dev/ttyS5     busy  held by another program, or access denied\n",
            R"({"units":[],"busy":[6],"ports":[{"port":6,"path":"/dev/ttyS5","reason":"busy","phase":"search"}]})"},
        PortCase{"busy_with_its_holder_named", 7, "COM7   /dev/ttyS6     busy  held by PID 1234 (cat)\n",
                 R"({"units":[],"busy":[7],"held_by":[{"port":7,"path":"/dev/ttyS6","pid":1234,"program":"cat"}],)"
                 R"("ports":[{"port":7,"path":"/dev/ttyS6","reason":"busy","phase":"search"}]})"},
        PortCase{"current_unit", 9, "COM9   /dev/ttyS8    57600  RX       1.00.05    SDI6G 1.04     1       current\n",
                 R"({"units":[{"port":9,"path":"/dev/ttyS8","baud":57600,"product":"RX","firmware":"1.00.05",)"
                 R"("fpga":"SDI6G 1.04","device":1,"current":true}],"busy":[],"ports":[]})"}),
    CaseName());

TEST_F(ToolScan, ProbesEachPortAsTheSearchDoesAfterAUnitWasQueried)
{
    simPort_attachUnit(1, unit(UnitVariant::TX, 115200));
    simPort_setSilent(2);
    scanPorts(1, 2);
    // The queries leave the search's read windows (500 ms) and flow control
    // (off) in place for the next port: six rates in order, two probes each,
    // one silent window per probe.
    const std::vector<int> tried = {115200, 115200, 9600, 9600, 57600, 57600, 4800, 4800, 2400, 2400, 1200, 1200};
    std::vector<int> rates;
    for (const SimEvent &event : events(SimEventKind::Write, 2)) {
        rates.push_back(event.baud);
        EXPECT_EQ(event.bytes, PROBE_ON_WIRE);
    }
    EXPECT_EQ(rates, tried);
    const int64_t secondPortFrom = events(SimEventKind::Open, 2).front().timeUs;
    int64_t expected = 0;
    for (int rate : tried) {
        expected += wire(20, rate) + 500000;
    }
    EXPECT_EQ(simClock_nowUs() - secondPortFrom, expected);
    EXPECT_EQ(g_dcb.fOutxCtsFlow, 0u);
}

TEST_F(ToolScan, UnitThatIsNeitherProductNorReadableIsListedAsUnknown)
{
    UnitConfig odd = unit(UnitVariant::TX, 9600);
    odd.productReply = "Dexrig something else\r\n>>";
    odd.faults.push_back({UnitExchange::Version, UnitFault::Garbled});
    simPort_attachUnit(3, odd);

    const ScanResult scan = scanPorts(3, 3);

    EXPECT_EQ(simConsole_text(),
              "PORT   PATH           BAUD  PRODUCT  FIRMWARE   FPGA           DEVICE  FIRMWARE 1.00.05\n"
              "COM3   /dev/ttyS2     9600  unknown  -          -              -       unknown\n");
    EXPECT_EQ(scanJson(scan),
              "{\"units\":[{\"port\":3,\"path\":\"/dev/ttyS2\",\"baud\":9600,\"product\":\"unknown\",\"firmware\":null,"
              "\"fpga\":null,\"device\":null,\"current\":false}],\"busy\":[],\"ports\":[]}");
}

// A unit whose line stops taking bytes once it has answered the probe costs
// the scan one write window and the version query's read window: no product
// query is sent into a line that takes nothing.
TEST_F(ToolScan, UnitWhoseLineStopsAfterTheProbeCostsOneWriteWindow)
{
    simPort_attachUnit(3, unit(UnitVariant::TX, 9600));
    simPort_stallWriteAfter(3, "%%%fw -v");

    scanPorts(3, 3);

    const SimEvent query = events(SimEventKind::Write, 3).back();
    EXPECT_EQ(query.bytes, "");
    EXPECT_EQ(query.code, strlen("%%%fw -v\n\r"));
    EXPECT_EQ(simClock_nowUs() - query.timeUs, (WRITE_STALL_TIMEOUT_MS + QUERY_READ_TIMEOUT_MS) * 1000LL);
    EXPECT_EQ(simPorts_openHandles(), 0);
}

TEST_F(ToolScan, ExitsFourWhenNoUnitAnswersWithinTheRange)
{
    simPort_attachUnit(4, unit(UnitVariant::TX, 9600));
    simPort_setHeld(5);
    EXPECT_EQ(runScan(5, 32, false), ToolOutcome::NoUnit);
    EXPECT_TRUE(events(SimEventKind::Open, 4).empty());
    EXPECT_EQ(runScan(4, 4, false), ToolOutcome::Done);
}

struct RangeCase {
    const char *text;
    bool valid;
    int first, last;
};

class PortRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(PortRange, IsReadWithinOneTo256)
{
    const RangeCase &c = GetParam();
    int first = 0, last = 0;
    ASSERT_EQ(parsePortRange(c.text, &first, &last), c.valid) << c.text;
    if (c.valid) {
        EXPECT_EQ(first, c.first);
        EXPECT_EQ(last, c.last);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scan, PortRange,
    ::testing::Values(RangeCase{"1-32", true, 1, 32}, RangeCase{"7", true, 7, 7}, RangeCase{"1-256", true, 1, 256},
                      RangeCase{"9-9", true, 9, 9}, RangeCase{"0-4", false, 0, 0}, RangeCase{"1-257", false, 0, 0},
                      RangeCase{"5-3", false, 0, 0}, RangeCase{"-3", false, 0, 0}, RangeCase{"3-", false, 0, 0},
                      RangeCase{"a-b", false, 0, 0}, RangeCase{"", false, 0, 0}, RangeCase{"1-2-3", false, 0, 0},
                      RangeCase{" 5-6", false, 0, 0}, RangeCase{"5-+6", false, 0, 0}, RangeCase{"0x5", false, 0, 0},
                      RangeCase{"5 ", false, 0, 0}, RangeCase{"0007", true, 7, 7}),
    [](const ::testing::TestParamInfo<RangeCase> &c) {
        return std::string(c.param.valid ? "valid_" : "invalid_") + std::to_string(c.index);
    });

// Workers' answers, read back as the scan side by side reads them, make one
// record in port order that is written out again byte for byte.
TEST(ScanJson, AnswersReadBackInPortOrder)
{
    ScanResult scan;
    ASSERT_TRUE(addScanJson(R"({"units":[{"port":9,"baud":57600,"product":"RX","firmware":"1.00.05",)"
                            R"("fpga":"SDI6G 1.04","device":1,"current":true}],"busy":[6]})",
                            scan));
    ASSERT_TRUE(addScanJson(R"({"units":[{"port":3,"baud":9600,"product":"unknown","firmware":null,)"
                            R"("fpga":null,"device":null,"current":false}],"busy":[],)"
                            R"("ports":[{"port":4,"reason":"absent","phase":"search"}]})",
                            scan));
    ASSERT_TRUE(addScanJson(R"({"units":[],"busy":[],"ports":[{"port":1,"reason":"silent","phase":"search"}]})", scan));
    std::vector<int> ports;
    for (const ScannedPort &found : scan.ports) {
        ports.push_back(found.port);
    }
    EXPECT_EQ(ports, (std::vector<int>{3, 6, 9}));
    EXPECT_EQ(scanJson(scan), R"({"units":[{"port":3,"path":null,"baud":9600,"product":"unknown","firmware":null,)"
                              R"("fpga":null,"device":null,"current":false},)"
                              R"({"port":9,"path":null,"baud":57600,"product":"RX","firmware":"1.00.05",)"
                              R"("fpga":"SDI6G 1.04","device":1,"current":true}],"busy":[6],)"
                              R"("ports":[{"port":1,"path":null,"reason":"silent","phase":"search"},)"
                              R"({"port":4,"path":null,"reason":"absent","phase":"search"},)"
                              R"({"port":6,"path":"/dev/ttyS5","reason":"busy","phase":"search"}]})");
}

TEST(ScanJson, TextThatIsNoScanAddsNothing)
{
    ScanResult scan;
    for (const char *text : {"", "not json", "[]", R"({"busy":[6]})", R"({"units":{}})"}) {
        EXPECT_FALSE(addScanJson(text, scan)) << text;
    }
    EXPECT_TRUE(scan.ports.empty());
}
