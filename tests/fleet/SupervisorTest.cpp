// The scan side by side and the update of every unit, with a scripted
// stand-in for the tool's workers on ports that are pseudo-terminals (a
// present port) or links to nothing (an absent one).
#include "fleet/ParallelScan.h"
#include "fleet/UpdateAll.h"
#include "platform/WorkerProcess.h"

#include "NamedCase.h"
#include "ProcessCheck.h"
#include "ReadFile.h"
#include "TempFolder.h"
#include "UpdateTranscript.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <pty.h>
#include <stdio_ext.h>
#include <sys/file.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

namespace {

std::string fakeWorker()
{
    return (std::filesystem::path(WorkerProcess_OwnPath(nullptr)).parent_path() / FAKE_WORKER_NAME).string();
}

// A text as one operation line of the stand-in's script.
std::string escaped(const std::string &text)
{
    std::string line;
    for (char c : text) {
        line += c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\b' ? "\\b" : c == '\\' ? "\\\\" : std::string(1, c);
    }
    return line;
}

enum Outcome { CONFIRMED, REFUSES_FIRMWARE, UNCONFIRMED, CRASHES, CURRENT };

struct Unit {
    int port;
    int baud;
    const char *product;
};

// The four units of a production line: TX and RX at various rates.
const Unit LINE[] = {{2, 9600, "TX"}, {5, 57600, "RX"}, {9, 115200, "TX"}, {17, 4800, "RX"}};

const int FPGA_LENGTH = 40000;
const int MCU_LENGTH = 25000;

std::string identification(const Unit &unit)
{
    return transcript::VERSIONS + transcript::CHECKING_PRODUCT + transcript::productOk(unit.product);
}

std::string reply(const Unit &unit, const char *result, int exit)
{
    return "out:" +
           nlohmann::ordered_json{{"port", unit.port},      {"baud", unit.baud}, {"result", result},
                                  {"exit", exit},           {"seconds", 190.2},  {"log", "whatever.log"},
                                  {"product", unit.product}}
               .dump() +
           "\\n";
}

std::vector<std::string> updateScript(const Unit &unit, Outcome outcome)
{
    const std::string uploads = transcript::uploads(FPGA_LENGTH, MCU_LENGTH);
    switch (outcome) {
    case REFUSES_FIRMWARE: {
        const std::string text = identification(unit) + uploads.substr(0, uploads.find(transcript::SENDING_MCU)) +
                                 transcript::SENDING_MCU + transcript::progress(MCU_LENGTH) +
                                 "\r\nExpected : SUCCESS  received : \r\n"
                                 "\r\nError: Expected response did  not matched !\r\nFAILED\r\n" +
                                 transcript::NOT_SUCCESSFUL;
        return {"err:" + escaped(text), "log:" + escaped(text), reply(unit, "failed", 1), "exit:1"};
    }
    case UNCONFIRMED:
        return {"err:" + escaped(identification(unit) + uploads), reply(unit, "unconfirmed", 3), "exit:3"};
    case CRASHES: {
        const std::string text =
            identification(unit) + transcript::PREPARING_FPGA + "OK\r\n" + transcript::SENDING_FPGA + "1%\b\b2%";
        return {"err:" + escaped(text), "log:" + escaped(text), "crash"};
    }
    default:
        return {"err:" + escaped(identification(unit) + uploads + transcript::SUCCESS_LINE),
                reply(unit, "confirmed", 0), "exit:0"};
    }
}

std::string scanAnswer(const Unit &unit, bool current)
{
    const nlohmann::ordered_json found = {{"port", unit.port},
                                          {"path", portPath(unit.port)},
                                          {"baud", unit.baud},
                                          {"product", unit.product},
                                          {"firmware", current ? "1.00.05" : "1.00.04"},
                                          {"fpga", "MDL 1.04"},
                                          {"device", 1},
                                          {"current", current}};
    return "out:" + nlohmann::ordered_json{{"units", {found}}, {"busy", nlohmann::ordered_json::array()}}.dump() +
           "\\n";
}

// A port's first two columns of a listing or a board: COMn and the pseudo-
// terminal its link leads to.
std::string columns(int port, int portWidth)
{
    char text[64];
    snprintf(text, sizeof text, "%-*s %-12s ", portWidth, ("COM" + std::to_string(port)).c_str(),
             portPath(port).c_str());
    return text;
}

const std::string SCAN_HEADING =
    "PORT   PATH           BAUD  PRODUCT  FIRMWARE   FPGA           DEVICE  FIRMWARE 1.00.05\n";

std::string listed(int port, const std::string &rest)
{
    return columns(port, 6) + rest;
}

// "port":N,"path":"/dev/pts/M"
std::string portFields(int port)
{
    return "\"port\":" + std::to_string(port) + ",\"path\":\"" + portPath(port) + "\"";
}

class Fleet : public ::testing::Test {
protected:
    Fleet() : inFolder_(folder_.path())
    {
        std::filesystem::create_directory("dosdevices");
        std::filesystem::create_directory("scripts");
        for (int n = 1; n <= 32; ++n) {
            std::filesystem::create_symlink("/nonexistent", "dosdevices/com" + std::to_string(n));
        }
        setenv("ORVANE_FAKE_WORKER_SCRIPTS", folder_.path("scripts").c_str(), 1);
    }
    ~Fleet() override
    {
        for (int fd : fds_) {
            close(fd);
        }
    }

    // A pseudo-terminal behind COMn: a port that opens.
    void presentPort(int n)
    {
        int master = -1;
        int slave = -1;
        char name[256];
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        close(slave);
        fds_.push_back(master);
        const std::string link = "dosdevices/com" + std::to_string(n);
        std::filesystem::remove(link);
        std::filesystem::create_symlink(name, link);
    }

    // A port another program holds.
    void busyPort(int n)
    {
        presentPort(n);
        const int fd = open(("dosdevices/com" + std::to_string(n)).c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
        fds_.push_back(fd);
    }

    void script(const std::string &name, const std::vector<std::string> &ops)
    {
        std::ofstream file("scripts/" + name + ".txt", std::ios::binary);
        for (const std::string &op : ops) {
            file << op << "\n";
        }
    }

    std::string workerArgs(const std::string &name) { return readFile("scripts/" + name + ".args"); }
    // The folder the run made for its logs under --log-dir logs: its only
    // entry.
    static std::string runLogDir()
    {
        std::vector<std::string> made;
        for (const auto &entry : std::filesystem::directory_iterator("logs")) {
            made.push_back("logs/" + entry.path().filename().string());
        }
        EXPECT_EQ(made.size(), 1u);
        return made.empty() ? "" : made[0];
    }
    bool workerRan(const std::string &name) { return std::filesystem::exists("scripts/" + name + ".args"); }

    // The line's four units, each found by the scan and updated as told.
    void lineWith(const std::map<int, Outcome> &outcomes)
    {
        for (const Unit &unit : LINE) {
            const Outcome outcome = outcomes.count(unit.port) ? outcomes.at(unit.port) : CONFIRMED;
            presentPort(unit.port);
            script("scan-com" + std::to_string(unit.port), {scanAnswer(unit, outcome == CURRENT), "exit:0"});
            script("update-com" + std::to_string(unit.port), updateScript(unit, outcome));
        }
    }

    struct Run {
        int exitCode;
        nlohmann::ordered_json report;
        std::string console;
    };

    static UpdateAllOptions updateAllOptions(bool json)
    {
        UpdateAllOptions options;
        options.json = json;
        options.toolPath = fakeWorker();
        options.logDir = "logs";
        return options;
    }

    Run updateAll(bool skipCurrent = false)
    {
        UpdateAllOptions options = updateAllOptions(true);
        options.skipCurrent = skipCurrent;
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int exitCode = exitStatus(runUpdateAll(options));
        const std::string out = ::testing::internal::GetCapturedStdout();
        const std::string console = ::testing::internal::GetCapturedStderr();
        return {exitCode, nlohmann::ordered_json::parse(out, nullptr, false), console};
    }

    struct ScanRun {
        ToolOutcome outcome;
        std::string json;
        std::string listing;
    };

    static ScanRun scan(const ParallelScanOptions &options)
    {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const ToolOutcome outcome = runParallelScan(options);
        const std::string json = ::testing::internal::GetCapturedStdout();
        return {outcome, json, ::testing::internal::GetCapturedStderr()};
    }

    static std::map<int, std::string> resultsOf(const nlohmann::ordered_json &report)
    {
        std::map<int, std::string> results;
        for (const nlohmann::ordered_json &unit : report["units"]) {
            results[unit["port"].get<int>()] = unit["result"].get<std::string>();
        }
        return results;
    }

    TempFolder folder_;
    InFolder inFolder_;
    std::vector<int> fds_;
};

// The scan's "ports" of COM1 to COM32: every port absent but those present,
// which hold a unit or gave no answer, or are busy when named so.
std::string portsOfScan(const std::set<int> &present, const std::map<int, std::string> &others = {})
{
    std::string ports;
    for (int port = 1; port <= 32; ++port) {
        const auto other = others.find(port);
        if (present.count(port) == 0 || other != others.end()) {
            ports += std::string(ports.empty() ? "" : ",") + "{" + portFields(port) + R"(,"reason":")" +
                     (other != others.end() ? other->second : "absent") + R"(","phase":"search"})";
        }
    }
    return R"("ports":[)" + ports + "]";
}

TEST_F(Fleet, ScanRunsSideBySideAndListsInPortOrder)
{
    // Each of the five scan workers waits until all five have started: they
    // can only finish if they run at the same time. Port 9 answers first.
    for (const Unit &unit : LINE) {
        presentPort(unit.port);
        script("scan-com" + std::to_string(unit.port), {"meet:5", "sleep:" + std::to_string(unit.port == 9 ? 0 : 200),
                                                        scanAnswer(unit, unit.port == 5), "exit:0"});
    }
    busyPort(6);
    script("scan-com6", {"meet:5", "out:{\"units\":[],\"busy\":[6]}", "exit:4"});

    const ScanRun run = scan({{1, 32}, true, fakeWorker()});

    EXPECT_EQ(run.outcome, ToolOutcome::Done);
    // Busy ports stand among the units, every port in its order; no worker
    // went without an answer.
    EXPECT_EQ(run.listing, SCAN_HEADING + listed(2, "  9600  TX       1.00.04    MDL 1.04       1       to update\n") +
                               listed(5, " 57600  RX       1.00.05    MDL 1.04       1       current\n") +
                               listed(6, "  busy  held by another program, or access denied\n") +
                               listed(9, "115200  TX       1.00.04    MDL 1.04       1       to update\n") +
                               listed(17, "  4800  RX       1.00.04    MDL 1.04       1       to update\n"));
    EXPECT_EQ(
        run.json,
        R"({"units":[{)" + portFields(2) +
            R"(,"baud":9600,"product":"TX","firmware":"1.00.04","fpga":"MDL 1.04","device":1,"current":false},{)" +
            portFields(5) +
            R"(,"baud":57600,"product":"RX","firmware":"1.00.05","fpga":"MDL 1.04","device":1,"current":true},{)" +
            portFields(9) +
            R"(,"baud":115200,"product":"TX","firmware":"1.00.04","fpga":"MDL 1.04","device":1,"current":false},{)" +
            portFields(17) +
            R"(,"baud":4800,"product":"RX","firmware":"1.00.04","fpga":"MDL 1.04","device":1,"current":false}],)"
            R"("busy":[6],)" +
            portsOfScan({2, 5, 6, 9, 17}, {{6, "busy"}}) + "}\n");
    EXPECT_EQ(workerArgs("scan-com17"), "scan\n--port\n17\n--json\n");
    // Absent ports cost no worker.
    EXPECT_FALSE(workerRan("scan-com1"));
    EXPECT_FALSE(workerRan("scan-com3"));
}

TEST_F(Fleet, ScanWorkerThatDiesOrSaysNothingIsReported)
{
    presentPort(2);
    script("scan-com2", {scanAnswer(LINE[0], false), "exit:0"});
    presentPort(3);
    script("scan-com3", {"err:about to fail\\r\\n", "crash"});
    presentPort(4);
    script("scan-com4", {"err:garbled\\n", "out:not json", "exit:1"});

    const ScanOutcome scan = scanPortsSideBySide(1, 8, fakeWorker());
    ASSERT_EQ(scan.found.ports.size(), 1u);
    EXPECT_EQ(scan.found.failed,
              (std::vector<FailedScan>{
                  {3, ToolOutcome::Failed, "scan worker " + WorkerProcess_DescribeDeath(SIGSEGV) + ": about to fail",
                   portPath(3)},
                  {4, ToolOutcome::Failed, "scan worker gave no answer (exit status 1): garbled", portPath(4)}}));
}

std::string com2Listed()
{
    return listed(2, "  9600  TX       1.00.04    MDL 1.04       1       to update\n");
}

std::string com2Json()
{
    return "{" + portFields(2) +
           R"(,"baud":9600,"product":"TX","firmware":"1.00.04","fpga":"MDL 1.04","device":1,"current":false})";
}

struct ScanFailureCase : NamedCase {
    std::vector<std::string> ops;  // of COM3's scan worker
    std::chrono::seconds deadline;
    const char *reason;
};

class ScanFailure : public Fleet, public ::testing::WithParamInterface<ScanFailureCase> {};

// COM3's worker fails between two that answer: its port is listed in its
// place and in the JSON, and the scan is a failure.
TEST_P(ScanFailure, PortListedAsFailedAndScanFails)
{
    presentPort(2);
    script("scan-com2", {scanAnswer(LINE[0], false), "exit:0"});
    presentPort(3);
    script("scan-com3", GetParam().ops);
    presentPort(5);
    script("scan-com5", {scanAnswer(LINE[1], false), "exit:0"});

    const ScanRun run = scan({{1, 32}, true, fakeWorker(), GetParam().deadline});

    EXPECT_EQ(exitStatus(run.outcome), 1);
    EXPECT_EQ(run.listing.substr(0, run.listing.find("ERROR")),
              SCAN_HEADING + com2Listed() + listed(3, "failed  ") + GetParam().reason + "\n" +
                  listed(5, " 57600  RX       1.00.04    MDL 1.04       1       to update\n"));
    EXPECT_EQ(run.json, std::string(R"({"units":[)") + com2Json() + ",{" + portFields(5) +
                            R"(,"baud":57600,"product":"RX","firmware":"1.00.04","fpga":"MDL 1.04","device":1,)"
                            R"("current":false}],"busy":[],)" +
                            portsOfScan({2, 3, 5}) + R"(,"failed":[{)" + portFields(3) +
                            R"(,"result":"failed","reason":"worker-died","phase":"search","error":")" +
                            GetParam().reason + "\"}]}\n");
}

INSTANTIATE_TEST_SUITE_P(
    Ends, ScanFailure,
    ::testing::Values(ScanFailureCase{{"worker_crashes"},
                                      {"err:about to fail\\r\\n", "crash"},
                                      SCAN_WORKER_DEADLINE,
                                      "scan worker killed by signal 11 (Segmentation fault): about to fail"},
                      ScanFailureCase{{"worker_aborts"}, {"abort"}, SCAN_WORKER_DEADLINE, "scan worker ended by abort"},
                      ScanFailureCase{{"worker_overdue"},
                                      {"err:still probing\\r\\n", "hang"},
                                      std::chrono::seconds(1),
                                      "scan worker did not finish within 1 s: still probing"}),
    CaseName());

TEST_F(Fleet, ScanWorkersThatCannotStartAreListed)
{
    presentPort(2);
    presentPort(3);
    const ScanRun run = scan({{1, 32}, true, folder_.path("no-such-program")});
    EXPECT_EQ(exitStatus(run.outcome), 1);
    EXPECT_EQ(run.listing.substr(0, run.listing.find("ERROR")),
              SCAN_HEADING + listed(2, "failed  scan worker could not be started\n") +
                  listed(3, "failed  scan worker could not be started\n") + "No unit answered on COM1 to COM32.\n");
    EXPECT_EQ(run.json, R"({"units":[],"busy":[],)" + portsOfScan({2, 3}) + R"(,"failed":[{)" + portFields(2) +
                            R"(,"result":"failed","reason":"worker-died","phase":"search",)"
                            R"("error":"scan worker could not be started"},{)" +
                            portFields(3) +
                            R"(,"result":"failed","reason":"worker-died","phase":"search",)"
                            R"("error":"scan worker could not be started"}]})"
                            "\n");
}

struct LineCase {
    const char *name;
    std::map<int, Outcome> outcomes;
    bool skipCurrent;
    int exitCode;
    std::map<int, std::string> results;
};

void PrintTo(const LineCase &c, std::ostream *os)
{
    *os << c.name;
}

class WholeLine : public Fleet, public ::testing::WithParamInterface<LineCase> {};

TEST_P(WholeLine, EveryUnitUpdatedInItsOwnWorker)
{
    lineWith(GetParam().outcomes);
    const Run run = updateAll(GetParam().skipCurrent);
    EXPECT_EQ(run.exitCode, GetParam().exitCode) << run.console;
    ASSERT_TRUE(run.report.is_object()) << run.console;
    EXPECT_EQ(resultsOf(run.report), GetParam().results);
    EXPECT_EQ(run.report["exit"], GetParam().exitCode);
    for (const Unit &unit : LINE) {
        const std::string port = std::to_string(unit.port);
        if (GetParam().results.at(unit.port) == "skipped") {
            EXPECT_FALSE(workerRan("update-com" + port));
            continue;
        }
        EXPECT_EQ(workerArgs("update-com" + port), "update\n--port\n" + port + "\n--baud\n" +
                                                       std::to_string(unit.baud) + "\n--log\n" + runLogDir() +
                                                       "/unit-com" + port + ".log\n--json\n--drawn-progress\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, WholeLine,
    ::testing::Values(
        LineCase{
            "all_confirmed", {}, false, 0, {{2, "confirmed"}, {5, "confirmed"}, {9, "confirmed"}, {17, "confirmed"}}},
        LineCase{"one_refuses_firmware",
                 {{5, REFUSES_FIRMWARE}},
                 false,
                 1,
                 {{2, "confirmed"}, {5, "failed"}, {9, "confirmed"}, {17, "confirmed"}}},
        LineCase{"failure_outweighs_unconfirmed",
                 {{9, UNCONFIRMED}, {17, CRASHES}},
                 false,
                 1,
                 {{2, "confirmed"}, {5, "confirmed"}, {9, "unconfirmed"}, {17, "failed"}}},
        LineCase{"current_one_skipped",
                 {{17, CURRENT}},
                 true,
                 0,
                 {{2, "confirmed"}, {5, "confirmed"}, {9, "confirmed"}, {17, "skipped"}}},
        LineCase{"current_one_updated_unless_asked",
                 {{17, CURRENT}},
                 false,
                 0,
                 {{2, "confirmed"}, {5, "confirmed"}, {9, "confirmed"}, {17, "confirmed"}}}),
    CaseName());

TEST_F(Fleet, DeadWorkerReportedAsFailedWithItsLog)
{
    lineWith({{5, CRASHES}});
    const Run run = updateAll();
    EXPECT_EQ(run.exitCode, 1);
    const nlohmann::ordered_json &dead = run.report["units"][1];
    EXPECT_EQ(dead["port"], 5);
    EXPECT_EQ(dead["result"], "failed");
    EXPECT_EQ(dead["reason"], "worker-died");
    EXPECT_EQ(dead["phase"], "fpga-upload");
    EXPECT_EQ(dead["died"], WorkerProcess_DescribeDeath(SIGSEGV));
    EXPECT_EQ(dead["log_tail"].back(), transcript::SENDING_FPGA + "2%");
    EXPECT_EQ(dead["log"], runLogDir() + "/unit-com5.log");
    EXPECT_NE(run.console.find("COM5: the worker was " + WorkerProcess_DescribeDeath(SIGSEGV)), std::string::npos);
}

// A port whose scan failed may hold a unit that was not updated: it stands
// among the units as failed, and the run is a failure.
TEST_F(Fleet, PortWhoseScanFailedListedAmongTheUnits)
{
    lineWith({});
    script("scan-com9", {"crash"});
    const Run run = updateAll();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(resultsOf(run.report),
              (std::map<int, std::string>{{2, "confirmed"}, {5, "confirmed"}, {9, "failed"}, {17, "confirmed"}}));
    EXPECT_EQ(run.report["units"][2],
              nlohmann::ordered_json::parse("{" + portFields(9) +
                                            R"(,"baud":null,"result":"failed",)"
                                            R"x("error":"scan worker killed by signal 11 (Segmentation fault)",)x"
                                            R"("reason":"worker-died","phase":"search","advice":"read the end of )"
                                            R"(its log, power-cycle the unit, then run the update again"})"));
    EXPECT_FALSE(workerRan("update-com9"));
    EXPECT_NE(run.console.find("3 unit(s) found"), std::string::npos) << run.console;
    EXPECT_NE(run.console.find("\n" + columns(9, 7) + "?       ?         ?         failed       worker-died  search\n"),
              std::string::npos)
        << run.console;
    EXPECT_NE(run.console.find("\nCOM9: scan worker killed by signal 11 (Segmentation fault)\n"), std::string::npos);
}

TEST_F(Fleet, OnlyPortWhoseScanFailedIsAFailureNotNoUnit)
{
    presentPort(3);
    script("scan-com3", {"abort"});
    const Run run = updateAll();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(resultsOf(run.report), (std::map<int, std::string>{{3, "failed"}}));
    // The folder given is kept; the run's own, which took no log, is not.
    EXPECT_TRUE(std::filesystem::is_empty("logs"));
}

TEST_F(Fleet, NoUnitAnswered)
{
    presentPort(3);
    script("scan-com3", {"out:{\"units\":[],\"busy\":[]}", "exit:4"});
    const Run run = updateAll();
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_EQ(run.report["units"], nlohmann::ordered_json::array());
    // The folder given is kept; the run's own, which took no log, is not.
    EXPECT_TRUE(std::filesystem::is_empty("logs"));
}

TEST_F(Fleet, LogThatLostLinesIsNamedBelowTheSummary)
{
    presentPort(2);
    script("scan-com2", {scanAnswer(LINE[0], false), "exit:0"});
    script("update-com2", {R"(out:{"result":"confirmed","exit":0,"log_error":"No space left on device"}\n)", "exit:0"});
    const Run run = updateAll();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.report["units"][0]["log_error"], "No space left on device");
    EXPECT_NE(
        run.console.find("\nCOM2: the log " + runLogDir() + "/unit-com2.log lost lines: No space left on device\n"),
        std::string::npos)
        << run.console;
}

// Every run leaves its record beside its logs, --json or not: the report as
// summary.json, and a row per unit in summary.csv.
TEST_F(Fleet, SummaryFilesWrittenBesideTheLogs)
{
    lineWith({{5, CRASHES}, {9, REFUSES_FIRMWARE}});
    const Run run = updateAll();
    const std::string dir = runLogDir();
    EXPECT_NE(run.console.find("Summary in " + dir + "/summary.json and " + dir + "/summary.csv\n"), std::string::npos);
    EXPECT_EQ(nlohmann::ordered_json::parse(readFile(dir + "/summary.json")), run.report);
    const auto seconds = [&run](size_t unit) { return run.report["units"][unit]["seconds"].dump(); };
    EXPECT_EQ(readFile(dir + "/summary.csv"),
              "port,path,product,firmware_before,firmware_after,result,reason,seconds,log\n"
              "2," +
                  portPath(2) + ",TX,1.00.04,,confirmed,,190.2," + dir + "/unit-com2.log\n" + "5," + portPath(5) +
                  ",RX,1.00.04,,failed,worker-died," + seconds(1) + "," + dir + "/unit-com5.log\n" + "9," +
                  portPath(9) + ",TX,1.00.04,,failed,,190.2," + dir + "/unit-com9.log\n" + "17," + portPath(17) +
                  ",RX,1.00.04,,confirmed,,190.2," + dir + "/unit-com17.log\n");
}

// Ctrl-C while every unit is in its firmware upload: all workers ended, each
// unit reported where it was left, none left running.
TEST_F(Fleet, InterruptEndsEveryWorker)
{
    for (const Unit &unit : LINE) {
        presentPort(unit.port);
        script("scan-com" + std::to_string(unit.port), {scanAnswer(unit, false), "exit:0"});
        const std::string uploads = transcript::uploads(FPGA_LENGTH, MCU_LENGTH);
        std::vector<std::string> ops = {
            "err:" + escaped(identification(unit) + uploads.substr(0, uploads.find(transcript::SENDING_MCU))),
            "meet:4"};
        if (unit.port == 9) {
            ops.push_back("interrupt");
        }
        // One that will not stop when asked: it is killed.
        if (unit.port == 17) {
            ops.push_back("stubborn");
        }
        ops.push_back("hang");
        script("update-com" + std::to_string(unit.port), ops);
    }
    const Run run = updateAll();
    EXPECT_EQ(run.exitCode, 130);
    EXPECT_EQ(run.report["interrupted"], true);
    EXPECT_EQ(run.report["result"], "interrupted");
    for (const nlohmann::ordered_json &unit : run.report["units"]) {
        EXPECT_EQ(unit["result"], "interrupted");
        EXPECT_EQ(unit["reason"], "interrupted");
        EXPECT_EQ(unit["phase"], "firmware-upload");
        // Ended before its own verdict, the worker's log gets one.
        const std::string log = readFile(unit["log"].get<std::string>());
        EXPECT_NE(log.find(" verdict interrupted, exit status 130, interrupted in firmware-upload (written by "
                           "update --all: the worker ended without it)\n"),
                  std::string::npos)
            << log;
    }
    for (const Unit &unit : LINE) {
        const long pid = std::stol(readFile("scripts/update-com" + std::to_string(unit.port) + ".pid"));
        EXPECT_TRUE(processGone(pid)) << "COM" << unit.port;
    }
    WorkerProcess_ClearInterrupt();
}

// Ctrl-C while COM9's scan worker is still probing: no update begins, and
// every port is reported with why, the one whose scan was cut among those
// that answered.
TEST_F(Fleet, InterruptDuringTheScanReportsEveryPort)
{
    for (const Unit &unit : LINE) {
        presentPort(unit.port);
        script("scan-com" + std::to_string(unit.port), {scanAnswer(unit, false), "exit:0"});
    }
    script("scan-com9", {"interrupt", "hang"});
    const Run run = updateAll();
    EXPECT_EQ(run.exitCode, 130);
    EXPECT_EQ(run.report["interrupted"], true);
    EXPECT_EQ(
        resultsOf(run.report),
        (std::map<int, std::string>{{2, "interrupted"}, {5, "interrupted"}, {9, "interrupted"}, {17, "interrupted"}}));
    for (const nlohmann::ordered_json &unit : run.report["units"]) {
        EXPECT_TRUE(unit.contains("reason")) << unit.dump();
    }
    EXPECT_EQ(run.report["units"][2].value("error", ""), "scan interrupted before its worker answered");
    for (const Unit &unit : LINE) {
        EXPECT_FALSE(workerRan("update-com" + std::to_string(unit.port)));
    }
    WorkerProcess_ClearInterrupt();
}

TEST_F(Fleet, PlainBoardAndSummaryWithoutJson)
{
    lineWith({});
    UpdateAllOptions options;
    options.toolPath = fakeWorker();
    options.logDir = "logs";
    ::testing::internal::CaptureStdout();
    const int exitCode = exitStatus(runUpdateAll(options));
    const std::string console = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(console.rfind("Scanning COM1 to COM32 ...\n4 unit(s) found, logs in " + runLogDir() + "\n", 0), 0u)
        << console;
    for (const std::string &line :
         {columns(2, 7) + "TX  search             0%\n", columns(17, 7) + "RX  done             100%  confirmed\n",
          std::string("\nExit status 0: 4 confirmed.\n")}) {
        EXPECT_NE(console.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(console.find('{'), std::string::npos);
}

// Runs `run` with standard output on a pipe whose reader is gone, as under
// `| head -n 1` once head has ended.
int withStdoutClosed(const std::function<int()> &run)
{
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    int ends[2];
    if (saved < 0 || pipe(ends) != 0) {
        return -1;
    }
    close(ends[0]);
    dup2(ends[1], STDOUT_FILENO);
    close(ends[1]);
    const int result = run();
    __fpurge(stdout);
    clearerr(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    return result;
}

struct ClosedOutputCase : NamedCase {
    bool json;
};

class ClosedOutput : public Fleet, public ::testing::WithParamInterface<ClosedOutputCase> {};

// The board (or the report) cannot be written: the workers still finish, the
// exit status still tells, and with --json the summary still reaches
// standard error.
TEST_P(ClosedOutput, WorkersFinishAndTheExitStatusTells)
{
    lineWith({});
    ::testing::internal::CaptureStderr();
    const int exitCode =
        withStdoutClosed([this] { return exitStatus(runUpdateAll(updateAllOptions(GetParam().json))); });
    const std::string console = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(exitCode, 0) << console;
    if (GetParam().json) {
        EXPECT_NE(console.find("\nExit status 0: 4 confirmed.\n"), std::string::npos) << console;
    }
}

INSTANTIATE_TEST_SUITE_P(Outputs, ClosedOutput,
                         ::testing::Values(ClosedOutputCase{{"board_on_it"}, false},
                                           ClosedOutputCase{{"report_on_it"}, true}),
                         CaseName());

// Started under nohup: a hang-up, to the supervisor and to a worker in the
// middle of its update, ends nothing.
TEST_F(Fleet, IgnoredHangUpEndsNoWorker)
{
    lineWith({});
    std::vector<std::string> ops = updateScript(LINE[1], CONFIRMED);
    ops.insert(ops.begin() + 1, "hangup");
    script("update-com5", ops);
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGHUP, &ignore, &previous);
    const Run run = updateAll();
    sigaction(SIGHUP, &previous, nullptr);
    EXPECT_EQ(run.exitCode, 0) << run.console;
    EXPECT_FALSE(run.report.contains("interrupted"));
    EXPECT_EQ(resultsOf(run.report),
              (std::map<int, std::string>{{2, "confirmed"}, {5, "confirmed"}, {9, "confirmed"}, {17, "confirmed"}}));
}

}  // namespace
