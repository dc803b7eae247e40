// How an update ends once the unit has confirmed it: the tool asks the unit
// its versions again, and what the unit reports decides the result. With
// --skip-current a unit that already runs the firmware is left alone. The
// tool writes every version one way.
#include "EndsWith.h"
#include "NamedCase.h"
#include "ToolSimTest.h"
#include "UpdateTranscript.h"

#include "commands/Commands.h"
#include "unit/FirmwareReadBack.h"
#include "unit/UnitJson.h"

#include "base/ProgramState.h"

#include <nlohmann/json.hpp>

namespace {

using namespace transcript;

// What the unit does: takes the update, keeps its old firmware through the
// reboot, answers no version query after it, or already runs 1.0.5.
enum Unit { Updates, KeepsFirmware, Silent, Current };

struct ReadBackCase : NamedCase {
    Unit unit;
    bool skipCurrent;
    ToolOutcome result;
    std::string consoleEnd;
    nlohmann::json firmwareAfter;
};

class ToolReadBack : public ToolSimTest, public ::testing::WithParamInterface<ReadBackCase> {};

const std::string CONFIRMED = SUCCESS_LINE + READ_BACK_LINE;
const std::string OLD_FIRMWARE = SUCCESS_LINE +
                                 "Firmware before: 1.00.04, after: 1.00.04\r\n"
                                 "\r\nERROR: The unit reports firmware 1.00.04 after its reboot, not 1.00.05.\r\n";
const std::string NO_ANSWER = SUCCESS_LINE + "Firmware before: 1.00.04, after: no answer\r\n";
const std::string LEFT_ALONE = "Baud rate       : 9600 \r\n\r\nThe unit already runs firmware 1.00.05: left alone.\r\n";

}  // namespace

TEST_P(ToolReadBack, DecidesTheResultAndShowsBeforeAndAfter)
{
    const ReadBackCase &c = GetParam();
    UnitConfig config;
    config.fwSub = c.unit == Current ? 5 : 4;
    config.keepsFirmware = c.unit == KeepsFirmware;
    for (int asked = 2; c.unit == Silent && asked <= 1 + READ_BACK_ATTEMPTS; ++asked) {
        config.faults.push_back({UnitExchange::Version, UnitFault::Silence, asked});
    }
    const UnitModel *unit = simPort_attachUnit(3, config);

    const UpdateOutcome outcome = performUpdate(0, 0, c.skipCurrent);

    EXPECT_EQ(outcome.result, c.result);
    EXPECT_TRUE(endsWith(simConsole_text(), c.consoleEnd)) << simConsole_text();
    EXPECT_EQ(unit_images(unit).mcuUploads, c.result == ToolOutcome::Skipped ? 0 : 1);
    // The last question is the version query, at the rate the unit answered at before.
    EXPECT_EQ(writes(3).back(), "%%%fw -v\n\r");
    EXPECT_EQ(events(SimEventKind::Write, 3).back().baud, 9600);
    const nlohmann::json json = nlohmann::json::parse(updateJson(outcome));
    EXPECT_EQ(json["firmware_before"], c.unit == Current ? "1.00.05" : "1.00.04");
    EXPECT_EQ(json["firmware_after"], c.firmwareAfter);
    // Another firmware after the reboot is the one failure here.
    const bool failed = c.result == ToolOutcome::Failed;
    EXPECT_EQ(json["reason"], failed ? nlohmann::json("unconfirmed") : nlohmann::json(nullptr));
    EXPECT_EQ(json["phase"], failed ? nlohmann::json("read-back") : nlohmann::json(nullptr));
}

INSTANTIATE_TEST_SUITE_P(
    Tool, ToolReadBack,
    ::testing::Values(ReadBackCase{{"embedded"}, Updates, false, ToolOutcome::Confirmed, CONFIRMED, "1.00.05"},
                      ReadBackCase{
                          {"old_firmware"}, KeepsFirmware, false, ToolOutcome::Failed, OLD_FIRMWARE, "1.00.04"},
                      ReadBackCase{{"no_answer"}, Silent, false, ToolOutcome::Confirmed, NO_ANSWER, nullptr},
                      ReadBackCase{{"skip_current"}, Current, true, ToolOutcome::Skipped, LEFT_ALONE, "1.00.05"},
                      ReadBackCase{{"skip_only_current"}, Updates, true, ToolOutcome::Confirmed, CONFIRMED, "1.00.05"}),
    CaseName());

TEST(ToolVersionText, IsWrittenAsTheVersionCheckPrintsIt)
{
    EXPECT_EQ(firmwareVersionText(FIRMWARE_VERSION_TO_UPLOAD), "1.00.05");
    EXPECT_EQ(firmwareVersionText("2.10.3"), "2.10.03");
    EXPECT_EQ(firmwareVersionText("1.0.123"), "1.00.123");
    EXPECT_EQ(firmwareVersionText("1.2"), "1.2");  // not three numbers: as it is
}
