// The tool as a script runs it, on the simulated platform: no command waits
// for a key, a pipe gets finished lines instead of redrawn figures, -q and -v
// show less and more, and diag ends with a verdict.
#include "HexText.h"
#include "NamedCase.h"
#include "TempFolder.h"
#include "ToolSimTest.h"

#include "ToolOutcome.h"
#include "commands/Commands.h"
#include "commands/HexTextEnd.h"
#include "console/ToolConsole.h"

#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

class ToolScript : public ToolSimTest {
protected:
    void TearDown() override
    {
        toolConsole_setDetail(ConsoleDetail::Normal);
        ToolSimTest::TearDown();
    }
};

// The console's lines, as a pipe receives them.
std::vector<std::string> linesOf(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

struct CommandRun : NamedCase {
    bool unitAttached;
    ToolOutcome (*run)(const std::string &folder);
};

class NoKeyWait : public ToolScript, public ::testing::WithParamInterface<CommandRun> {};

}  // namespace

TEST_P(NoKeyWait, EndsWithoutReadingAKeyOrAskingForOne)
{
    const TempFolder folder;
    const InFolder inFolder(folder.path());
    if (GetParam().unitAttached) {
        simPort_attachUnit(2, UnitConfig{});
    }
    GetParam().run(folder.path());
    EXPECT_EQ(simConsole_keyWaits(), 0);
    EXPECT_EQ(simConsole_text().find("Press any key"), std::string::npos) << simConsole_text();
}

INSTANTIATE_TEST_SUITE_P(
    Tool, NoKeyWait,
    ::testing::Values(
        CommandRun{{"info"}, false, [](const std::string &) { return runInfo(); }},
        CommandRun{{"web"}, false, [](const std::string &) { return runWebFile(); }},
        CommandRun{{"flatten"},
                   false,
                   [](const std::string &folder) {
                       std::ofstream(folder + "/in.hex") << hextext::data(0, {1}) + hextext::end();
                       // As the tool runs it: without the program's buffers, whose
                       // large one flatten takes for itself.
                       releaseProgramBuffers();
                       return flattenHexFile((folder + "/in.hex").c_str(), (folder + "/out.bin").c_str());
                   }},
        CommandRun{{"product"}, true, [](const std::string &) { return runProductCheck(false); }},
        CommandRun{{"product_without_unit"}, false, [](const std::string &) { return runProductCheck(true); }},
        CommandRun{{"diag"}, true, [](const std::string &) { return runDiagnostics(); }},
        CommandRun{{"diag_without_unit"}, false, [](const std::string &) { return runDiagnostics(); }},
        CommandRun{{"scan"}, true, [](const std::string &) { return runScan(2, 2, false); }},
        CommandRun{{"update_without_unit"}, false, [](const std::string &) { return runUpdate(UpdateOptions{}); }}),
    CaseName());

TEST_F(ToolScript, PipedProgressIsALinePerTenthWithoutBackspaces)
{
    toolConsole_setProgress(ProgressStyle::Lines);
    simPort_attachUnit(2, UnitConfig{});
    EXPECT_EQ(runDiagnostics(), ToolOutcome::Done);
    const std::string console = simConsole_text();
    EXPECT_EQ(console.find('\b'), std::string::npos);
    std::vector<std::string> counter;
    for (const std::string &line : linesOf(console)) {
        if (line.rfind("Sending 512 kb of data .......", 0) == 0) {
            counter.push_back(line.substr(31));
        }
    }
    // Its figures go up by 1.95: the first of each tenth.
    EXPECT_EQ(counter,
              (std::vector<std::string>{"11%", "21%", "31%", "41%", "50%", "60%", "70%", "80%", "91%", "100%"}));
}

TEST_F(ToolScript, QuietShowsOnlyTheClosingLine)
{
    toolConsole_setDetail(ConsoleDetail::Quiet);
    simPort_attachUnit(2, UnitConfig{});
    EXPECT_EQ(runProductCheck(true, {2, 9600}), ToolOutcome::Done);
    EXPECT_EQ(simConsole_text(),
              "The unit answered \"Dexrig 6V IZA DOVOVUDI ZARE RIZOR TX\\r\\n>>\": it is a TX unit.\n");
}

TEST_F(ToolScript, VerboseShowsTheExchangesAsTheLogHasThem)
{
    toolConsole_setDetail(ConsoleDetail::Verbose);
    simPort_attachUnit(2, UnitConfig{});
    EXPECT_EQ(runProductCheck(true, {2, 9600}), ToolOutcome::Done);
    // The times are the machine's, not the simulation's.
    const std::string console = std::regex_replace(simConsole_text(), std::regex(" +[0-9]+ ms  "), "ms  ");
    EXPECT_NE(console.find("Checking product ...\n"
                           "ms  sent    \"%%%fw -p\\n\\r\" (10 bytes)\n"
                           "ms  reply   \"Dexrig 6V IZA DOVOVUDI ZARE RIZOR TX\\r\\n>>\" (40 bytes)\n"
                           "OK"),
              std::string::npos)
        << console;
}

// The unit model echoes every line it is sent without "%%" and calls each
// an unknown command: long after the block it is still at it.
TEST_F(ToolScript, DiagEndsWithWhatTheUnitAnsweredAfterwards)
{
    simPort_attachUnit(2, UnitConfig{});
    EXPECT_EQ(runDiagnostics({2, 9600}), ToolOutcome::Done);
    const std::vector<std::string> lines = linesOf(simConsole_text());
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_match(lines.back(),
                                 std::regex("Verdict: the unit took the diagnostic command and its 512 KiB block; "
                                            "asked \"%help -c version\" on COM2 at 9600 baud, it answered "
                                            "\".*\"(\\.\\.\\.)? \\([0-9]+ bytes\\), not the search's reply\\.\r")))
        << lines.back();
    EXPECT_EQ(simPorts_openHandles(), 0);
}

namespace {

struct EndCase : NamedCase {
    std::string text;
    int line;
    const char *fault;
};

class HexEnd : public ::testing::TestWithParam<EndCase> {};

}  // namespace

TEST_P(HexEnd, IsTheLastRecordAndTheOnlyOne)
{
    const HexTextEnd end = hexTextEnd(GetParam().text.c_str());
    EXPECT_EQ(end.line, GetParam().line);
    EXPECT_EQ(end.fault, GetParam().fault);
}

INSTANTIATE_TEST_SUITE_P(
    Flatten, HexEnd,
    ::testing::Values(
        EndCase{{"whole"}, hextext::data(0, {1}) + hextext::end(), 0, ""},
        EndCase{{"whole_with_blank_lines_after"}, hextext::data(0, {1}) + hextext::end() + "\r\n \r\n", 0, ""},
        EndCase{{"cut_at_a_line_end"},
                hextext::data(0, {1}) + hextext::data(1, {2}),
                2,
                "the text ends without an end-of-file record"},
        EndCase{{"record_after_the_end"},
                hextext::end() + hextext::data(0, {1}),
                2,
                "text after the end-of-file record of line 1"},
        EndCase{
            {"lone_cr_line_ends"}, ":00000001FF\r\r:0100000001FE\r", 3, "text after the end-of-file record of line 1"},
        EndCase{{"blank_only"}, "\r\n\r\n", 0, "the text ends without an end-of-file record"}),
    CaseName());
