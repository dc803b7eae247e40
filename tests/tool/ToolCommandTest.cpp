// OrvaneFwTool run as a script runs it: exit status and what it says.
#include "NamedCase.h"
#include "ReadFile.h"
#include "RunResult.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

class WebCommand : public ::testing::Test {
protected:
    TempFolder folder;

    RunResult runWeb() const { return runToCompletion({ORVANE_FW_TOOL, "web"}, folder.path(), 60'000); }
    std::string file() const { return folder.path("FwToUpload.bin"); }
};

}  // namespace

TEST_F(WebCommand, WholeFileSaysNothingMoreAndExitsZero)
{
    const RunResult run = runWeb();
    EXPECT_EQ(run.exitStatus, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(readFile(file()).substr(0, 8), "DexRig\r\n");
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
}

INSTANTIATE_TEST_SUITE_P(WebCommand, WebCommandBlocked,
                         ::testing::Values(Obstacle{"folder_in_its_place", false, "Is a directory"},
                                           Obstacle{"disk_full", true, "No space left on device"}),
                         CaseName());
