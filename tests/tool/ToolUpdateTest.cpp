// OrvaneFwTool update on the simulated platform: how each way an update can
// end maps to its result and exit status, what the user is told when no unit
// can be reached, and the JSON object a script reads.
#include "EndsWith.h"
#include "FlattenedImage.h"
#include "NamedCase.h"
#include "ReadFile.h"
#include "TempFolder.h"
#include "ToolSimTest.h"
#include "UpdateTranscript.h"

#include "ToolOutcome.h"
#include "commands/Commands.h"
#include "unit/UnitJson.h"

#include "base/UpdateLog.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <vector>

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
    std::string lastWords;  // how the console ends
    bool imagesTaken;       // the unit has both images, whole
    const char *reason;     // the JSON's reason and phase; null for none
    const char *phase;
};

nlohmann::json wordOrNull(const char *word)
{
    return word != nullptr ? nlohmann::json(word) : nlohmann::json(nullptr);
}

const std::string SUCCESS_END = SUCCESS_LINE + READ_BACK_LINE;
const char *const FAILURE_END = "\n\rERROR: The update was not successful.\r\n";
const char *const UNCONFIRMED_END =
    "100%\n\rERROR: The unit took both images but did not confirm the update after its reboot.\r\n";

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
    EXPECT_EQ(json["reason"], wordOrNull(c.reason));
    EXPECT_EQ(json["phase"], wordOrNull(c.phase));

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
                                  SUCCESS_END, true, nullptr, nullptr},
                      OutcomeCase{"closing_silent", UnitExchange::Closing, UnitFault::Silence, 1,
                                  ToolOutcome::Unconfirmed, 3, UNCONFIRMED_END, true, "unconfirmed", "reboot"},
                      OutcomeCase{"closing_with_line_end", UnitExchange::Closing, UnitFault::ExtraLineEnd, 1,
                                  ToolOutcome::Unconfirmed, 3, UNCONFIRMED_END, true, "unconfirmed", "reboot"},
                      OutcomeCase{"version_garbled", UnitExchange::Version, UnitFault::Garbled, 1, ToolOutcome::Failed,
                                  1, FAILURE_END, false, "refused", "identify"},
                      OutcomeCase{"product_silent", UnitExchange::Product, UnitFault::Silence, 1, ToolOutcome::Failed,
                                  1, FAILURE_END, false, "refused", "identify"},
                      OutcomeCase{"fpga_command_refused", UnitExchange::FpgaCommand, UnitFault::Garbled, 1,
                                  ToolOutcome::Failed, 1, FAILURE_END, false, "refused", "fpga-upload"},
                      OutcomeCase{"fpga_success_silent", UnitExchange::FpgaData, UnitFault::Silence, 1,
                                  ToolOutcome::Failed, 1, FAILURE_END, false, "no-reply", "fpga-upload"},
                      OutcomeCase{"firmware_command_zeros", UnitExchange::McuCommand, UnitFault::Zeros, 1,
                                  ToolOutcome::Failed, 1, FAILURE_END, false, "refused", "firmware-upload"},
                      OutcomeCase{"unit_lost_in_firmware", UnitExchange::McuData, UnitFault::Drop, 1,
                                  ToolOutcome::Failed, 1, FAILURE_END, false, "lost", "firmware-upload"},
                      OutcomeCase{"unknown_device", UnitExchange::None, UnitFault::None, 2, ToolOutcome::Failed, 1,
                                  FAILURE_END, false, "refused", "identify"}),
    [](const ::testing::TestParamInfo<OutcomeCase> &c) { return std::string(c.param.name); });

namespace {

// A line that stops taking bytes at one write of the update (the unit holds
// CTS low, or stopped reading): the write picked by what it carries, as
// simPort_failWriteAfter picks it, and how much of it the line still takes.
struct StallCase : NamedCase {
    const char *prefix;
    int piecesAfter;
    size_t bytesTaken;
    int readWindowMs;  // of the exchange the write begins or belongs to
    const char *phase;
    const char *error;  // the JSON's error, and the log's error event
};

class ToolUpdateStall : public ToolUpdate, public ::testing::WithParamInterface<StallCase> {
protected:
    TempFolder folder;

    void TearDown() override
    {
        UpdateLog_Close();
        ToolUpdate::TearDown();
    }
};

}  // namespace

TEST_P(ToolUpdateStall, FailsWithinTheWriteWindowAndSaysWhereItStalled)
{
    const StallCase &c = GetParam();
    simPort_attachUnit(3, UnitConfig{});
    simPort_stallWriteAfter(3, c.prefix, 1, c.piecesAfter, c.bytesTaken);
    const std::string log = folder.path("update.log");
    ASSERT_TRUE(UpdateLog_Open(log.c_str()));

    const UpdateOutcome outcome = performUpdate(0, 0);
    UpdateLog_Close();

    EXPECT_EQ(outcome.result, ToolOutcome::Failed);
    EXPECT_TRUE(endsWith(simConsole_text(), FAILURE_END)) << simConsole_text();
    EXPECT_EQ(simPorts_openHandles(), 0);
    const Json json = Json::parse(updateJson(outcome));
    EXPECT_EQ(json["result"], "failed");
    EXPECT_EQ(json["exit"], 1);
    EXPECT_EQ(json["reason"], "stalled");
    EXPECT_EQ(json["phase"], c.phase);
    EXPECT_EQ(json["error"], c.error);
    EXPECT_NE(readFile(log).find(" ms  error   " + std::string(c.error) + "\n"), std::string::npos) << readFile(log);
    // The write the line did not take whole is the last: it held the update
    // one write window, and at most one read window more went by.
    const std::vector<SimEvent> written = events(SimEventKind::Write, 3);
    const auto stalled =
        std::find_if(written.begin(), written.end(), [](const SimEvent &w) { return w.bytes.size() < w.code; });
    ASSERT_NE(stalled, written.end());
    EXPECT_EQ(written.end() - stalled, 1) << "writes from the one the line stopped taking";
    const int64_t took = simClock_nowUs() - stalled->timeUs;
    EXPECT_GE(took, WRITE_STALL_TIMEOUT_MS * 1000LL);
    EXPECT_LE(took, (WRITE_STALL_TIMEOUT_MS + c.readWindowMs) * 1000LL);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStepThatWrites, ToolUpdateStall,
    ::testing::Values(StallCase{"product_query", "%%%fw -p", 0, 0, QUERY_READ_TIMEOUT_MS, "identify",
                                "stalled in identification: no byte taken for 60 s"},
                      StallCase{"fpga_command", "%%%fw -l", 0, 0, FPGA_READY_TIMEOUT_MS, "fpga-upload",
                                "stalled in FPGA upload command: no byte taken for 60 s"},
                      StallCase{"fpga_data", "%%%fw -l", 3, 4096, DATA_REPLY_TIMEOUT_MS, "fpga-upload",
                                "stalled in FPGA upload: only 4096 of 10240 bytes taken in 60 s"},
                      StallCase{"firmware_command", "%%%fw -h", 0, 12, MCU_READY_TIMEOUT_MS, "firmware-upload",
                                "stalled in firmware upload command: only 12 of 28 bytes taken in 60 s"},
                      StallCase{"firmware_data", "%%%fw -h", 1, 0, DATA_REPLY_TIMEOUT_MS, "firmware-upload",
                                "stalled in firmware upload: no byte taken for 60 s"}),
    CaseName());

struct NoUnitCase : NamedCase {
    int port, baud;
    const char *error;
    const char *reason;
    const char *advice;
};

class ToolUpdateNoUnit : public ToolUpdate, public ::testing::WithParamInterface<NoUnitCase> {};

TEST_P(ToolUpdateNoUnit, SaysWhyAndExitsFour)
{
    const NoUnitCase &c = GetParam();
    simPort_setHeld(5);
    simPort_setHeldBy(10, 1234, "cat");
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
                                     std::string(c.error) + ".\r\n");
    EXPECT_EQ(simPorts_openHandles(), 0);
    const Json json = Json::parse(updateJson(outcome));
    EXPECT_EQ(json["exit"], 4);
    EXPECT_EQ(json["reason"], c.reason);
    EXPECT_EQ(json["phase"], "search");
    EXPECT_EQ(json["advice"], c.advice);
}

INSTANTIATE_TEST_SUITE_P(
    EveryReason, ToolUpdateNoUnit,
    ::testing::Values(
        NoUnitCase{"absent", 7, 0, "COM7 cannot be opened: it is absent (The system cannot find the file specified)",
                   "absent", "check the cable and the port name: COM7 is not there"},
        NoUnitCase{"held", 5, 0,
                   "COM5 cannot be opened: another program holds it, or access is denied (The process cannot "
                   "access the file because it is being used by another process)",
                   "busy", "close the program that holds COM5, then run the update again"},
        NoUnitCase{"held_by_a_named_program", 10, 0, "COM10 cannot be opened: it is held by PID 1234 (cat)", "busy",
                   "close the program that holds COM10 (PID 1234 cat), then run the update again"},
        NoUnitCase{"silent", 6, 0, "No unit answered on COM6 at 115200, 9600, 57600, 4800, 2400 or 1200 baud", "silent",
                   "check that the unit is powered and connected to COM6"},
        NoUnitCase{"other_rate", 8, 57600, "No unit answered on COM8 at 57600 baud", "silent",
                   "check that the unit is powered and connected to COM8"},
        NoUnitCase{"search_finds_nothing", 0, 0, "No unit answered on COM1 to COM32", "silent",
                   "check that the unit is powered and connected to a COM port"}),
    CaseName());

TEST_F(ToolUpdate, ConsoleTextIsTheUpdatersWithoutItsKeyWait)
{
    simPort_attachUnit(3, UnitConfig{});
    performUpdate(0, 0);
    EXPECT_EQ(simConsole_text(), BANNER + found(3, 9600) + VERSIONS + CHECKING_PRODUCT + productOk("TX") +
                                     uploads(1055216, 117648) + SUCCESS_LINE + READ_BACK_LINE);
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
    EXPECT_EQ(updateJson(outcome),
              "{\"port\":9,\"path\":null,\"baud\":57600,\"result\":\"confirmed\",\"exit\":0,\"seconds\":190.2,"
              "\"log\":\"update.log\",\"product\":\"RX\",\"firmware\":\"1.00.04\","
              "\"fpga\":\"MDL 1.04\",\"device\":1,\"firmware_before\":\"1.00.04\","
              "\"firmware_after\":null,\"reason\":null,\"phase\":null}");
}

TEST(ToolJson, UpdateObjectWithNothingKnownHoldsNulls)
{
    UpdateOutcome outcome;
    outcome.result = ToolOutcome::NoUnit;
    EXPECT_EQ(updateJson(outcome),
              "{\"port\":null,\"path\":null,\"baud\":null,\"result\":\"no-unit\",\"exit\":4,\"seconds\":0.0,"
              "\"log\":null,\"reason\":null,\"phase\":null}");
}
