#include "SimTest.h"

#include "channel/Diagnostics.h"

#include <algorithm>
#include <string>

namespace {

class Diagnostics : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        ASSERT_TRUE(allocateProgramBuffers());
        gDataBuffer[DIAGNOSTIC_BLOCK_SIZE] = 0x7B;
        simPort_setSilent(1);
        ASSERT_TRUE(ComPortAPI_OpenCOM(1));
    }

    static bool blockHoldsTestBytes()
    {
        return std::all_of(gDataBuffer, gDataBuffer + DIAGNOSTIC_BLOCK_SIZE,
                           [](char c) { return c >= 0 && c <= 99; }) &&
               gDataBuffer[DIAGNOSTIC_BLOCK_SIZE] == 0x7B;
    }
};

std::string progressMarks()
{
    std::string marks;
    for (int step = 1; step <= 51; ++step) {
        marks += "..." + std::to_string(step * 10240 * 100 / 0x80000) + " %";
    }
    return marks;
}

}  // namespace

TEST_F(Diagnostics, CommandLineThenTheBlockInPiecesThenThePortIsClosed)
{
    EXPECT_TRUE(DEBUG_send_512kb());
    const std::vector<std::string> sent = writes(1);
    ASSERT_EQ(sent.size(), 1u + 51u + 1u);
    EXPECT_EQ(sent[0], "fw -h 1234567\n\r");
    EXPECT_EQ(sent[1].size(), 10240u);
    EXPECT_EQ(sent.back().size(), 2048u);
    EXPECT_EQ(simConsole_text(), "\n\rSending command fw -h 1234567 ...OK\r\n15 bytes(s) sent.\r\n"
                                 "\n\rSending 512 kb of data ..." +
                                     progressMarks() + "\r\nPress any key to exit");
    EXPECT_EQ(progressMarks().substr(progressMarks().size() - 7), "...99 %");
    EXPECT_TRUE(blockHoldsTestBytes());
    EXPECT_EQ(simPorts_openHandles(), 0);
    EXPECT_EQ(simEvents_all().back().kind, SimEventKind::KeyWait);
}

TEST_F(Diagnostics, FailedCommandLineShowsTheMessageWaitsThenCloses)
{
    simPort_failWrite(1, 1);
    EXPECT_FALSE(DEBUG_send_512kb());
    EXPECT_EQ(simConsole_text(), "\n\rSending command fw -h 1234567 ..."
                                 "Error occurred when sending data !\r\n\r\nPress any key to exit");
    EXPECT_EQ(simEvents_all().back().kind, SimEventKind::Close);
}

TEST_F(Diagnostics, FailedPieceOfTheBlockEndsLikeAFailedCommandLine)
{
    simPort_failWrite(1, 3);
    EXPECT_FALSE(DEBUG_send_512kb());
    EXPECT_EQ(writes(1).size(), 3u);
    const std::string text = simConsole_text();
    const std::string tail = "...1 %...3 %Error occurred when sending data !\r\n\r\nPress any key to exit";
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_EQ(simPorts_openHandles(), 0);
}

TEST_F(Diagnostics, SecondRoutineCountsInPlaceAndLeavesThePortAlone)
{
    EXPECT_TRUE(DEBUG_send_512kb_2());
    std::string expected = "\n\rSending 512 kb of data ..." + std::string(".....");
    for (int step = 1; step <= 51; ++step) {
        const int percentage = step * 10240 * 100 / 0x80000;
        expected += std::to_string(percentage) + "%" + (percentage <= 9 ? "\b\b" : "\b\b\b");
    }
    EXPECT_EQ(simConsole_text(), expected + "100%");
    EXPECT_TRUE(writes(1).empty());
    EXPECT_EQ(simPorts_openHandles(), 1);
    EXPECT_TRUE(blockHoldsTestBytes());
}
