// The update's log as a file: what stands where it is asked for is never
// written over nor followed, and a log that loses lines is told while the
// update goes on. POSIX only: links and /dev/full.
#include "NamedCase.h"
#include "ReadFile.h"
#include "TempFolder.h"
#include "ToolSimTest.h"
#include "UpdateTranscript.h"

#include "ToolOutcome.h"
#include "commands/Commands.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

using Json = nlohmann::json;

class ToolLogFile : public ToolSimTest {};

// The JSON object a run printed: the last line of its standard output.
Json lastJsonLine(const std::string &output)
{
    const size_t end = output.find_last_not_of('\n');
    const size_t start = output.rfind('\n', end);
    return Json::parse(output.substr(start == std::string::npos ? 0 : start + 1), nullptr, false);
}

// What stands where the log is asked for: an earlier log, or a link to one
// or to nothing.
struct TakenLogCase : NamedCase {
    bool link;
    bool earlierLog;  // the file the name leads to exists
};

class ToolLogTaken : public ToolLogFile, public ::testing::WithParamInterface<TakenLogCase> {
protected:
    TempFolder folder;
};

}  // namespace

TEST_P(ToolLogTaken, IsRefusedBeforeAnyPortWithNothingTouched)
{
    const TakenLogCase &c = GetParam();
    simPort_attachUnit(3, UnitConfig{});
    const std::string log = folder.path("update.log");
    const std::string earlier = c.link ? folder.path("earlier.log") : log;
    if (c.earlierLog) {
        std::ofstream(earlier, std::ios::binary) << "an earlier run\n";
    }
    if (c.link) {
        ASSERT_EQ(symlink(earlier.c_str(), log.c_str()), 0);
    }
    UpdateOptions options;
    options.log = log;
    options.json = true;

    EXPECT_EQ(runUpdate(options), ToolOutcome::Usage);

    EXPECT_TRUE(simEvents_all().empty()) << "a port was touched";
    if (c.earlierLog) {
        EXPECT_EQ(readFile(earlier), "an earlier run\n");
    } else {
        EXPECT_FALSE(std::filesystem::exists(earlier));
    }
    const Json json = lastJsonLine(simConsole_text());
    EXPECT_EQ(json["exit"], 2);
    EXPECT_EQ(json["result"], "failed");
    EXPECT_EQ(json["log"], nullptr);
    EXPECT_EQ(json["error"], "the log " + log + " exists already: an update log is always a new file");
}

INSTANTIATE_TEST_SUITE_P(EveryKind, ToolLogTaken,
                         ::testing::Values(TakenLogCase{{"earlier_log"}, false, true},
                                           TakenLogCase{{"link_to_an_earlier_log"}, true, true},
                                           TakenLogCase{{"link_to_nothing"}, true, false}),
                         CaseName());

// A log that cannot take its lines (a full disk) is told, and the update goes on.
TEST_F(ToolLogFile, LogThatLosesLinesIsToldAndTheUpdateGoesOn)
{
    simPort_attachUnit(3, UnitConfig{});
    UpdateOptions options;
    options.log = "/dev/full";
    options.json = true;
    ::testing::internal::CaptureStderr();
    const ToolOutcome outcome = runUpdate(options);
    const std::string console = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(outcome, ToolOutcome::Confirmed);
    const std::string tail = transcript::SUCCESS_LINE + transcript::READ_BACK_LINE +
                             "\r\nERROR: the log /dev/full lost lines: No space left on device.\r\n";
    ASSERT_GE(console.size(), tail.size());
    EXPECT_EQ(console.substr(console.size() - tail.size()), tail);
    const Json json = lastJsonLine(simConsole_text());
    EXPECT_EQ(json["result"], "confirmed");
    EXPECT_EQ(json["log"], "/dev/full");
    EXPECT_EQ(json["log_error"], "No space left on device");
    EXPECT_FALSE(json.contains("error"));
}

namespace {

// The unit answers one step with something else than its go-ahead, or
// nothing at all: the run says where, what the console showed of it, and
// what to do next.
struct RefusalCase : NamedCase {
    UnitExchange at;
    UnitFault fault;
    const char *reason;
    const char *phase;
    const char *error;
    const char *advice;
};

class ToolRefusal : public ToolLogFile, public ::testing::WithParamInterface<RefusalCase> {
protected:
    TempFolder folder;
};

RefusalCase failedAt(const char *name, UnitExchange at, UnitFault fault, const char *reason, const char *phase,
                     const char *error, const char *advice)
{
    return {{name}, at, fault, reason, phase, error, advice};
}

// A step the unit answers with something garbled.
RefusalCase refusedAt(const char *name, UnitExchange at, const char *phase, const char *error)
{
    return failedAt(name, at, UnitFault::Garbled, "refused", phase, error,
                    "power-cycle the unit, then run the update again");
}

}  // namespace

TEST_P(ToolRefusal, ErrorHoldsTheFailedTextAndTheConsoleTheNextStep)
{
    const RefusalCase &c = GetParam();
    UnitConfig config;
    config.faults.push_back({c.at, c.fault});
    simPort_attachUnit(3, config);
    UpdateOptions options;
    options.log = folder.path("update.log");
    options.json = true;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(runUpdate(options), ToolOutcome::Failed);
    const std::string console = ::testing::internal::GetCapturedStderr();

    const Json json = lastJsonLine(simConsole_text());
    EXPECT_EQ(json["reason"], c.reason);
    EXPECT_EQ(json["phase"], c.phase);
    EXPECT_EQ(json["error"], c.error);
    EXPECT_EQ(json["advice"], c.advice);
    EXPECT_TRUE(console.ends_with("Next step: " + std::string(c.advice) + ".\r\n")) << console;
    EXPECT_NE(
        readFile(options.log)
            .find(" verdict failed, exit status 1, " + std::string(c.reason) + " in " + std::string(c.phase) + "\n"),
        std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStepThatAsks, ToolRefusal,
    ::testing::Values(
        refusedAt("product", UnitExchange::Product, "identify", "the unit refused the identification: FAILED"),
        refusedAt("fpga_command", UnitExchange::FpgaCommand, "fpga-upload",
                  "the unit refused the FPGA upload command: FAILED [Unit not ready]"),
        refusedAt("firmware_data", UnitExchange::McuData, "firmware-upload",
                  "the unit refused the firmware upload: FAILED"),
        // A reply that never came is no refusal: nothing was said.
        failedAt("fpga_data_unanswered", UnitExchange::FpgaData, UnitFault::Silence, "no-reply", "fpga-upload",
                 "the unit did not answer the FPGA upload",
                 "check the cable, power-cycle the unit, then run the update again"),
        // Nor is a port that went away under a write.
        failedAt("unit_gone_in_firmware_data", UnitExchange::McuData, UnitFault::Drop, "lost", "firmware-upload",
                 "a write failed during the firmware upload: A device attached to the system is not functioning",
                 "check the cable and reconnect the unit, power-cycle it, then run the update again")),
    CaseName());
