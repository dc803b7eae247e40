// Ports by their names: what --port takes, and a unit reached by its device
// path on the simulated platform, found among the adapters and updated.
#include "NamedCase.h"
#include "ToolSimTest.h"

#include "ToolOutcome.h"
#include "commands/Commands.h"
#include "unit/PortName.h"
#include "unit/UnitJson.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace {

struct NameCase : NamedCase {
    const char *text;
    bool accepted;
    int number;          // of the port it gives
    const char *device;  // likewise
};

class PortNameParsing : public ::testing::TestWithParam<NameCase> {};

}  // namespace

TEST_P(PortNameParsing, GivesTheComNumberOrTheDevice)
{
    const NameCase &c = GetParam();
    PortTarget port(99);
    ASSERT_EQ(parsePortName(c.text, &port), c.accepted);
    const PortTarget expected = c.accepted ? PortTarget(c.number) : PortTarget(99);
    EXPECT_EQ(port.number, expected.number);
    EXPECT_EQ(port.device, c.device);
}

INSTANTIATE_TEST_SUITE_P(
    Port, PortNameParsing,
    ::testing::Values(
        NameCase{{"number"}, "7", true, 7, ""}, NameCase{{"com_upper"}, "COM12", true, 12, ""},
        NameCase{{"com_lower"}, "com3", true, 3, ""}, NameCase{{"com_mixed"}, "Com256", true, 256, ""},
        NameCase{{"win32_device_name"}, "\\\\.\\COM12", true, 12, ""},
        NameCase{{"win32_device_name_lower"}, "\\\\.\\com9", true, 9, ""},
        NameCase{{"usb_adapter"}, "/dev/ttyUSB0", true, 0, "/dev/ttyUSB0"},
        NameCase{{"link_under_dev"}, "/dev/serial/by-id/usb-FTDI-if00", true, 0, "/dev/serial/by-id/usb-FTDI-if00"},
        NameCase{{"empty"}, "", false, 0, ""}, NameCase{{"com_zero"}, "COM0", false, 0, ""},
        NameCase{{"com_beyond_256"}, "COM257", false, 0, ""}, NameCase{{"com_without_number"}, "COM", false, 0, ""},
        NameCase{{"com_with_blank"}, "COM 3", false, 0, ""}, NameCase{{"com_with_sign"}, "COM+3", false, 0, ""},
        NameCase{{"win32_name_without_number"}, "\\\\.\\COM", false, 0, ""},
        NameCase{{"device_without_folder"}, "ttyUSB0", false, 0, ""},
        NameCase{{"dev_folder_alone"}, "/dev/", false, 0, ""},
        NameCase{{"path_outside_dev"}, "/tmp/port", false, 0, ""},
        NameCase{{"relative_link"}, "dosdevices/com9", false, 0, ""}),
    CaseName());

namespace {

using Json = nlohmann::json;

const char *const USB_ADAPTER = "/dev/ttyUSB0";
const char *const ACM_ADAPTER = "/dev/ttyACM0";
// Sim port numbers beyond every COM search: reachable by path alone.
const int USB_SLOT = 300, ACM_SLOT = 301;

// A TX unit on COM4, an RX unit behind the USB adapter, and a modem adapter
// another program holds.
class ToolPortByPath : public ToolSimTest {
protected:
    void SetUp() override
    {
        ToolSimTest::SetUp();
        simPort_attachUnit(4, unit(UnitVariant::TX, 9600));
        simPort_attachUnit(USB_SLOT, unit(UnitVariant::RX, 57600));
        simPort_setDevicePath(USB_SLOT, USB_ADAPTER, true);
        simPort_setHeldBy(ACM_SLOT, 4321, "picocom");
        simPort_setDevicePath(ACM_SLOT, ACM_ADAPTER, true);
    }

    static UnitConfig unit(UnitVariant variant, int baud)
    {
        UnitConfig config;
        config.variant = variant;
        config.normalBaud = baud;
        return config;
    }
};

struct SelectionCase : NamedCase {
    PortSelection selection;
    std::string listing;
    std::string json;
};

class ToolScanSelection : public ToolPortByPath, public ::testing::WithParamInterface<SelectionCase> {};

const std::string HEADING = "PORT   PATH           BAUD  PRODUCT  FIRMWARE   FPGA           DEVICE  FIRMWARE 1.00.05\n";
const std::string ADAPTERS_LISTED =
    "-      /dev/ttyACM0   busy  held by PID 4321 (picocom)\n"
    "-      /dev/ttyUSB0  57600  RX       1.00.04    SDI6G 1.04     1       to update\n";
const std::string USB_JSON = R"({"port":null,"path":"/dev/ttyUSB0","baud":57600,"product":"RX","firmware":"1.00.04",)"
                             R"("fpga":"SDI6G 1.04","device":1,"current":false})";
const std::string ACM_BUSY_JSON =
    R"("busy":["/dev/ttyACM0"],"held_by":[{"port":null,"path":"/dev/ttyACM0","pid":4321,"program":"picocom"}],)";
const std::string ACM_BUSY_PORT = R"({"port":null,"path":"/dev/ttyACM0","reason":"busy","phase":"search"})";

// "ports" of the scan: the COM ports given absent, then the busy adapter.
std::string portsWithoutUnit(const std::vector<int> &absent)
{
    std::string ports;
    for (const int port : absent) {
        ports += R"({"port":)" + std::to_string(port) + R"(,"path":"/dev/ttyS)" + std::to_string(port - 1) +
                 R"(","reason":"absent","phase":"search"},)";
    }
    return R"("ports":[)" + ports + ACM_BUSY_PORT + "]}";
}

}  // namespace

// The adapters come after the COM ports, by name; the listing and the JSON
// name each by its path, with no COM number.
TEST_P(ToolScanSelection, ListsTheAdaptersByTheirPaths)
{
    const SelectionCase &c = GetParam();
    const ScanResult scan = scanPorts(portsSelected(c.selection));
    EXPECT_EQ(simConsole_text(), HEADING + c.listing);
    EXPECT_EQ(scanJson(scan), c.json);
    // As the scan side by side reads its workers' answers back.
    ScanResult merged;
    ASSERT_TRUE(addScanJson(c.json, merged));
    EXPECT_EQ(scanJson(merged), c.json);
}

INSTANTIATE_TEST_SUITE_P(
    Scan, ToolScanSelection,
    ::testing::Values(
        SelectionCase{{"com_ports_then_adapters"},
                      {1, 8, false},
                      "COM4   /dev/ttyS3     9600  TX       1.00.04    SDI6G 1.04     1       to update\n" +
                          ADAPTERS_LISTED,
                      R"({"units":[{"port":4,"path":"/dev/ttyS3","baud":9600,"product":"TX","firmware":"1.00.04",)"
                      R"("fpga":"SDI6G 1.04","device":1,"current":false},)" +
                          USB_JSON + "]," + ACM_BUSY_JSON + portsWithoutUnit({1, 2, 3, 5, 6, 7, 8})},
        SelectionCase{{"adapters_only"},
                      {1, 8, true},
                      ADAPTERS_LISTED,
                      R"({"units":[)" + USB_JSON + "]," + ACM_BUSY_JSON + portsWithoutUnit({})}),
    CaseName());

TEST_F(ToolPortByPath, UnitReachedByItsPathIsUpdatedWithThePathInItsObject)
{
    const UpdateOutcome outcome = performUpdate(deviceTarget(USB_ADAPTER), 0);

    EXPECT_EQ(outcome.result, ToolOutcome::Confirmed);
    EXPECT_NE(simConsole_text().find("OK\r\nCOM PORT Number : /dev/ttyUSB0\r\nBaud rate       : 57600 \r\n"),
              std::string::npos)
        << simConsole_text();
    const Json json = Json::parse(updateJson(outcome));
    EXPECT_EQ(json["port"], nullptr);
    EXPECT_EQ(json["path"], USB_ADAPTER);
    EXPECT_EQ(json["result"], "confirmed");
    EXPECT_EQ(simPorts_openHandles(), 0);
}

TEST_F(ToolPortByPath, DeviceThatIsNotThereIsNamedInTheError)
{
    const UpdateOutcome outcome = performUpdate(deviceTarget("/dev/ttyUSB7"), 0);

    EXPECT_EQ(outcome.result, ToolOutcome::NoUnit);
    EXPECT_EQ(outcome.error, "/dev/ttyUSB7 cannot be opened: it is absent (The system cannot find the file specified)");
    const Json json = Json::parse(updateJson(outcome));
    EXPECT_EQ(json["port"], nullptr);
    EXPECT_EQ(json["path"], "/dev/ttyUSB7");
    EXPECT_EQ(json["reason"], "absent");
    EXPECT_EQ(json["advice"], "check the cable and the port name: /dev/ttyUSB7 is not there");
}
