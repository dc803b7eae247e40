// How an update of every attached unit is judged and shown: each unit's
// result from how its worker ended, the exit status of the whole, the JSON
// report, the board's lines and the summary.
#include "fleet/UpdateAllReport.h"
#include "fleet/BatchSummary.h"
#include "fleet/UnitBoard.h"
#include "unit/UnitJson.h"

#include "ReadFile.h"
#include "TempFolder.h"

#include "NamedCase.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

UnitRun unitOn(int port, const char *product = "TX")
{
    UnitRun unit;
    unit.found.port = port;
    unit.found.baud = 9600;
    unit.found.product = product;
    unit.found.firmware = "1.00.04";
    unit.found.fpga = "MDL 1.04";
    unit.logPath = "logs/unit-com" + std::to_string(port) + ".log";
    return unit;
}

UnitRun endedUnit(WorkerStatus ended, const std::string &reply)
{
    UnitRun unit = unitOn(4);
    unit.ended = ended;
    unit.reply = reply;
    concludeUnit(unit);
    return unit;
}

struct EndCase : NamedCase {
    WorkerStatus ended;
    std::string reply;
    ToolOutcome result;
};

class UnitConclusion : public ::testing::TestWithParam<EndCase> {};

TEST_P(UnitConclusion, ResultFromHowTheWorkerEnded)
{
    const UnitRun unit = endedUnit(GetParam().ended, GetParam().reply);
    EXPECT_EQ(unit.result, GetParam().result);
    EXPECT_EQ(unit.death.empty(), GetParam().ended.state != WORKER_DIED);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, UnitConclusion,
    ::testing::Values(
        EndCase{"confirmed", {WORKER_EXITED, 0}, R"({"port":4,"result":"confirmed","exit":0})", ToolOutcome::Confirmed},
        // The worker's own word counts over its status.
        EndCase{"object_over_status", {WORKER_EXITED, 0}, R"({"result":"failed"})", ToolOutcome::Failed},
        // Without an object, the status tells.
        EndCase{"no_object_by_status", {WORKER_EXITED, 3}, "not json", ToolOutcome::Unconfirmed},
        EndCase{"usage_error", {WORKER_EXITED, 2}, "", ToolOutcome::Failed},
        // A word the supervisor does not know is a failure.
        EndCase{"unknown_word", {WORKER_EXITED, 0}, R"({"result":"strange"})", ToolOutcome::Failed},
        EndCase{"died", {WORKER_DIED, 9}, R"({"result":"confirmed"})", ToolOutcome::Failed}),
    CaseName());

struct ExitCase : NamedCase {
    std::vector<ToolOutcome> results;
    int exitCode;
};

class WholeRunExit : public ::testing::TestWithParam<ExitCase> {};

TEST_P(WholeRunExit, ExitStatusRules)
{
    std::vector<UnitRun> units;
    for (ToolOutcome result : GetParam().results) {
        units.push_back(unitOn(static_cast<int>(units.size()) + 1));
        units.back().result = result;
    }
    EXPECT_EQ(exitStatus(updateAllOutcome(units)), GetParam().exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Results, WholeRunExit,
    ::testing::Values(ExitCase{"no_unit_answered", {}, 4},
                      ExitCase{"all_confirmed", {ToolOutcome::Confirmed, ToolOutcome::Confirmed}, 0},
                      ExitCase{"current_ones_skipped", {ToolOutcome::Skipped, ToolOutcome::Confirmed}, 0},
                      ExitCase{"all_skipped", {ToolOutcome::Skipped}, 0},
                      ExitCase{"some_unconfirmed", {ToolOutcome::Confirmed, ToolOutcome::Unconfirmed}, 3},
                      ExitCase{"failure_over_unconfirmed",
                               {ToolOutcome::Unconfirmed, ToolOutcome::Failed, ToolOutcome::Confirmed},
                               1},
                      ExitCase{"unit_gone_before_its_update", {ToolOutcome::Confirmed, ToolOutcome::NoUnit}, 1},
                      ExitCase{"interrupted", {ToolOutcome::Confirmed, ToolOutcome::Interrupted}, 1},
                      ExitCase{"still_running", {ToolOutcome::Confirmed, ToolOutcome::Running}, 1}),
    CaseName());

TEST(UnitReport, WorkerObjectKeptAndCompleted)
{
    UnitRun unit = endedUnit({WORKER_EXITED, 0}, R"({"port":4,"baud":9600,"result":"confirmed","exit":0,)"
                                                 R"("seconds":190.2,"log":"logs/unit-com4.log","product":"TX"})");
    EXPECT_EQ(unitReport(unit),
              nlohmann::ordered_json::parse(
                  R"({"port":4,"path":null,"baud":9600,"result":"confirmed","exit":0,"seconds":190.2,)"
                  R"("log":"logs/unit-com4.log","product":"TX","firmware":"1.00.04","fpga":"MDL 1.04",)"
                  R"("firmware_before":"1.00.04","firmware_after":null,"reason":null,"phase":null})"));
}

TEST(UnitReport, FailedUpdateTellsItsPhase)
{
    UnitRun unit = endedUnit({WORKER_EXITED, 1}, "");
    unit.progress.phase = PHASE_FIRMWARE_UPLOAD;
    unit.seconds = 61.26;
    const nlohmann::ordered_json report = unitReport(unit);
    EXPECT_EQ(report["result"], "failed");
    EXPECT_EQ(report["exit"], 1);
    EXPECT_EQ(report["reason"], "worker-died") << "a failure without a word of its own";
    EXPECT_EQ(report["phase"], "firmware-upload");
    EXPECT_EQ(report["seconds"], 61.3);
    EXPECT_FALSE(report.contains("died"));
}

TEST(UnitReport, DeadWorkerShownWithTheEndOfItsLog)
{
    TempFolder folder;
    UnitRun unit = unitOn(5);
    unit.logPath = folder.path("unit-com5.log");
    {
        std::ofstream log(unit.logPath, std::ios::binary);
        log << "line 1\nline 2\nline 3\nline 4\n"
            << "Sending data ...... 1%\b\b2%\b\b3%\r\nlast words\r\n";
    }
    unit.consoleTail = "console\n";
    unit.ended = {WORKER_DIED, 9};
    unit.progress.phase = PHASE_FIRMWARE_UPLOAD;
    concludeUnit(unit);
    const nlohmann::ordered_json report = unitReport(unit);
    EXPECT_EQ(report["result"], "failed");
    EXPECT_EQ(report["reason"], "worker-died");
    EXPECT_EQ(report["phase"], "firmware-upload");
    EXPECT_EQ(report["died"], WorkerProcess_DescribeDeath(9));
    // The worker's log gets the verdict the worker could not write.
    const std::string log = readFile(unit.logPath);
    EXPECT_EQ(
        log.substr(log.rfind("\r\n") + 2),
        "       0 ms  verdict failed, exit status 1, worker-died in firmware-upload (written by update --all: the "
        "worker ended without it)\n");
    EXPECT_EQ(report["log_tail"],
              nlohmann::ordered_json::parse(R"(["line 2","line 3","line 4","Sending data ...... 3%","last words"])"));
    EXPECT_FALSE(report.contains("exit"));
}

TEST(UnitReport, DeadWorkerWithoutLogShownWithItsConsole)
{
    UnitRun unit = unitOn(5);
    unit.logPath = "no/such/folder/com5.log";
    unit.consoleTail = "Checking product .......... TX OK\r\n";
    unit.ended = {WORKER_DIED, 11};
    concludeUnit(unit);
    EXPECT_EQ(deathEvidence(unit), std::vector<std::string>{"Checking product .......... TX OK"});
}

TEST(WholeReport, EveryUnitBusyPortsExitAndTime)
{
    std::vector<UnitRun> units = {unitOn(2), unitOn(9, "RX")};
    units[0].result = ToolOutcome::Confirmed;
    units[0].seconds = 190.24;
    units[1].result = ToolOutcome::Skipped;
    units[1].logPath.clear();
    units[1].found.firmware = "1.00.05";
    units[1].firmwareAfter = "1.00.05";
    const nlohmann::ordered_json report = updateAllReport(units, {6}, ToolOutcome::Confirmed, 201.46);
    // Field order aside.
    EXPECT_EQ(nlohmann::json::parse(report.dump()),
              nlohmann::json::parse(R"({"busy":[6],"exit":0,"seconds":201.5,"units":[)"
                                    R"({"baud":9600,"firmware":"1.00.04","fpga":"MDL 1.04","path":null,"port":2,)"
                                    R"("product":"TX","result":"confirmed","seconds":190.2,)"
                                    R"("log":"logs/unit-com2.log","firmware_before":"1.00.04",)"
                                    R"("firmware_after":null,"reason":null,"phase":null},)"
                                    R"({"baud":9600,"firmware":"1.00.05","fpga":"MDL 1.04","path":null,"port":9,)"
                                    R"("product":"RX","result":"skipped","firmware_before":"1.00.05",)"
                                    R"("firmware_after":"1.00.05","reason":null,"phase":null}]})"));
}

// A value with a comma, a quote or a line end is quoted, its quotes doubled;
// a field the unit lacks, or null, is empty.
TEST(BatchSummary, CsvQuotesWhatNeedsIt)
{
    const nlohmann::ordered_json report = nlohmann::ordered_json::parse(
        R"({"units":[{"port":null,"path":"/dev/tty,1","product":"T\"X","firmware_before":"1.00.04",)"
        R"("firmware_after":"1.00.05","result":"failed","reason":"refused","seconds":3.5,"log":"a\nb"}]})");
    EXPECT_EQ(batchSummaryCsv(report), "port,path,product,firmware_before,firmware_after,result,reason,seconds,log\n"
                                       ",\"/dev/tty,1\",\"T\"\"X\",1.00.04,1.00.05,failed,refused,3.5,\"a\nb\"\n");
}

// A unit's text that is no UTF-8 (here the scan's record of its FPGA
// version) is written with replacement, never a failure; the worker's own
// fields stay as it wrote them.
TEST(WholeReport, UnitTextThatIsNoUtf8IsWrittenAsText)
{
    UnitRun unit =
        endedUnit({WORKER_EXITED, 1}, R"({"result":"failed","exit":1,"error":"The update was not successful"})");
    unit.found.fpga = "S\xC3 1.04";
    const std::string json = jsonText(updateAllReport({unit}, {}, ToolOutcome::Failed, 1));
    const nlohmann::json report = nlohmann::json::parse(json, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << json;
    EXPECT_EQ(report["units"][0]["fpga"], "S\xEF\xBF\xBD 1.04");
    EXPECT_EQ(report["units"][0]["error"], "The update was not successful");
}

class Board : public ::testing::Test {
protected:
    void SetUp() override { stream_ = fopen(folder_.path("board.txt").c_str(), "w+b"); }
    void TearDown() override { fclose(stream_); }
    std::string shown()
    {
        fflush(stream_);
        return readFile(folder_.path("board.txt"));
    }
    TempFolder folder_;
    FILE *stream_ = nullptr;
};

TEST_F(Board, PlainLinesAtPhaseChangesEveryTenPercentAndResults)
{
    std::vector<UnitRun> units = {unitOn(2), unitOn(17, "RX")};
    UnitBoard_Begin(stream_, false);
    UnitBoard_Show(units);
    units[0].progress.phase = PHASE_FPGA_UPLOAD;
    UnitBoard_Show(units);
    for (int percentage : {4, 9, 10, 19, 25}) {
        units[0].progress.percentage = percentage;
        UnitBoard_Show(units);
    }
    units[1].progress.phase = PHASE_IDENTIFICATION;
    units[1].result = ToolOutcome::Failed;
    UnitBoard_Show(units);
    UnitBoard_Show(units);
    // Each line begins with the time it was printed.
    const std::regex time("^[0-2][0-9]:[0-5][0-9]:[0-5][0-9] ", std::regex::multiline);
    EXPECT_EQ(std::regex_replace(shown(), time, ""), "COM2    ?            TX  search             0%\n"
                                                     "COM17   ?            RX  search             0%\n"
                                                     "COM2    ?            TX  FPGA upload        0%\n"
                                                     "COM2    ?            TX  FPGA upload       10%\n"
                                                     "COM2    ?            TX  FPGA upload       25%\n"
                                                     "COM17   ?            RX  identification     0%  failed\n");
}

TEST_F(Board, RedrawnInPlaceOnlyWhenALineChanged)
{
    std::vector<UnitRun> units = {unitOn(2), unitOn(5, "RX")};
    units[1].result = ToolOutcome::Skipped;
    UnitBoard_Begin(stream_, true);
    UnitBoard_Show(units);
    UnitBoard_Show(units);
    units[0].progress.phase = PHASE_REBOOT_WAIT;
    units[0].progress.percentage = 4;
    UnitBoard_Show(units);
    const std::string first = "\r\x1b[2KCOM2    ?            TX  search             0%\n"
                              "\r\x1b[2KCOM5    ?            RX  runs 1.00.04          skipped\n";
    EXPECT_EQ(shown(), first + "\x1b[2A" +
                           "\r\x1b[2KCOM2    ?            TX  reboot wait        4%\n"
                           "\r\x1b[2KCOM5    ?            RX  runs 1.00.04          skipped\n");
}

TEST_F(Board, SummaryTable)
{
    TempFolder logs;
    std::vector<UnitRun> units = {unitOn(2), unitOn(5, "RX"), unitOn(9)};
    units[0].ended = {WORKER_EXITED, 0};
    units[0].reply = R"({"result":"confirmed","firmware_after":"1.00.05"})";
    concludeUnit(units[0]);
    units[0].seconds = 190.24;
    units[1].ended = {WORKER_DIED, 9};
    units[1].progress.phase = PHASE_FPGA_UPLOAD;
    units[1].seconds = 40;
    units[1].logPath = logs.path("unit-com5.log");
    std::ofstream(units[1].logPath) << "Sending Programmable Logic data ..... 1%\b\b2%\n";
    concludeUnit(units[1]);
    units[2].result = ToolOutcome::Skipped;
    units[2].firmwareAfter = "1.00.04";
    units[2].logPath.clear();
    UnitBoard_PrintSummary(stream_, units, ToolOutcome::Failed);
    EXPECT_EQ(
        shown(),
        "\nPort    Path         Product Before    After     Result       Reason       Left in          Seconds  Log\n"
        "COM2    ?            TX      1.00.04   1.00.05   confirmed                                    190.2  "
        "logs/unit-com2.log\n"
        "COM5    ?            RX      1.00.04   ?         failed       worker-died  FPGA upload         40.0  " +
            units[1].logPath + "\n" + "COM9    ?            TX      1.00.04   1.00.04   skipped\n" +
            "COM5: next step: read the end of its log, power-cycle the unit, then run the update again.\n"
            "COM5: the worker was " +
            WorkerProcess_DescribeDeath(9) +
            "; the end of its log:\n"
            "  | Sending Programmable Logic data ..... 2%\n"
            "\nExit status 1: 1 confirmed, 1 failed, 1 skipped.\n");
}

}  // namespace
