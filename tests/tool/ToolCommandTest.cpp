// OrvaneFwTool run as a script runs it: exit status and what it says.
#include "ReadFile.h"
#include "RunResult.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <string>

#ifndef ORVANE_FW_TOOL
#error "the tool's path must be given by the build"
#endif

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

TEST_F(WebCommand, FileThatCannotBeWrittenWholeEndsWithOneLineAndStatusOne)
{
    // A folder in the file's place cannot be created; /dev/full takes the
    // bytes and refuses them at the close, as a full disk does.
    for (const bool full : {false, true}) {
        if (full) {
            ASSERT_EQ(remove(file().c_str()), 0);
            ASSERT_EQ(symlink("/dev/full", file().c_str()), 0);
        } else {
            ASSERT_EQ(mkdir(file().c_str(), 0700), 0);
        }
        const RunResult run = runWeb();
        EXPECT_EQ(run.exitStatus, 1) << full;
        const std::string reason = full ? "No space left on device" : "Is a directory";
        EXPECT_EQ(run.errors, "ERROR: FwToUpload.bin was not written whole: " + reason + "\n");
    }
}
