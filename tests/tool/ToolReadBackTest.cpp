// The proof of an update: once the unit has confirmed it, the tool asks the
// unit its versions again; what the unit reports decides the result and
// shows before and after, in the one way the tool writes a version. And
// --skip-current, which leaves a unit that already runs the firmware alone.
#include "EndsWith.h"
#include "NamedCase.h"
#include "ToolSimTest.h"
#include "UpdateTranscript.h"

#include "ToolOutcome.h"
#include "commands/Commands.h"
#include "unit/FirmwareReadBack.h"
#include "unit/UnitJson.h"

#include "base/ProgramState.h"

#include <string>

namespace {

// What every read-back object holds before its firmware_after.
const std::string JSON_HEAD = R"({"port":3,"baud":9600,"result":")";
const std::string JSON_UNIT =
    R"("seconds":0.0,"log":null,"product":"TX","firmware":"1.00.04","fpga":"SDI6G 1.04","device":1,)"
    R"("firmware_before":"1.00.04",)";

struct ReadBackCase : NamedCase {
    bool keepsFirmware;  // the unit still reports 1.0.4 after its reboot
    bool silent;         // the unit answers no version query after its reboot
    ToolOutcome result;
    std::string consoleEnd;  // after the success line
    std::string json;        // from the result on, without the unit's part
};

class ToolReadBack : public ToolSimTest, public ::testing::WithParamInterface<ReadBackCase> {};

}  // namespace

TEST_P(ToolReadBack, DecidesTheResultAndShowsBeforeAndAfter)
{
    const ReadBackCase &c = GetParam();
    UnitConfig config;
    config.keepsFirmware = c.keepsFirmware;
    for (int asked = 2; c.silent && asked <= 1 + READ_BACK_ATTEMPTS; ++asked) {
        config.faults.push_back({UnitExchange::Version, UnitFault::Silence, asked});
    }
    simPort_attachUnit(3, config);

    UpdateOutcome outcome = performUpdate(0, 0);

    EXPECT_EQ(outcome.result, c.result);
    EXPECT_TRUE(endsWith(simConsole_text(), transcript::SUCCESS_LINE + c.consoleEnd)) << simConsole_text();
    // Asked at the rate the unit answered at before, and nothing after.
    EXPECT_EQ(writes(3).back(), "%%%fw -v\n\r");
    EXPECT_EQ(events(SimEventKind::Write, 3).back().baud, 9600);
    EXPECT_EQ(simPorts_openHandles(), 0);
    EXPECT_EQ(updateJson(outcome), JSON_HEAD + c.json) << updateJson(outcome);
}

INSTANTIATE_TEST_SUITE_P(
    AfterTheClosingText, ToolReadBack,
    ::testing::Values(ReadBackCase{{"embedded_firmware"},
                                   false,
                                   false,
                                   ToolOutcome::Confirmed,
                                   transcript::READ_BACK_LINE,
                                   R"(confirmed","exit":0,)" + JSON_UNIT + R"("firmware_after":"1.00.05"})"},
                      ReadBackCase{{"old_firmware"},
                                   true,
                                   false,
                                   ToolOutcome::Failed,
                                   "Firmware before: 1.00.04, after: 1.00.04\r\n"
                                   "\r\nERROR: The unit reports firmware 1.00.04 after its reboot, not 1.00.05.\r\n",
                                   R"(failed","exit":1,)" + JSON_UNIT +
                                       R"("firmware_after":"1.00.04",)"
                                       R"("error":"The unit reports firmware 1.00.04 after its reboot, not 1.00.05"})"},
                      ReadBackCase{{"no_answer"},
                                   false,
                                   true,
                                   ToolOutcome::Confirmed,
                                   "Firmware before: 1.00.04, after: no answer\r\n",
                                   R"(confirmed","exit":0,)" + JSON_UNIT + R"("firmware_after":null})"}),
    CaseName());

namespace {

struct SkipCase : NamedCase {
    int fwSub;  // the unit runs 1.0.fwSub
    ToolOutcome result;
    bool uploaded;
};

class ToolSkipCurrent : public ToolSimTest, public ::testing::WithParamInterface<SkipCase> {};

}  // namespace

TEST_P(ToolSkipCurrent, LeavesAloneOnlyAUnitThatRunsTheEmbeddedFirmware)
{
    const SkipCase &c = GetParam();
    UnitConfig config;
    config.fwSub = c.fwSub;
    const UnitModel *unit = simPort_attachUnit(3, config);

    const UpdateOutcome outcome = performUpdate(0, 0, true);

    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(unit_images(unit).mcuUploads > 0, c.uploaded);
    EXPECT_EQ(simPorts_openHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(Tool, ToolSkipCurrent,
                         ::testing::Values(SkipCase{{"current"}, 5, ToolOutcome::Skipped, false},
                                           SkipCase{{"older"}, 4, ToolOutcome::Confirmed, true}),
                         CaseName());

TEST_F(ToolSimTest, SkippedUnitSaysWhyAndReportsTheFirmwareItRuns)
{
    UnitConfig config;
    config.fwSub = 5;
    simPort_attachUnit(3, config);
    const UpdateOutcome outcome = performUpdate(0, 0, true);
    const std::string console = simConsole_text();
    EXPECT_TRUE(endsWith(console, "Baud rate       : 9600 \r\n\r\n"
                                  "The unit already runs firmware 1.00.05: left alone.\r\n"))
        << console;
    EXPECT_EQ(updateJson(outcome),
              R"({"port":3,"baud":9600,"result":"skipped","exit":0,"seconds":0.0,"log":null,"firmware":"1.00.05",)"
              R"("fpga":"SDI6G 1.04","device":1,"firmware_before":"1.00.05","firmware_after":"1.00.05"})");
}

namespace {

struct VersionCase : NamedCase {
    const char *dotted;
    const char *written;
};

class VersionText : public ::testing::TestWithParam<VersionCase> {};

}  // namespace

TEST_P(VersionText, IsWrittenAsTheVersionCheckPrintsIt)
{
    EXPECT_EQ(firmwareVersionText(GetParam().dotted), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(Tool, VersionText,
                         ::testing::Values(VersionCase{{"embedded"}, FIRMWARE_VERSION_TO_UPLOAD, "1.00.05"},
                                           VersionCase{{"two_digits_kept"}, "2.10.3", "2.10.03"},
                                           VersionCase{{"wider_than_two"}, "1.0.123", "1.00.123"},
                                           VersionCase{{"not_three_numbers"}, "1.2", "1.2"}),
                         CaseName());
