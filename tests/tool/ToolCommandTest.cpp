// OrvaneFwTool run as a script runs it: exit status and what it says.
#include "NamedCase.h"
#include "ReadFile.h"
#include "RunResult.h"
#include "ShadowedComPorts.h"
#include "TempFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <string>
#include <vector>

namespace {

class WebCommand : public ::testing::Test {
protected:
    TempFolder folder;

    RunResult runWeb() const { return runToCompletion({ORVANE_FW_TOOL, "web"}, folder.path(), 60'000); }
    std::string file() const { return folder.path("FwToUpload.bin"); }
};

}  // namespace

TEST_F(WebCommand, WholeFileIsOneLineAndExitsZero)
{
    const RunResult run = runWeb();
    EXPECT_EQ(run.exitStatus, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    const std::string written = readFile(file());
    EXPECT_EQ(written.substr(0, 8), "DexRig\r\n");
    // The header's checksum and length lines, as the line repeats them.
    const size_t checksum = written.find("\r\n", 23) + 2;
    const std::string sum = written.substr(23, checksum - 25);
    const std::string length = written.substr(checksum, written.find("\r\n", checksum) - checksum);
    EXPECT_EQ(run.output, "FwToUpload.bin: " + std::to_string(written.size()) + " bytes, image " + length +
                              " bytes, checksum " + sum + "\n");
}

namespace {

// What stands in the file's way: a folder in its place cannot be created;
// /dev/full takes the bytes and refuses them at the close, as a full disk does.
struct Obstacle : NamedCase {
    bool diskFull;
    std::string reason;
};

class WebCommandBlocked : public WebCommand, public ::testing::WithParamInterface<Obstacle> {};

}  // namespace

TEST_P(WebCommandBlocked, EndsWithOneLineAndStatusOne)
{
    const Obstacle &o = GetParam();
    if (o.diskFull) {
        ASSERT_EQ(symlink("/dev/full", file().c_str()), 0);
    } else {
        ASSERT_EQ(mkdir(file().c_str(), 0700), 0);
    }
    const RunResult run = runWeb();
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.errors, "ERROR: FwToUpload.bin was not written whole: " + o.reason + "\n");
    // Not a line per body line that could not be written.
    EXPECT_EQ(run.output, "");
}

INSTANTIATE_TEST_SUITE_P(WebCommand, WebCommandBlocked,
                         ::testing::Values(Obstacle{"folder_in_its_place", false, "Is a directory"},
                                           Obstacle{"disk_full", true, "No space left on device"}),
                         CaseName());

namespace {

// The tool in a folder whose COM ports lead nowhere, so that no run can reach
// the machine's own serial ports.
class ToolRun : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(shadowComPorts(folder.path())); }

    RunResult run(std::vector<std::string> args, const std::string &awaited = "", int signal = SIGKILL) const
    {
        args.insert(args.begin(), ORVANE_FW_TOOL);
        return runToCompletion(args, folder.path(), 30'000, awaited, signal);
    }

    TempFolder folder;
};

// Where update --all is told to keep its logs, a file stands.
struct LogDirCase : NamedCase {
    std::string logDir;
};

class UpdateAllLogDirTaken : public ToolRun, public ::testing::WithParamInterface<LogDirCase> {};

}  // namespace

TEST_P(UpdateAllLogDirTaken, IsRefusedBeforeTheScan)
{
    std::ofstream(folder.path("taken"), std::ios::binary) << "a file\n";
    const RunResult r = run({"update", "--all", "--ports", "1-2", "--log-dir", GetParam().logDir, "--json"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(r.errors.find("Scanning"), std::string::npos) << r.errors;
    const nlohmann::json report = nlohmann::json::parse(r.output, nullptr, false);
    ASSERT_TRUE(report.is_object()) << r.output;
    EXPECT_EQ(report["exit"], 2);
    EXPECT_EQ(report["units"], nlohmann::json::array());
    EXPECT_EQ(report["error"].get<std::string>().rfind("the log folder " + GetParam().logDir + " cannot be used: ", 0),
              0u)
        << report;
    EXPECT_NE(r.errors.find(report["error"].get<std::string>()), std::string::npos) << r.errors;
    EXPECT_EQ(readFile(folder.path("taken")), "a file\n");
}

INSTANTIATE_TEST_SUITE_P(ToolRun, UpdateAllLogDirTaken,
                         ::testing::Values(LogDirCase{{"a_file"}, "taken"}, LogDirCase{{"below_a_file"}, "taken/logs"}),
                         CaseName());

namespace {

struct InterruptCase : NamedCase {
    int signal;
};

// A port that opens and never answers: the search waits on it for seconds.
class UpdateInterrupted : public ToolRun, public ::testing::WithParamInterface<InterruptCase> {
protected:
    void SetUp() override
    {
        ToolRun::SetUp();
        char name[256];
        int slave = -1;
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        close(slave);
        ASSERT_TRUE(linkComPort(folder.path(), 1, name));
    }
    void TearDown() override { close(master); }

    int master = -1;
};

}  // namespace

TEST_P(UpdateInterrupted, EndsWithItsObjectAndTheLogsVerdict)
{
    const RunResult r = run({"update", "--port", "1", "--log", "update.log", "--json"}, "Detecting", GetParam().signal);
    ASSERT_GE(r.seenAtMs, 0) << r.errors;
    EXPECT_EQ(r.exitStatus, 130);
    const nlohmann::json object = nlohmann::json::parse(r.output, nullptr, false);
    ASSERT_TRUE(object.is_object()) << r.output;
    EXPECT_EQ(object["result"], "interrupted");
    EXPECT_EQ(object["exit"], 130);
    EXPECT_EQ(object["reason"], "interrupted");
    EXPECT_EQ(object["phase"], "search");
    EXPECT_EQ(object["port"], 1);
    EXPECT_EQ(object["log"], "update.log");
    EXPECT_EQ(object["error"], "The update was interrupted before its end");
    const std::string log = readFile(folder.path("update.log"));
    EXPECT_NE(log.find(" verdict interrupted, exit status 130, interrupted in search\n"), std::string::npos) << log;
    EXPECT_LT(r.elapsedMs - r.seenAtMs, 3000) << "the search's six seconds were waited out";
}

INSTANTIATE_TEST_SUITE_P(ToolRun, UpdateInterrupted,
                         ::testing::Values(InterruptCase{{"ctrl_c"}, SIGINT}, InterruptCase{{"terminated"}, SIGTERM}),
                         CaseName());
