// What a unit says of itself (here the model word of its version reply)
// reaches a person escaped and a script as text: the scan's listing and the
// update's console show its control and non-ASCII bytes as "\xNN", and the
// JSON objects hold it as UTF-8 text whatever the bytes were.
#include "NamedCase.h"
#include "ToolSimTest.h"

#include "ToolOutcome.h"
#include "commands/Commands.h"
#include "console/ToolConsole.h"
#include "unit/UnitJson.h"
#include "unit/UnitReason.h"

#include <nlohmann/json.hpp>

#include <string>

namespace {

struct ModelCase : NamedCase {
    std::string model;  // the model word the unit replies with
    std::string shown;  // its FPGA version as the listing and the console show it
    std::string text;   // as a script reads it from the JSON objects
};

class UnitText : public ToolSimTest, public ::testing::WithParamInterface<ModelCase> {
protected:
    void SetUp() override
    {
        ToolSimTest::SetUp();
        UnitConfig config;
        config.model = GetParam().model;
        simPort_attachUnit(4, config);
    }

    // The FPGA version a JSON text holds at `pointer`; "not JSON" when the
    // text is no JSON a script could read.
    static std::string fpgaIn(const std::string &json, const char *pointer)
    {
        const nlohmann::json object = nlohmann::json::parse(json, nullptr, false);
        return object.is_discarded() ? "not JSON" : object[nlohmann::json::json_pointer(pointer)].get<std::string>();
    }

    // Nothing but printable ASCII and the line's "\r", "\n" and "\b".
    static bool safeOnATerminal(const std::string &text)
    {
        for (const char c : text) {
            if ((c < 0x20 || c >= 0x7F) && c != '\r' && c != '\n' && c != '\b') {
                return false;
            }
        }
        return true;
    }
};

}  // namespace

TEST_P(UnitText, ScanListsItEscapedAndWritesItAsText)
{
    const ScanResult scan = scanPorts(4, 4);
    const std::string listing = simConsole_text();
    EXPECT_NE(listing.find("1.00.04    " + GetParam().shown + " "), std::string::npos) << listing;
    EXPECT_TRUE(safeOnATerminal(listing)) << listing;
    EXPECT_EQ(fpgaIn(scanJson(scan), "/units/0/fpga"), GetParam().text);
}

TEST_P(UnitText, UpdateShowsItEscapedAndWritesItAsText)
{
    ASSERT_TRUE(toolConsole_begin(false));
    const UpdateOutcome outcome = performUpdate(4, 0);
    toolConsole_end();
    EXPECT_EQ(outcome.result, ToolOutcome::Confirmed);
    const std::string console = simConsole_text();
    EXPECT_NE(console.find("Checking fpga version ..................  " + GetParam().shown + "  device:1\r\n"),
              std::string::npos)
        << console;
    EXPECT_TRUE(safeOnATerminal(console)) << console;
    EXPECT_EQ(fpgaIn(updateJson(outcome), "/fpga"), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Tool, UnitText,
                         ::testing::Values(ModelCase{{"plain"}, "SDI6G", "SDI6G 1.04", "SDI6G 1.04"},
                                           ModelCase{{"not_utf8"}, "S\xC3", "S\\xC3 1.04", "S\xEF\xBF\xBD 1.04"},
                                           ModelCase{
                                               {"escape_sequence"}, "S\x1B[31m", "S\\x1B[31m 1.04", "S\x1B[31m 1.04"}),
                         CaseName());

namespace {

// The words scripts read and the line a technician reads for each reason.
struct AdviceCase : NamedCase {
    const char *advice;
};

class ReasonAdvice : public ::testing::TestWithParam<AdviceCase> {};

}  // namespace

TEST_P(ReasonAdvice, WordReadBackGivesItsLine)
{
    const UnitReason reason = reasonOfWord(GetParam().name);
    ASSERT_STREQ(reasonWord(reason), GetParam().name);
    EXPECT_EQ(adviceLine(reason, "COM3"), GetParam().advice);
}

INSTANTIATE_TEST_SUITE_P(
    Tool, ReasonAdvice,
    ::testing::Values(
        AdviceCase{{"refused"}, "power-cycle the unit, then run the update again"},
        AdviceCase{{"stalled"}, "check the cable and its handshake lines, power-cycle the unit, then run the update again"},
        AdviceCase{{"unconfirmed"},
                   "power-cycle the unit, check its firmware with scan, and update it again if it is not the new one"},
        AdviceCase{{"interrupted"}, "power-cycle the unit, then run the update again"},
        AdviceCase{{"worker-died"}, "read the end of its log, power-cycle the unit, then run the update again"}),
    CaseName());
