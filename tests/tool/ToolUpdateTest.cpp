// OrvaneFwTool update on the simulated platform: how each way an update can
// end maps to its result and exit status, what the user is told when no unit
// can be reached, and the JSON object a script reads.
#include "FlattenedImage.h"
#include "NamedCase.h"
#include "ToolSimTest.h"
#include "UpdateTranscript.h"

#include "ToolOutcome.h"
#include "commands/Commands.h"
#include "unit/UnitJson.h"

#include <nlohmann/json.hpp>

#include <string>

namespace {

using namespace transcript;
using Json = nlohmann::json;

struct OutcomeCase {
    const char *name;
    UnitExchange at;
    UnitFault what;
    int deviceCode;
    ToolOutcome result;
    int exitStatus;         // what a script sees
    const char *lastWords;  // how the console ends
    bool imagesTaken;       // the unit has both images, whole
};

const char *const SUCCESS_END = "The update was successful, the unit is now operational\r\n";
const char *const FAILURE_END = "\n\rERROR: The update was not successful.\r\n";
const char *const UNCONFIRMED_END =
    "100%\n\rERROR: The unit took both images but did not confirm the update after its reboot.\r\n";

bool endsWith(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class ToolUpdate : public ToolSimTest {};

class ToolUpdateOutcome : public ToolUpdate, public ::testing::WithParamInterface<OutcomeCase> {};

}  // namespace

TEST_P(ToolUpdateOutcome, GivesItsResultAndExitStatus)
{
    const OutcomeCase &c = GetParam();
    UnitConfig config;
    config.deviceCode = c.deviceCode;
    if (c.what != UnitFault::None) {
        config.faults.push_back({c.at, c.what});
    }
    const UnitModel *unit = simPort_attachUnit(3, config);

    const UpdateOutcome outcome = performUpdate(0, 0);

    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.unit.port, 3);
    EXPECT_EQ(outcome.unit.baud, 9600);
    const std::string console = simConsole_text();
    EXPECT_EQ(console.substr(0, BANNER.size()), BANNER);
    EXPECT_TRUE(endsWith(console, c.lastWords)) << console;
    EXPECT_EQ(console.find(SUCCESS_END) != std::string::npos, c.result == ToolOutcome::Confirmed) << console;
    EXPECT_EQ(console.find("Press any key"), std::string::npos);
    EXPECT_EQ(simConsole_keyWaits(), 0);
    EXPECT_EQ(simPorts_openHandles(), 0);

    // What a script reads of it, without --log.
    const Json json = Json::parse(updateJson(outcome));
    EXPECT_EQ(json["result"], outcomeWord(c.result));
    EXPECT_EQ(json["exit"], c.exitStatus);
    EXPECT_EQ(json["log"], nullptr);

    if (c.imagesTaken) {
        // The update is over: its buffers give way to the flattening.
        releaseProgramBuffers();
        EXPECT_EQ(unit_images(unit).fpga, flattenedImage(IMAGE_TX_FPGA));
        EXPECT_EQ(unit_images(unit).mcu, flattenedImage(IMAGE_MCU_FIRMWARE));
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryEnd, ToolUpdateOutcome,
    ::testing::Values(OutcomeCase{"confirmed", UnitExchange::None, UnitFault::None, 1, ToolOutcome::Confirmed, 0,
                                  SUCCESS_END, true},
                      OutcomeCase{"closing_silent", UnitExchange::Closing, UnitFault::Silence, 1,
                                  ToolOutcome::Unconfirmed, 3, UNCONFIRMED_END, true},
                      OutcomeCase{"closing_with_line_end", UnitExchange::Closing, UnitFault::ExtraLineEnd, 1,
                                  ToolOutcome::Unconfirmed, 3, UNCONFIRMED_END, true},
                      OutcomeCase{"fpga_command_refused", UnitExchange::FpgaCommand, UnitFault::Garbled, 1,
                                  ToolOutcome::Failed, 1, FAILURE_END, false},
                      OutcomeCase{"unit_lost_in_firmware", UnitExchange::McuData, UnitFault::Drop, 1,
                                  ToolOutcome::Failed, 1, FAILURE_END, false},
                      OutcomeCase{"unknown_device", UnitExchange::None, UnitFault::None, 2, ToolOutcome::Failed, 1,
                                  FAILURE_END, false}),
    [](const ::testing::TestParamInfo<OutcomeCase> &c) { return std::string(c.param.name); });

struct NoUnitCase : NamedCase {
    int port, baud;
    const char *reason;
};

class ToolUpdateNoUnit : public ToolUpdate, public ::testing::WithParamInterface<NoUnitCase> {};

TEST_P(ToolUpdateNoUnit, SaysWhyAndExitsFour)
{
    const NoUnitCase &c = GetParam();
    simPort_setHeld(5);
    simPort_setSilent(6);
    // At a rate the search does not try.
    UnitConfig unit;
    unit.normalBaud = 19200;
    simPort_attachUnit(8, unit);

    const UpdateOutcome outcome = performUpdate(c.port, c.baud);

    EXPECT_EQ(outcome.result, ToolOutcome::NoUnit);
    EXPECT_EQ(outcome.unit.port, c.port);
    EXPECT_EQ(outcome.unit.baud, 0);
    EXPECT_EQ(simConsole_text(), "\n\rYou are about to upload the firmware version 1.0.5"
                                 "\n\r\n\rDetecting COM port and Baud Rate..................FAILED\r\n"
                                 "\r\nERROR: " +
                                     std::string(c.reason) + ".\r\n");
    EXPECT_EQ(simPorts_openHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryReason, ToolUpdateNoUnit,
    ::testing::Values(
        NoUnitCase{"absent", 7, 0, "COM7 cannot be opened: it is absent (The system cannot find the file specified)"},
        NoUnitCase{"held", 5, 0,
                   "COM5 cannot be opened: another program holds it, or access is denied (The process cannot "
                   "access the file because it is being used by another process)"},
        NoUnitCase{"silent", 6, 0, "No unit answered on COM6 at 115200, 9600, 57600, 4800, 2400 or 1200 baud"},
        NoUnitCase{"other_rate", 8, 57600, "No unit answered on COM8 at 57600 baud"},
        NoUnitCase{"search_finds_nothing", 0, 0, "No unit answered on COM1 to COM32"}),
    CaseName());

TEST_F(ToolUpdate, ConsoleTextIsTheUpdatersWithoutItsKeyWait)
{
    simPort_attachUnit(3, UnitConfig{});
    performUpdate(0, 0);
    EXPECT_EQ(simConsole_text(), BANNER + found(3, 9600) + VERSIONS + CHECKING_PRODUCT + productOk("TX") +
                                     uploads(1055216, 117648) + SUCCESS_LINE);
}

TEST_F(ToolUpdate, NamedPortAndRateAreTheOnlyOnesTried)
{
    UnitConfig config;
    config.normalBaud = 57600;
    simPort_attachUnit(3, config);
    simPort_attachUnit(1, UnitConfig{});
    const UpdateOutcome outcome = performUpdate(3, 57600);
    EXPECT_EQ(outcome.result, ToolOutcome::Confirmed);
    EXPECT_TRUE(events(SimEventKind::Open, 1).empty());
    EXPECT_EQ(events(SimEventKind::Write, 3).front().baud, 57600);
    EXPECT_EQ(writes(3).front(), "%%%help -c version\n\r");
}

TEST(ToolJson, UpdateObjectCarriesWhatWasLearnt)
{
    UpdateOutcome outcome;
    outcome.unit.port = 9;
    outcome.unit.baud = 57600;
    outcome.unit.versionFields = 7;
    outcome.unit.versions.fw_ver = 1;
    outcome.unit.versions.fw_sub = 4;
    snprintf(outcome.unit.versions.model, sizeof outcome.unit.versions.model, "MDL");
    outcome.unit.versions.fpga_ver = 1;
    outcome.unit.versions.fpga_rev = 4;
    outcome.unit.versions.fpga_type = 1;
    outcome.unit.product = IMAGE_RX_FPGA;
    outcome.result = ToolOutcome::Confirmed;
    outcome.seconds = 190.24;
    outcome.log = "update.log";
    EXPECT_EQ(updateJson(outcome), "{\"port\":9,\"baud\":57600,\"result\":\"confirmed\",\"exit\":0,\"seconds\":190.2,"
                                   "\"log\":\"update.log\",\"product\":\"RX\",\"firmware\":\"1.00.04\","
                                   "\"fpga\":\"MDL 1.04\",\"device\":1}");
}

TEST(ToolJson, UpdateObjectWithNothingKnownHoldsNulls)
{
    UpdateOutcome outcome;
    outcome.result = ToolOutcome::NoUnit;
    EXPECT_EQ(updateJson(outcome),
              "{\"port\":null,\"baud\":null,\"result\":\"no-unit\",\"exit\":4,\"seconds\":0.0,\"log\":null}");
}
