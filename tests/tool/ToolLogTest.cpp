// The update log: its event lines from the serial module and the command
// channel, how it shows bytes, how it takes events back out of a captured
// console's text, the status lines made of that text, and that keeping a log
// changes nothing on the wire or in its timing.
#include "NamedCase.h"
#include "ReadFile.h"
#include "TempFolder.h"
#include "ToolSimTest.h"
#include "UpdateTranscript.h"

#include "commands/Commands.h"
#include "console/StatusLines.h"

#include "base/EscapedBytes.h"
#include "base/UpdateLog.h"

#include <algorithm>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace {

// The log's lines without their times ("%8lld ms  "), which are real time.
std::vector<std::string> eventsOf(const std::string &log)
{
    std::vector<std::string> events;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        events.push_back(line.size() > 12 && line.compare(8, 5, " ms  ") == 0 ? line.substr(13) : "HEADING " + line);
    }
    return events;
}

class ToolLog : public ToolSimTest {
protected:
    TempFolder folder;

    void TearDown() override
    {
        UpdateLog_Close();
        SimTest::TearDown();
    }

    std::vector<std::string> loggedUpdate(int port)
    {
        const std::string path = folder.path("update.log");
        EXPECT_TRUE(UpdateLog_Open(path.c_str()));
        performUpdate(port, 0);
        UpdateLog_Close();
        return eventsOf(readFile(path));
    }
};

}  // namespace

TEST_F(ToolLog, NamesEveryPortSettingCommandAndReplyInOrder)
{
    UnitConfig config;
    config.faults.push_back({UnitExchange::FpgaCommand, UnitFault::ExtraLineEnd});
    simPort_attachUnit(3, config);
    const std::string probe = "sent    \"%%%help -c version\\n\\r\" (20 bytes)";
    const std::vector<std::string> expected = {
        "set     CTS flow control off (staged)",
        "look    COM3 present",
        "set     rate 115200 baud (staged)",
        "open    COM3 at 115200 baud, CTS flow control off",
        probe,
        "reply   \"\" (0 bytes)",
        probe,
        "reply   \"\" (0 bytes)",
        "close   COM3 at 115200 baud, CTS flow control off",
        "set     rate 9600 baud (staged)",
        "open    COM3 at 9600 baud, CTS flow control off",
        probe,
        "reply   \"version\\n\\r   version <no parameters> {Get the current firmware version}\\r\\n>>\" (74 bytes)",
        "port    COM3 leads to /dev/ttyS2",
        "set     CTS flow control on",
        "set     read time-out 1000 ms",
        "sent    \"%%%fw -v\\n\\r\" (10 bytes)",
        "reply   \"1.0.4\\r\\nSDI6G\\r\\n1.4\\r\\n1\\r\\n>>\" (24 bytes)",
        "sent    \"%%%fw -p\\n\\r\" (10 bytes)",
        "reply   \"Dexrig 6V IZA DOVOVUDI ZARE RIZOR TX\\r\\n>>\" (40 bytes)",
        "set     read time-out 10000 ms",
        "sent    \"%%%fw -l 4281442003 1055216\\n\\r\" (29 bytes)",
        "reply   \"Ready\\r\\n\" (7 bytes) cut short",
        "close   COM3 at 9600 baud, CTS flow control on",
    };
    EXPECT_EQ(loggedUpdate(3), expected);
}

TEST_F(ToolLog, WholeUpdateShowsEachDataBlockAndTheClosingText)
{
    simPort_attachUnit(3, UnitConfig{});
    simPort_setHeld(2);
    const std::vector<std::string> events = loggedUpdate(0);
    EXPECT_EQ(events[1], "look    COM1 cannot be opened, error 2: The system cannot find the file specified");
    EXPECT_EQ(events[2], "look    COM2 cannot be opened, error 32: The process cannot access the file because it is "
                         "being used by another process");
    std::vector<std::string> blocks, replies;
    for (const std::string &line : events) {
        if (line.rfind("data    ", 0) == 0) {
            blocks.push_back(line.substr(8, line.find(" bytes in ") - 8));
        } else if (line.rfind("reply   ", 0) == 0) {
            replies.push_back(line.substr(8));
        }
    }
    // 103 pieces of 10,240 and 496 bytes of FPGA image, 11 and 5,008 of firmware.
    ASSERT_EQ(blocks.size(), 104u + 12u);
    EXPECT_EQ(blocks[0], "10240");
    EXPECT_EQ(blocks[103], "496");
    EXPECT_EQ(blocks[115], "5008");
    ASSERT_GE(replies.size(), 4u);
    EXPECT_EQ(replies[replies.size() - 4], "\"SUCCESS\" (7 bytes)");
    EXPECT_EQ(replies[replies.size() - 3], "\"\" (0 bytes)");  // the first closing read, before the text
    EXPECT_EQ(replies[replies.size() - 2], "\"[Dexrig 6V IZA DOVOVUDI ZARE RIZOR 1.0.5]\\r\\n>>\" (45 bytes)");
    // The firmware read back after the reboot, and what it proves.
    EXPECT_EQ(replies.back(), "\"1.0.5\\r\\nSDI6G\\r\\n1.4\\r\\n1\\r\\n>>\" (24 bytes)");
    EXPECT_NE(std::find(events.begin(), events.end(), "version firmware before 1.00.04, after 1.00.05"), events.end());
}

TEST_F(ToolLog, ChangesNothingOnTheWireNorInItsTiming)
{
    using Seen = std::tuple<int64_t, SimEventKind, int, std::string, int>;
    std::vector<Seen> runs[2];
    for (const bool logged : {false, true}) {
        releaseProgramBuffers();
        ToolSimTest::SetUp();
        simPort_setSilent(2);
        simPort_attachUnit(3, UnitConfig{});
        if (logged) {
            ASSERT_TRUE(UpdateLog_Open(folder.path("update.log").c_str()));
        }
        performUpdate(0, 0);
        UpdateLog_Close();
        for (const SimEvent &e : simEvents_all()) {
            runs[logged].emplace_back(e.timeUs, e.kind, e.port, e.bytes, e.baud);
        }
        simConsole_end();
    }
    EXPECT_GT(runs[0].size(), 200u);
    EXPECT_TRUE(runs[0] == runs[1]);
}

TEST_F(ToolLog, BytesAreCutAtTheLimitWithTheirFullLength)
{
    const std::string path = folder.path("cut.log");
    ASSERT_TRUE(UpdateLog_Open(path.c_str()));
    UpdateLog_Bytes("reply", std::string(300, 'a'));
    UpdateLog_Bytes("reply", std::string(UPDATE_LOG_TEXT_LIMIT, 'b'), "cut short");
    UpdateLog_Close();
    const std::vector<std::string> events = eventsOf(readFile(path));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], "reply   \"" + std::string(UPDATE_LOG_TEXT_LIMIT, 'a') + "\"... (300 bytes)");
    EXPECT_EQ(events[1], "reply   \"" + std::string(UPDATE_LOG_TEXT_LIMIT, 'b') + "\" (200 bytes) cut short");
}

namespace {

// What a captured console's pipe carries: text, an event, text, an event, text.
const std::string ROUTED = std::string("Checking product ...") + '\0' + "sent \"%%%fw -p\\n\\r\" (10 bytes)\n" + " OK" +
                           '\0' + "look COM3 present\n" + " done";

struct RoutedCase : NamedCase {
    std::vector<size_t> cuts;  // where the pipe's bytes come apart into reads
};

std::vector<size_t> everyByte(void)
{
    std::vector<size_t> cuts;
    for (size_t at = 1; at < ROUTED.size(); ++at) {
        cuts.push_back(at);
    }
    return cuts;
}

std::string g_consoleText;

void takeConsoleText(std::string_view piece)
{
    g_consoleText += piece;
}

// Stands for the label a captured console logs before an event.
void logConsoleSoFar(void)
{
    UpdateLog_Status(g_consoleText);
}

class RoutedStream : public ::testing::TestWithParam<RoutedCase> {
protected:
    void TearDown() override { UpdateLog_Close(); }
};

}  // namespace

TEST_P(RoutedStream, GivesTheSameTextAndEventsHoweverItIsCut)
{
    TempFolder folder;
    const std::string path = folder.path("routed.log");
    ASSERT_TRUE(UpdateLog_Open(path.c_str()));
    g_consoleText.clear();
    std::vector<size_t> cuts = GetParam().cuts;
    cuts.push_back(ROUTED.size());
    size_t from = 0;
    for (const size_t cut : cuts) {
        UpdateLog_ReadRouted(std::string_view(ROUTED).substr(from, cut - from), takeConsoleText, logConsoleSoFar);
        from = cut;
    }
    UpdateLog_Close();
    EXPECT_EQ(g_consoleText, "Checking product ... OK done");
    const std::vector<std::string> expected = {
        "status  Checking product ...",
        "sent    \"%%%fw -p\\n\\r\" (10 bytes)",
        "status  Checking product ... OK",
        "look    COM3 present",
    };
    EXPECT_EQ(eventsOf(readFile(path)), expected);
}

INSTANTIATE_TEST_SUITE_P(UpdateLog, RoutedStream,
                         ::testing::Values(RoutedCase{{"whole"}, {}}, RoutedCase{{"text_cut"}, {5}},
                                           RoutedCase{{"zero_byte_ends_a_read"}, {ROUTED.find('\0') + 1}},
                                           RoutedCase{{"record_cut"}, {ROUTED.find('\0') + 8}},
                                           RoutedCase{{"line_end_starts_a_read"}, {ROUTED.find('\n')}},
                                           RoutedCase{{"every_byte"}, everyByte()}),
                         CaseName());

struct EscapeCase {
    std::string bytes;
    size_t limit;
    std::string shown;
};

class LogEscape : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(LogEscape, ShowsEveryByteReadably)
{
    EXPECT_EQ(escapedBytes(GetParam().bytes, GetParam().limit), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    UpdateLog, LogEscape,
    ::testing::Values(EscapeCase{"Ready\r\n>>", 200, "Ready\\r\\n>>"},
                      EscapeCase{std::string("\0\x01\x7F\x80\xFF", 5), 200, "\\x00\\x01\\x7F\\x80\\xFF"},
                      EscapeCase{"say \"\\\"", 200, "say \\\"\\\\\\\""}, EscapeCase{"\t\b", 200, "\\x09\\x08"},
                      EscapeCase{"abcdef", 3, "abc"}, EscapeCase{"\r\n\r\n", 2, "\\r\\n"}, EscapeCase{"", 200, ""}),
    [](const ::testing::TestParamInfo<EscapeCase> &c) { return "case_" + std::to_string(c.index); });

// The status lines of a whole update, from the console text the technician sees.
TEST(StatusLines, WholeUpdateGivesEachLineOnceAndProgressEveryTenth)
{
    using namespace transcript;
    statusLines_reset();
    const std::string console = BANNER + found(3, 9600) + VERSIONS + CHECKING_PRODUCT + productOk("TX") +
                                uploads(1055216, 117648) + SUCCESS_LINE;
    std::vector<std::string> expected = {
        "You are about to upload the firmware version 1.0.5",
        "Detecting COM port and Baud Rate..................OK",
        "COM PORT Number : 3",
        "Baud rate       : 9600",
        "Checking firmware version ..............  1.00.04",
        "Checking fpga version ..................  SDI6G 1.04  device:1",
        "Checking product .......... TX OK",
        "Dexrig 6V IZA DOVOVUDI ZARE RIZOR TX",
        ">>",
        "Preparing to Upload Programmable Logic ............ OK",
    };
    // The first value shown at each new tenth: a transfer moves in 10,240-byte
    // pieces, the reboot wait in steps of 100/46.
    const auto progress = [&expected](const std::string &label, std::vector<const char *> values, const char *end) {
        for (const char *value : values) {
            expected.push_back(label + value + "%");
        }
        if (end[0] != '\0') {
            expected.push_back(label + "100%" + end);
        }
    };
    progress(SENDING_FPGA, {"10", "20", "30", "40", "50", "60", "70", "80", "90", "100"}, "OK");
    expected.push_back("Preparing to Upload Firmware ...................... OK");
    progress(SENDING_MCU, {"17", "26", "34", "43", "52", "60", "78", "87", "95", "100"}, " OK");
    progress(REBOOTING, {" 10", " 21", " 30", " 41", " 50", " 60", " 71", " 80", " 91", "100"}, "");
    expected.push_back("The update was successful, the unit is now operational");
    EXPECT_EQ(statusLines_feed(console), expected);
    EXPECT_EQ(statusLines_finish(), "");
}

TEST(StatusLines, LabelWaitingForItsWordIsReportedOnceAndAgainWhenFinished)
{
    statusLines_reset();
    EXPECT_TRUE(statusLines_feed("Preparing to Upload Firmware ...................... ").empty());
    EXPECT_EQ(statusLines_pending(), "Preparing to Upload Firmware ......................");
    EXPECT_EQ(statusLines_pending(), "");
    EXPECT_EQ(statusLines_feed("FAILED [Unit not ready]\r\n"),
              std::vector<std::string>{"Preparing to Upload Firmware ...................... FAILED [Unit not ready]"});
    // A percentage in progress waits for its next tenth, not for an event.
    statusLines_feed("Sending data ...................................... 1%\b\b5%");
    EXPECT_EQ(statusLines_pending(), "");
    EXPECT_EQ(statusLines_finish(), "Sending data ...................................... 5%");
}

TEST(StatusLines, ComeOutTheSameHoweverTheTextIsCut)
{
    const std::string console = transcript::BANNER + transcript::found(12, 57600) + transcript::SENDING_FPGA +
                                transcript::progress(1121376) + "FAILED\r\n" + transcript::NOT_SUCCESSFUL;
    statusLines_reset();
    const std::vector<std::string> whole = statusLines_feed(console);
    statusLines_reset();
    std::vector<std::string> bytewise;
    for (const char c : console) {
        for (const std::string &line : statusLines_feed(std::string(1, c))) {
            bytewise.push_back(line);
        }
    }
    EXPECT_EQ(bytewise, whole);
    EXPECT_EQ(whole.back(), "ERROR: The update was not successful.");
}
