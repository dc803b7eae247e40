// The helpers the end-to-end tests stand on, in seconds: a run that hangs
// must not hold the test, a shadowed folder must hide every searched port,
// and the image check must tell an intact image from a damaged one.
#include "HexText.h"
#include "ReceivedImage.h"
#include "RunResult.h"
#include "ShadowedComPorts.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

TEST(RunToCompletion, CollectsBothStreamsAndTheExitStatus)
{
    TempFolder folder;
    const RunResult run =
        runToCompletion({"/bin/sh", "-c", "pwd; echo oops >&2; read line || exit 3"}, folder.path(), 10'000);
    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitStatus, 3) << "standard input must be at its end";
    EXPECT_EQ(run.output, fs::canonical(folder.path()).string() + "\n");
    EXPECT_EQ(run.errors, "oops\n");
}

TEST(RunToCompletion, HungProgramIsKilledAtTheDeadline)
{
    TempFolder folder;
    const RunResult run = runToCompletion({"/bin/sleep", "30"}, folder.path(), 300);
    EXPECT_TRUE(run.timedOut);
    EXPECT_EQ(run.exitStatus, -1);
    EXPECT_LT(run.elapsedMs, 5000);
}

TEST(RunToCompletion, AwaitedTextStopsTheRunAndSaysWhen)
{
    TempFolder folder;
    const RunResult run = runToCompletion({"/bin/sh", "-c", "echo TX OK; sleep 30"}, folder.path(), 20'000, "TX OK");
    EXPECT_GE(run.seenAtMs, 0);
    EXPECT_FALSE(run.timedOut);
    EXPECT_LT(run.elapsedMs, 5000);
}

TEST(RunToCompletion, ProgramThatCannotBeExecutedEndsWith127)
{
    TempFolder folder;
    const RunResult run = runToCompletion({folder.path("missing")}, folder.path(), 10'000);
    EXPECT_EQ(run.exitStatus, 127);
}

TEST(ShadowedComPorts, EverySearchedPortLeadsNowhereUntilLinked)
{
    TempFolder folder;
    ASSERT_TRUE(shadowComPorts(folder.path()));
    for (int com = 1; com <= SEARCHED_COM_PORTS; ++com) {
        const fs::path link = comPortLink(folder.path(), com);
        EXPECT_TRUE(fs::is_symlink(link)) << link;
        EXPECT_FALSE(fs::exists(link)) << link;
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(comPortLink(folder.path(), SEARCHED_COM_PORTS + 1))));
    EXPECT_FALSE(shadowComPorts(folder.path())) << "a second shadowing would hide a unit's link";

    ASSERT_TRUE(linkComPort(folder.path(), 4, "/dev/null"));
    EXPECT_EQ(fs::read_symlink(comPortLink(folder.path(), 4)), "/dev/null");
}

TEST(ReceivedImage, IntactImageHasNoDifferenceAndAChangedByteIsFound)
{
    TempFolder folder;
    const std::vector<uint8_t> bytes = {0x10, 0x20, 0x30, 0x40, 0x50};
    std::ofstream(folder.path("image.hex"), std::ios::binary) << hextext::forImage(bytes);
    std::string image(bytes.begin(), bytes.end());
    std::ofstream(folder.path("received.bin"), std::ios::binary) << image;
    EXPECT_EQ(
        receivedImageDifference(ORVANE_FW_TOOL, folder.path("image.hex"), folder.path("received.bin"), folder.path()),
        "");

    image[3] = 0x41;
    std::ofstream(folder.path("received.bin"), std::ios::binary) << image;
    EXPECT_EQ(
        receivedImageDifference(ORVANE_FW_TOOL, folder.path("image.hex"), folder.path("received.bin"), folder.path()),
        folder.path("received.bin") + ": 5 bytes against 5 flattened, first difference at byte 3");
}

TEST(ReceivedImage, FileTheToolCannotFlattenIsADifference)
{
    TempFolder folder;
    std::ofstream(folder.path("image.hex"), std::ios::binary) << "no Intel HEX here\r\n";
    std::ofstream(folder.path("received.bin"), std::ios::binary) << "";
    const std::string difference =
        receivedImageDifference(ORVANE_FW_TOOL, folder.path("image.hex"), folder.path("received.bin"), folder.path());
    EXPECT_NE(difference.find("ended with status"), std::string::npos) << difference;
}
