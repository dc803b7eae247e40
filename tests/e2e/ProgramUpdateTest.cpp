// The Linux OrvaneFwUpgrade, run as a user would run it, against
// OrvaneUnitSim in real time: whole updates of a TX and an RX unit, and a unit
// that drops off the line in the middle of the data. A whole run lasts over
// three minutes (the program's reboot wait), mostly asleep, so each case is
// its own CTest test and they run side by side, each in its own folder.
#include "EndsWith.h"
#include "NamedCase.h"
#include "ReadFile.h"
#include "ReceivedImage.h"
#include "RunResult.h"
#include "ShadowedComPorts.h"
#include "TempFolder.h"
#include "UnitSimProcess.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string SUCCESS_LINE = "\n\r\n\rThe update was successful, the unit is now operational\r\n";
const std::string FAILURE_LINE = "\n\rERROR: The update was not successful.\r\n";
const std::string EXIT_PROMPT = "\r\nPress any key to exit";
const std::string FPGA_SENDING_LABEL = "Sending Programmable Logic data ................... ";

// A whole update is about 190 s, a run that fails in the FPGA data about
// 25 s; past these the program is taken as hung.
constexpr int64_t UPDATE_DEADLINE_MS = 300'000;
constexpr int64_t FAILED_RUN_DEADLINE_MS = 120'000;

class ProgramUpdate : public ::testing::Test {
protected:
    TempFolder folder;

    void SetUp() override { ASSERT_TRUE(shadowComPorts(folder.path())); }

    std::vector<std::string> unitArgs(int com, const char *variant, int baud) const
    {
        return {"--com",   std::to_string(com),      "--variant", variant,
                "--baud",  std::to_string(baud),     "--dir",     folder.path(),
                "--trace", folder.path("trace.txt"), "--images",  folder.path("received")};
    }

    RunResult runProgram(int64_t deadlineMs) const
    {
        return runToCompletion({ORVANE_FW_UPGRADE}, folder.path(), deadlineMs);
    }

    // "" when the unit stored exactly the tool's flattening of the file the
    // program embeds.
    std::string receivedDifference(const std::string &received, const std::string &imageFile) const
    {
        return receivedImageDifference(ORVANE_FW_TOOL, std::string(ORVANE_IMAGES_DIR) + "/" + imageFile,
                                       folder.path("received/" + received), folder.path());
    }

    void expectWholeUpdate(const RunResult &run, int com, int baud, const std::string &fpgaCommand,
                           const std::string &fpgaFile)
    {
        ASSERT_TRUE(run.started);
        ASSERT_FALSE(run.timedOut) << "killed after " << run.elapsedMs << " ms:\n" << run.output;
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_NE(run.output.find("COM PORT Number : " + std::to_string(com) +
                                  "\r\nBaud rate       : " + std::to_string(baud) + " \r\n"),
                  std::string::npos)
            << run.output;
        EXPECT_TRUE(endsWith(run.output, SUCCESS_LINE + EXIT_PROMPT)) << run.output;
        EXPECT_EQ(run.output.find("ERROR"), std::string::npos) << run.output;

        const std::string trace = readFile(folder.path("trace.txt"));
        EXPECT_NE(trace.find(fpgaCommand), std::string::npos) << fpgaCommand;
        EXPECT_NE(trace.find("%fw -h 4279021583 117648"), std::string::npos);

        EXPECT_EQ(receivedDifference("fpga.bin", fpgaFile), "");
        EXPECT_EQ(receivedDifference("mcu.bin", "M731946_MCU_6G-SDI_61_1_05.hex"), "");
    }
};

}  // namespace

namespace {

struct WholeUpdate : NamedCase {
    int com;
    const char *variant;
    int baud;
    const char *fpgaCommand;  // as the unit's trace shows it
    const char *fpgaFile;
};

class ProgramWholeUpdate : public ProgramUpdate, public ::testing::WithParamInterface<WholeUpdate> {};

}  // namespace

TEST_P(ProgramWholeUpdate, UnitIsFoundAndUpdated)
{
    const WholeUpdate &c = GetParam();
    UnitSimProcess unit(ORVANE_UNIT_SIM, unitArgs(c.com, c.variant, c.baud));
    ASSERT_TRUE(unit.ready());
    const RunResult run = runProgram(UPDATE_DEADLINE_MS);
    EXPECT_EQ(unit.stop(), 0);
    expectWholeUpdate(run, c.com, c.baud, c.fpgaCommand, c.fpgaFile);
}

INSTANTIATE_TEST_SUITE_P(TxAndRx, ProgramWholeUpdate,
                         ::testing::Values(WholeUpdate{"tx_on_com3_at_9600", 3, "tx", 9600, "%fw -l 4281442003 1055216",
                                                       "M731946_TX_XC7A35_1_05.mcs"},
                                           WholeUpdate{"rx_on_com12_at_57600", 12, "rx", 57600,
                                                       "%fw -l 4275807257 1121376", "M731946_RX_XC7A35_1_05.mcs"}),
                         CaseName());

TEST_F(ProgramUpdate, UnitLostDuringTheFpgaDataEndsTheRunPromptly)
{
    std::vector<std::string> args = unitArgs(3, "tx", 9600);
    args.insert(args.end(), {"--fault", "fpga-data:drop", "--drop-after", "300000"});
    UnitSimProcess unit(ORVANE_UNIT_SIM, args);
    ASSERT_TRUE(unit.ready());
    const RunResult run = runProgram(FAILED_RUN_DEADLINE_MS);
    EXPECT_EQ(unit.stop(), 0);

    ASSERT_TRUE(run.started);
    ASSERT_FALSE(run.timedOut) << "hung; killed after " << run.elapsedMs << " ms:\n" << run.output;
    // Detection, identification and the "Ready" wait take about 25 s; a
    // failed write must end the run, not a time-out.
    EXPECT_LT(run.elapsedMs, 60'000) << run.output;
    EXPECT_EQ(run.exitStatus, 0);

    const std::string tail = "FAILED\r\n" + FAILURE_LINE + EXIT_PROMPT;
    ASSERT_TRUE(endsWith(run.output, tail)) << run.output;
    const size_t label = run.output.find(FPGA_SENDING_LABEL);
    ASSERT_NE(label, std::string::npos) << run.output;
    // Between the label and the verdict only the progress figures.
    const size_t from = label + FPGA_SENDING_LABEL.size();
    const std::string progress = run.output.substr(from, run.output.size() - tail.size() - from);
    EXPECT_EQ(progress.find_first_not_of("0123456789%\b"), std::string::npos) << progress;
    EXPECT_EQ(run.output.find(SUCCESS_LINE), std::string::npos);

    const std::string trace = readFile(folder.path("trace.txt"));
    EXPECT_NE(trace.find("dropped off the line"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("%fw -h"), std::string::npos) << "no firmware upload after a failed FPGA upload";
}

TEST_F(ProgramUpdate, DevicesThatNeverStopTalkingDoNotHoldTheSearch)
{
    // Zeros at 4800 bytes a second on COM1, NMEA-like text at 960 on COM2,
    // the unit on COM4; two silent ports in their place would cost about 13 s.
    const std::string dir = folder.path();
    UnitSimProcess zeros(ORVANE_UNIT_SIM, {"--com", "1", "--stream", "zeros", "--stream-rate", "4800", "--dir", dir});
    UnitSimProcess text(ORVANE_UNIT_SIM, {"--com", "2", "--stream", "nmea", "--stream-rate", "960", "--dir", dir});
    UnitSimProcess unit(ORVANE_UNIT_SIM, unitArgs(4, "tx", 9600));
    ASSERT_TRUE(zeros.ready() && text.ready() && unit.ready());
    const RunResult run = runToCompletion({ORVANE_FW_UPGRADE}, dir, 60'000, "TX OK\r\n");
    ASSERT_GE(run.seenAtMs, 0) << "no TX OK within a minute:\n" << run.output;
    EXPECT_NE(run.output.find("COM PORT Number : 4\r\nBaud rate       : 9600 \r\n"), std::string::npos) << run.output;
    EXPECT_LT(run.seenAtMs, 20'000);
    RecordProperty("tx_ok_after_ms", std::to_string(run.seenAtMs));
    printf("TX OK after %.1f s\n", static_cast<double>(run.seenAtMs) / 1000);
}
