// `OrvaneFwTool flatten IN OUT` as a whole process: what it writes, what it
// says, and what it refuses to touch.
#include "HexText.h"
#include "ReadFile.h"
#include "RunResult.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

class FlattenCommand : public ::testing::Test {
protected:
    TempFolder folder;

    void writeFile(const std::string &name, const std::string &content) const
    {
        std::ofstream(folder.path(name), std::ios::binary) << content;
    }
    RunResult flatten(const std::string &in, const std::string &out) const
    {
        return runToCompletion({ORVANE_FW_TOOL, "flatten", in, out}, folder.path(), 30'000);
    }
    bool exists(const std::string &name) const { return access(folder.path(name).c_str(), F_OK) == 0; }
};

// A text that fails at one line, with the line ends it is written with.
struct BadText {
    const char *name;
    std::string text;
    std::string error;
};

void PrintTo(const BadText &c, std::ostream *os)
{
    *os << c.name;
}

class FlattenBadText : public FlattenCommand, public ::testing::WithParamInterface<BadText> {};

}  // namespace

TEST_F(FlattenCommand, WritesTheImageAndSaysWhatItWrote)
{
    writeFile("in.hex", hextext::upper(0x0001) + hextext::data(0x0002, {0x10, 0x20}) + hextext::upper(0) +
                            hextext::data(0x0000, {0xAA}) + hextext::data(0x0004, {1, 2, 3}) + hextext::end());
    const RunResult run = flatten("in.hex", "out.bin");
    EXPECT_EQ(run.exitStatus, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    // Up to where the last record starts, not to the highest byte written;
    // the gaps keep 0xFF.
    EXPECT_EQ(readFile(folder.path("out.bin")), std::string("\xAA\xFF\xFF\xFF", 4));
    // 0 - (0xAA + 3 * 0xFF) modulo 2^32.
    EXPECT_EQ(run.output, "out.bin: 4 bytes, checksum 4294966361\n");
}

TEST_P(FlattenBadText, NamesTheLineAndWritesNothing)
{
    writeFile("in.hex", GetParam().text);
    writeFile("out.bin", "previous image");
    const RunResult run = flatten("in.hex", "out.bin");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.errors, "ERROR: in.hex" + GetParam().error + "\n");
    // The one line says it all: the flattener's own notes stay off the console.
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(readFile(folder.path("out.bin")), "previous image");
}

INSTANTIATE_TEST_SUITE_P(LineEnds, FlattenBadText,
                         ::testing::Values(BadText{"CrLfWithABlankLine", hextext::end() + "\r\n:0100000001FF\r\n",
                                                   " line 3: record checksum is 0xFF, the record's bytes need 0xFE"},
                                           BadText{"Lf", ":00000001FF\n:00000001FF\n:0100000001FF\n",
                                                   " line 3: record checksum is 0xFF, the record's bytes need 0xFE"},
                                           BadText{"LoneCr", ":00000001FF\r:00000001FF\r\r:0100000001FF\r",
                                                   " line 4: record checksum is 0xFF, the record's bytes need 0xFE"},
                                           BadText{"CountPastItsDataWithAFittingChecksum",
                                                   hextext::data(0, {1}) + ":03000000017E\r\n" + hextext::end(),
                                                   " line 2: byte count 3 but 1 data bytes"},
                                           BadText{"NotIntelHex", "first line\nsecond line\n",
                                                   " line 1: not a record (no ':')"},
                                           BadText{"Empty", "", ": no Intel HEX record in the text"},
                                           BadText{"CutAtALineEnd", hextext::data(0, {1}) + hextext::data(1, {2}),
                                                   " line 2: the text ends without an end-of-file record"}),
                         [](const ::testing::TestParamInfo<BadText> &param) { return std::string(param.param.name); });

TEST_F(FlattenCommand, RefusesToWriteOverItsInput)
{
    const std::string text = hextext::data(0, {1, 2}) + hextext::end();
    writeFile("in.hex", text);
    ASSERT_EQ(mkdir(folder.path("sub").c_str(), 0700), 0);
    ASSERT_EQ(symlink("in.hex", folder.path("link.hex").c_str()), 0);
    ASSERT_EQ(link(folder.path("in.hex").c_str(), folder.path("hard.hex").c_str()), 0);
    const std::vector<std::string> sameFile = {"in.hex",   "./in.hex", "sub/../in.hex",
                                               "link.hex", "hard.hex", folder.path("in.hex")};
    for (const std::string &out : sameFile) {
        const RunResult run = flatten("in.hex", out);
        EXPECT_EQ(run.exitStatus, 1) << out;
        EXPECT_EQ(run.errors, "ERROR: " + out + " is the input file in.hex itself; nothing written\n");
        EXPECT_EQ(readFile(folder.path("in.hex")), text) << out;
    }
    // A link to it may still be read from.
    const RunResult run = flatten("link.hex", "out.bin");
    EXPECT_EQ(run.exitStatus, 0) << run.errors;
}

TEST_F(FlattenCommand, OutputThatCannotBeWrittenIsNotLeftBehind)
{
    writeFile("in.hex", hextext::data(0x10, {1}) + hextext::end());
    // A folder cannot be created as a file; /dev/full takes the bytes and
    // refuses them, as a full disk does.
    ASSERT_EQ(mkdir(folder.path("folder.bin").c_str(), 0700), 0);
    RunResult run = flatten("in.hex", "folder.bin");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.errors, "ERROR: cannot create folder.bin: Is a directory\n");

    ASSERT_EQ(symlink("/dev/full", folder.path("full.bin").c_str()), 0);
    run = flatten("in.hex", "full.bin");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.errors, "ERROR: cannot write full.bin\n");
    EXPECT_FALSE(exists("full.bin"));
    EXPECT_EQ(run.output, "");
}
