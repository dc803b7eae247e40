#include "NamedCase.h"
#include "SimTest.h"

#include "channel/CommandChannel.h"
#include "channel/ProductCheck.h"

#include <string>

namespace {

const std::string HELP_REPLY = "version\n\r   version <no parameters> {Get the current firmware version}\r\n>>";
const std::string TX_ID = VALIDATE_TX_PRODUCT_ID_STRING;

class Channel : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        ASSERT_TRUE(allocateProgramBuffers());
    }

    // A unit on COM1 at 9600, the port open at its rate.
    UnitModel *openUnit(UnitConfig config = {})
    {
        UnitModel *unit = simPort_attachUnit(1, config);
        ComPortAPI_SetBaudRate(config.normalBaud);
        EXPECT_TRUE(ComPortAPI_OpenCOM(1));
        return unit;
    }

    static UnitConfig withFault(UnitExchange at, UnitFault what)
    {
        UnitConfig config;
        config.faults.push_back({at, what});
        return config;
    }

    static int nonEmptyReads()
    {
        int count = 0;
        for (const SimEvent &event : events(SimEventKind::Read, 1)) {
            count += !event.bytes.empty();
        }
        return count;
    }
};

}  // namespace

TEST_F(Channel, CommandLineFramingOnTheWire)
{
    simPort_setSilent(1);
    ASSERT_TRUE(ComPortAPI_OpenCOM(1));
    EXPECT_TRUE(sendCommand("%fw -v", FALSE, FALSE, nullptr));
    EXPECT_TRUE(sendCommand("%fw -v", TRUE, FALSE, nullptr));
    EXPECT_TRUE(sendCommand("%fw -v", 2, FALSE, nullptr));
    const std::vector<std::string> expected = {"%%%fw -v\n\r", "%fw -v\n\r", "%%%fw -v\n\r"};
    EXPECT_EQ(writes(1), expected);
    EXPECT_EQ(writes(1)[0].size(), 10u);
    EXPECT_EQ(writes(1)[1].size(), 8u);
    // Nothing was read: sending alone lasts as long as the bytes take.
    EXPECT_EQ(simClock_nowUs(), wire(10, 9600) + wire(8, 9600) + wire(10, 9600));
    EXPECT_STREQ(gDataBuffer, "%%%fw -v\n\r");
}

TEST_F(Channel, ExactReplyMatchesAndTheExchangeLastsTwoWindows)
{
    openUnit();
    ASSERT_TRUE(sendCommand("%help -c version", FALSE, TRUE, HELP_REPLY.c_str()));
    EXPECT_EQ(writes(1), std::vector<std::string>{"%%%help -c version\n\r"});
    // Command out; the reply (2 ms later, 77 ms long) falls in the first
    // window, which runs its whole length; then one whole silent window.
    EXPECT_EQ(simClock_nowUs(), wire(20, 9600) + 2 * MAX_WAIT_READ * 1000LL);
    EXPECT_STREQ(gDataBuffer, "");
    EXPECT_EQ(simConsole_text(), "");
}

TEST_F(Channel, AnyDifferenceIsNoMatch)
{
    openUnit(withFault(UnitExchange::Product, UnitFault::ExtraLineEnd));
    EXPECT_FALSE(sendCommand("%fw -p", FALSE, TRUE, TX_ID.c_str()));
    EXPECT_FALSE(sendCommand("%fw -p", FALSE, TRUE, (TX_ID + "\r\n>>").c_str()));
    EXPECT_FALSE(sendCommand("%fw -p", FALSE, TRUE, "Dexrig 6V IZA DOVOVUDI ZARE RIZOR TX\r\n"));
    EXPECT_EQ(simConsole_text(), "");
}

TEST_F(Channel, CollectingWithoutComparingSaysTrue)
{
    openUnit();
    EXPECT_TRUE(sendCommand("%fw -p", FALSE, 2, "anything"));
    EXPECT_TRUE(sendCommand("%fw -p", FALSE, TRUE, nullptr));
}

TEST_F(Channel, SilentUnitGivesAnEmptyReply)
{
    simPort_setSilent(1);
    ASSERT_TRUE(ComPortAPI_OpenCOM(1));
    EXPECT_FALSE(sendCommand("%fw -p", FALSE, TRUE, TX_ID.c_str()));
    EXPECT_TRUE(sendCommand("%fw -p", FALSE, TRUE, ""));
}

TEST_F(Channel, FailedWriteIsReportedEvenWithoutAnExpectedReply)
{
    simPort_setSilent(1);
    simPort_failWrite(1, 1);
    ASSERT_TRUE(ComPortAPI_OpenCOM(1));
    EXPECT_FALSE(sendCommand("%fw -v", FALSE, FALSE, nullptr));
    EXPECT_EQ(simConsole_text(), "\r\nError occurred when sending data !\r\n");
}

namespace {

// A reply that ends, against the product identity: judged and timed as it
// always was, except that one already longer than the expected text is not
// waited out.
struct EndingReply : NamedCase {
    std::string reply;  // "" : the unit's own identity line
    UnitFault fault;
    std::string expected;
    bool matches;
    int windows;  // 1000 ms read windows the exchange lasts
};

const std::string ZERO_INSIDE("Dexrig 6V IZA DOVOVUDI ZARE RIZOR TX\0ignored", 44);

class ReplyThatEnds : public Channel, public ::testing::WithParamInterface<EndingReply> {};

}  // namespace

TEST_P(ReplyThatEnds, IsJudgedWithinItsWindows)
{
    const EndingReply &c = GetParam();
    UnitConfig config;
    config.productReply = c.reply;
    if (c.fault != UnitFault::None) {
        config.faults.push_back({UnitExchange::Product, c.fault});
    }
    openUnit(config);
    ComPortAPI_SetReadingTimeoutInMs(1000);
    EXPECT_EQ(sendCommand("%fw -p", FALSE, TRUE, c.expected.c_str()), c.matches ? TRUE : FALSE);
    EXPECT_EQ(simClock_nowUs(), wire(10, 9600) + c.windows * 1000000LL);
    EXPECT_EQ(simConsole_text(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Channel, ReplyThatEnds,
    ::testing::Values(EndingReply{"exact", "", UnitFault::None, TX_ID, true, 2},
                      EndingReply{"exact_over_two_windows", "", UnitFault::Split, TX_ID, true, 3},
                      EndingReply{"one_character_too_many", TX_ID + "x", UnitFault::None, TX_ID, false, 1},
                      EndingReply{"one_character_missing", TX_ID.substr(1), UnitFault::None, TX_ID, false, 2},
                      EndingReply{"zero_byte_cuts_its_chunk", ZERO_INSIDE, UnitFault::None,
                                  "Dexrig 6V IZA DOVOVUDI ZARE RIZOR TX", true, 2},
                      // The zero byte counts against the margin, and one fits.
                      EndingReply{"one_zero_byte_after_it", TX_ID + std::string(1, '\0'), UnitFault::None, TX_ID, true,
                                  2}),
    CaseName());

namespace {

// A line that never stops, of text or of zero bytes, at the slowest and the
// fastest rate of the search. With the echo on, the unit's echo of the
// command is the awaited text, and the zeros follow it.
struct Stream : NamedCase {
    UnitFault fault;
    int baud;
    bool echo;
};

class EndlessReply : public Channel, public ::testing::WithParamInterface<Stream> {};

}  // namespace

TEST_P(EndlessReply, EndsOnceItsBudgetIsSpentAndMatchesNothing)
{
    const Stream &c = GetParam();
    UnitConfig config;
    config.normalBaud = c.baud;
    config.faults.push_back({UnitExchange::Product, c.fault});
    openUnit(config);
    ComPortAPI_SetReadingTimeoutInMs(1000);
    const std::string awaited = c.echo ? "%fw -p\r\n" : TX_ID;
    EXPECT_FALSE(sendCommand("%fw -p", c.echo ? TRUE : FALSE, TRUE, awaited.c_str()));
    // The command, the unit's reply delay, then the awaited text's length,
    // the margin and one byte more on the wire.
    const auto commandLength = static_cast<int64_t>(writes(1).at(0).size());
    const int64_t budget =
        wire(commandLength, c.baud) + 2000 + wire(static_cast<int64_t>(awaited.size()) + REPLY_MARGIN + 1, c.baud);
    EXPECT_LE(simClock_nowUs(), budget + 1000000) << "one read window at most beyond the budget";
    EXPECT_GT(simEvents_joined(SimEventKind::Read, 1).size(), awaited.size());
}

INSTANTIATE_TEST_SUITE_P(Channel, EndlessReply,
                         ::testing::Values(Stream{"text_at_1200", UnitFault::Endless, 1200, false},
                                           Stream{"text_at_115200", UnitFault::Endless, 115200, false},
                                           Stream{"zeros_at_1200", UnitFault::Zeros, 1200, false},
                                           Stream{"zeros_at_115200", UnitFault::Zeros, 115200, false},
                                           Stream{"zeros_after_the_awaited_text", UnitFault::Zeros, 9600, true}),
                         CaseName());

TEST_F(Channel, UnreadRestOfACutReplyOpensTheNextCollection)
{
    UnitConfig config;
    config.productReply = std::string(400, 'x') + ">>";
    openUnit(config);
    ComPortAPI_SetReadingTimeoutInMs(1000);
    EXPECT_FALSE(sendCommand("%fw -p", FALSE, TRUE, VALIDATE_TX_PRODUCT_ID_STRING));
    // The next collection begins with what the cut one left unread.
    const std::string received = collectResponse(VALIDATE_RX_PRODUCT_ID_STRING, TRUE);
    EXPECT_EQ(received.substr(0, 10), std::string(10, 'x'));
    EXPECT_FALSE(responseMatches(VALIDATE_RX_PRODUCT_ID_STRING));
}

namespace {

struct ProgressCase : NamedCase {
    int length;
    std::vector<size_t> writeSizes;
    std::string console;
};

class DataInPieces : public Channel, public ::testing::WithParamInterface<ProgressCase> {};

}  // namespace

TEST_P(DataInPieces, GoOutWithAPercentageRedrawnInPlace)
{
    const ProgressCase &c = GetParam();
    simPort_setSilent(1);
    ASSERT_TRUE(ComPortAPI_OpenCOM(1));
    const std::vector<uint8_t> block(static_cast<size_t>(c.length), 0x5A);
    EXPECT_TRUE(sendData(block.data(), c.length, TRUE, nullptr));
    std::vector<size_t> sizes;
    for (const std::string &w : writes(1)) {
        sizes.push_back(w.size());
    }
    EXPECT_EQ(sizes, c.writeSizes);
    EXPECT_EQ(simConsole_text(), c.console);
}

INSTANTIATE_TEST_SUITE_P(Channel, DataInPieces,
                         ::testing::Values(ProgressCase{"shorter_last_piece",
                                                        40000,
                                                        {10240, 10240, 10240, 9280},
                                                        "1%\b\b25%\b\b\b51%\b\b\b76%\b\b\b100%"},
                                           ProgressCase{"whole_pieces", 20480, {10240, 10240}, "1%\b\b50%\b\b\b100%"},
                                           ProgressCase{"less_than_a_piece", 5000, {5000}, "1%\b\b\b100%"},
                                           ProgressCase{"nothing", 0, {}, "1%"}),
                         CaseName());

TEST_F(Channel, LargeBlockStartsAtZeroPercent)
{
    simPort_setSilent(1);
    ASSERT_TRUE(ComPortAPI_OpenCOM(1));
    const std::vector<uint8_t> block(2000000, 1);
    EXPECT_TRUE(sendData(block.data(), 2000000, TRUE, nullptr));
    EXPECT_EQ(simConsole_text().substr(0, 6), "1%\b\b0%");
}

TEST_F(Channel, WrongOrMissingReplyAfterDataPrintsBothMessages)
{
    simPort_setSilent(1);
    ASSERT_TRUE(ComPortAPI_OpenCOM(1));
    const uint8_t block[3] = {1, 2, 3};
    EXPECT_FALSE(sendData(block, 3, TRUE, "SUCCESS"));
    EXPECT_EQ(simConsole_text(), "1%\b\b\b100%"
                                 "\r\nExpected : SUCCESS  received : \r\n"
                                 "\r\nError: Expected response did  not matched !\r\n");
    simConsole_begin();
    EXPECT_TRUE(sendData(block, 3, FALSE, "SUCCESS"));
}

TEST_F(Channel, FailedPieceStopsTheTransferAtOnce)
{
    simPort_setSilent(1);
    simPort_failWrite(1, 2);
    ASSERT_TRUE(ComPortAPI_OpenCOM(1));
    const std::vector<uint8_t> block(40000, 7);
    EXPECT_FALSE(sendData(block.data(), 40000, TRUE, "SUCCESS"));
    EXPECT_EQ(simConsole_text(), "1%\b\b25%");
    EXPECT_EQ(writes(1).size(), 2u);
}

TEST_F(Channel, ProductCheckAsksOnceAndComparesTheWholeReply)
{
    openUnit();
    EXPECT_TRUE(validateProductId(VALIDATE_TX_PRODUCT_ID_STRING));
    EXPECT_EQ(simConsole_text(), "Checking product ...OK");
    EXPECT_EQ(writes(1), std::vector<std::string>{"%%%fw -p\n\r"});
    EXPECT_EQ(simPorts_openHandles(), 1);

    simConsole_begin();
    EXPECT_FALSE(validateProductId(VALIDATE_RX_PRODUCT_ID_STRING));
    EXPECT_EQ(simConsole_text(), "Checking product ...FALIED");
    EXPECT_EQ(simPorts_openHandles(), 0);
    EXPECT_EQ(simConsole_keyWaits(), 0);
}

TEST_F(Channel, ProductCheckWriteFailureWaitsForAKeyThenCloses)
{
    openUnit();
    simPort_failWrite(1, 1);
    EXPECT_FALSE(validateProductId(VALIDATE_TX_PRODUCT_ID_STRING));
    EXPECT_EQ(simConsole_text(), "Checking product ...FAILED [Error occurred when sending data !]\r\n"
                                 "\r\nPress any key to exit");
    const std::vector<SimEvent> &events = simEvents_all();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2].kind, SimEventKind::KeyWait);
    EXPECT_EQ(events.back().kind, SimEventKind::Close);
}
