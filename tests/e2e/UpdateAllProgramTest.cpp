// `OrvaneFwTool update --all` as a technician runs it, against four emulated
// units on pseudo-terminals in real time: every unit updated at once, each
// in its own worker, in about the time of one update (over three minutes);
// and units whose update outlasts what happens to its supervisor.
#include "ChildProcess.h"
#include "MonotonicClock.h"
#include "ReadFile.h"
#include "ReceivedImage.h"
#include "RunResult.h"
#include "ShadowedComPorts.h"
#include "TempFolder.h"
#include "UnitSimProcess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <thread>

namespace {

// One update is about 190 s; four at once must not take much longer.
constexpr int64_t DEADLINE_MS = 400'000;

struct Unit {
    int com;
    const char *variant;
    int baud;
};

const Unit LINE[] = {{2, "tx", 9600}, {5, "rx", 57600}, {9, "tx", 115200}, {17, "rx", 4800}};

// What a confirmed update's log ends with.
const char *const CONFIRMED_VERDICT = "verdict confirmed, exit status 0";

// `OrvaneFwTool args...` started in `folder` as a shell starts a job: in a
// process group of its own, input from nothing, errors into a file. Its
// standard output goes to a pipe whose read end lands in *board, or into a
// file when board is null. With hangUpIgnored, as nohup starts it.
pid_t startSupervisor(std::vector<std::string> args, const std::string &folder, const std::string &name,
                      bool hangUpIgnored, int *board)
{
    args.insert(args.begin(), ORVANE_FW_TOOL);
    std::vector<char *> argv = childArgv(args);
    const std::string out = folder + "/" + name + ".out";
    const std::string err = folder + "/" + name + ".err";
    int ends[2] = {-1, -1};
    if (board != nullptr && pipe2(ends, O_CLOEXEC) != 0) {
        return -1;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        if (hangUpIgnored) {
            signal(SIGHUP, SIG_IGN);
        }
        const int output = board != nullptr ? ends[1] : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int errors = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int nothing = open("/dev/null", O_RDONLY);
        if (chdir(folder.c_str()) != 0 || dup2(nothing, 0) < 0 || dup2(output, 1) < 0 || dup2(errors, 2) < 0) {
            _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (board != nullptr) {
        close(ends[1]);
        *board = ends[0];
    }
    return pid;
}

// The first line of the pipe, as `head -n 1` takes it; "" when none came
// within a minute.
std::string firstLine(int fd)
{
    std::string text;
    const int64_t until = monotonicMs() + 60'000;
    while (text.find('\n') == std::string::npos && monotonicMs() < until) {
        pollfd ready = {fd, POLLIN, 0};
        if (poll(&ready, 1, 1000) > 0 && !drainPipe(fd, text)) {
            break;
        }
    }
    return text.substr(0, text.find('\n'));
}

// Waits until the file holds `text`; false when it did not by the deadline.
bool fileHoldsWithin(const std::string &path, const std::string &text, int64_t waitMs)
{
    const int64_t until = monotonicMs() + waitMs;
    while (readFile(path).find(text) == std::string::npos) {
        if (monotonicMs() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return true;
}

// The folder a run of update --all makes for its logs under `logDir` before
// its scan: the folder's one entry, once there is one.
std::string runLogDirWithin(const std::string &logDir, int64_t waitMs)
{
    const int64_t until = monotonicMs() + waitMs;
    for (;;) {
        std::error_code notYet;
        for (const auto &entry : std::filesystem::directory_iterator(logDir, notYet)) {
            return entry.path().string();
        }
        if (monotonicMs() >= until) {
            return logDir + "/no-run-folder";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

// The last line of a log that is not blank.
std::string lastLine(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text.substr(text.rfind('\n') + 1);
}

class UpdateAllProgram : public ::testing::Test {
protected:
    TempFolder folder;
    std::vector<std::unique_ptr<UnitSimProcess>> units;

    void SetUp() override { ASSERT_TRUE(shadowComPorts(folder.path())); }

    std::string received(int com) const { return folder.path("received-com" + std::to_string(com)); }

    void startLine(const std::map<int, std::vector<std::string>> &faults = {})
    {
        startUnits(std::vector<Unit>(std::begin(LINE), std::end(LINE)), faults);
    }

    void startUnits(const std::vector<Unit> &line, const std::map<int, std::vector<std::string>> &faults = {})
    {
        for (const Unit &unit : line) {
            std::filesystem::create_directory(received(unit.com));
            std::vector<std::string> args = {"--com",    std::to_string(unit.com),  "--variant", unit.variant,
                                             "--baud",   std::to_string(unit.baud), "--dir",     folder.path(),
                                             "--images", received(unit.com)};
            if (faults.count(unit.com) != 0) {
                args.insert(args.end(), faults.at(unit.com).begin(), faults.at(unit.com).end());
            }
            units.push_back(std::make_unique<UnitSimProcess>(ORVANE_UNIT_SIM, args));
            ASSERT_TRUE(units.back()->ready()) << "COM" << unit.com;
        }
    }

    struct Run {
        RunResult process;
        nlohmann::json report;
    };

    Run updateAll() const
    {
        RunResult run = runToCompletion({ORVANE_FW_TOOL, "update", "--all", "--json", "--log-dir", "logs"},
                                        folder.path(), DEADLINE_MS);
        EXPECT_FALSE(run.timedOut) << run.errors;
        return {run, nlohmann::json::parse(run.output, nullptr, false)};
    }

    void expectImagesIntact(const Unit &unit) const
    {
        const std::string images = ORVANE_IMAGES_DIR;
        const std::string fpga = std::string("M731946_") + (unit.variant[0] == 't' ? "TX" : "RX") + "_XC7A35_1_05.mcs";
        EXPECT_EQ(receivedImageDifference(ORVANE_FW_TOOL, images + "/" + fpga, received(unit.com) + "/fpga.bin",
                                          folder.path()),
                  "")
            << "COM" << unit.com;
        EXPECT_EQ(receivedImageDifference(ORVANE_FW_TOOL, images + "/M731946_MCU_6G-SDI_61_1_05.hex",
                                          received(unit.com) + "/mcu.bin", folder.path()),
                  "")
            << "COM" << unit.com;
    }

    static std::map<int, std::string> resultsOf(const nlohmann::json &report)
    {
        std::map<int, std::string> results;
        for (const nlohmann::json &unit : report["units"]) {
            results[unit["port"].get<int>()] = unit["result"].get<std::string>();
        }
        return results;
    }
};

TEST_F(UpdateAllProgram, FourUnitsConfirmedAtOnce)
{
    startLine();
    const Run run = updateAll();
    EXPECT_EQ(run.process.exitStatus, 0) << run.process.errors;
    ASSERT_TRUE(run.report.is_object()) << run.process.output;
    EXPECT_EQ(resultsOf(run.report),
              (std::map<int, std::string>{{2, "confirmed"}, {5, "confirmed"}, {9, "confirmed"}, {17, "confirmed"}}));
    for (const Unit &unit : LINE) {
        expectImagesIntact(unit);
    }
}

TEST_F(UpdateAllProgram, UnitRefusingFirmwareFailsAloneWithItsLog)
{
    startLine({{5, {"--fault", "mcu-data:garbled"}}});
    const Run run = updateAll();
    EXPECT_EQ(run.process.exitStatus, 1) << run.process.errors;
    ASSERT_TRUE(run.report.is_object()) << run.process.output;
    EXPECT_EQ(resultsOf(run.report),
              (std::map<int, std::string>{{2, "confirmed"}, {5, "failed"}, {9, "confirmed"}, {17, "confirmed"}}));
    // Where the run's own folder under logs/ keeps it, as the report says.
    const nlohmann::json &failed = run.report["units"][1];
    ASSERT_EQ(failed["port"], 5);
    EXPECT_EQ(failed["log"].get<std::string>().rfind("logs/", 0), 0u) << failed;
    const std::string log = readFile(folder.path(failed["log"].get<std::string>()));
    EXPECT_NE(log.find("Expected : SUCCESS"), std::string::npos) << log;
    EXPECT_EQ(failed["reason"], "refused");
    EXPECT_EQ(failed["phase"], "firmware-upload");
    EXPECT_NE(run.process.errors.find("COM5: next step: power-cycle the unit, then run the update again.\n"),
              std::string::npos);
    // The batch's record beside the logs: the report, and a row per unit.
    const std::string runDir = failed["log"].get<std::string>().substr(0, failed["log"].get<std::string>().rfind('/'));
    EXPECT_EQ(nlohmann::json::parse(readFile(folder.path(runDir + "/summary.json"))), run.report);
    // Its path column names the device COM5 leads to, as the unit's object does.
    ASSERT_TRUE(failed["path"].is_string()) << failed;
    EXPECT_EQ(failed["path"].get<std::string>().rfind("/dev/pts/", 0), 0u) << failed;
    EXPECT_NE(readFile(folder.path(runDir + "/summary.csv"))
                  .find("\n5," + failed["path"].get<std::string>() + ",RX,1.00.04,,failed,refused,"),
              std::string::npos);
    for (const Unit &unit : {LINE[0], LINE[2], LINE[3]}) {
        expectImagesIntact(unit);
    }
}

// Two supervisors side by side, one unit each. The first runs as
// `nohup OrvaneFwTool update --all | head -n 1`: head takes the first line
// and goes, and a hang-up comes during the update. The second is killed
// outright once its update has begun. Neither unit's update is cut: each is
// confirmed, its log ends with its verdict, and the first run still exits 0.
TEST_F(UpdateAllProgram, UpdatesOutlastTheirSupervisorsOutputSessionAndEnd)
{
    startUnits({LINE[0], LINE[1]});
    int board = -1;
    const pid_t nohup =
        startSupervisor({"update", "--all", "--ports", "2-2", "--log-dir", "logs-a"}, folder.path(), "a", true, &board);
    ASSERT_GT(nohup, 0);
    const pid_t killed = startSupervisor({"update", "--all", "--ports", "5-5", "--json", "--log-dir", "logs-b"},
                                         folder.path(), "b", false, nullptr);
    ASSERT_GT(killed, 0);
    EXPECT_EQ(firstLine(board), "Scanning COM2 to COM2 ...");
    close(board);

    const std::string logA = runLogDirWithin(folder.path("logs-a"), 60'000) + "/unit-com2.log";
    const std::string logB = runLogDirWithin(folder.path("logs-b"), 60'000) + "/unit-com5.log";
    // The workers' logs begin with the tool's heading.
    ASSERT_TRUE(fileHoldsWithin(logA, "OrvaneFwTool", 60'000)) << readFile(folder.path("a.err"));
    ASSERT_TRUE(fileHoldsWithin(logB, "OrvaneFwTool", 60'000)) << readFile(folder.path("b.err"));
    kill(-nohup, SIGHUP);
    kill(killed, SIGKILL);
    reapChild(killed, 5000);

    const int status = reapOrKillChild(nohup, DEADLINE_MS);
    EXPECT_EQ(exitStatusOf(status), 0) << readFile(folder.path("a.err"));
    EXPECT_TRUE(fileHoldsWithin(logB, " verdict ", DEADLINE_MS));
    for (const std::string &log : {logA, logB}) {
        const std::string last = lastLine(readFile(log));
        EXPECT_NE(last.find(CONFIRMED_VERDICT), std::string::npos) << log << ": " << last;
    }
    expectImagesIntact(LINE[0]);
    expectImagesIntact(LINE[1]);
}

}  // namespace
