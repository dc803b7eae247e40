// Replays the fuzz targets' saved inputs (seed corpora and the inputs that
// once broke a property) through the same checks the targets run, so that a
// defect found by fuzzing stays mended in the ordinary build.
#include "FuzzChecks.h"
#include "ProgramBuffersTest.h"

#include "SimConsole.h"
#include "base/ProgramState.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using Check = std::string (*)(const uint8_t *, size_t);

std::vector<fs::path> savedInputs(const std::string &target)
{
    std::vector<fs::path> files;
    for (const char *folder : {"corpus", "regressions"}) {
        const fs::path dir = fs::path(ORVANE_FUZZ_DIR) / folder / target;
        if (!fs::is_directory(dir)) {
            continue;
        }
        for (const fs::directory_entry &entry : fs::directory_iterator(dir)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> contents(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void replay(const std::string &target, Check check)
{
    const std::vector<fs::path> files = savedInputs(target);
    // An empty list would mean the folders moved and nothing is tested.
    ASSERT_FALSE(files.empty()) << "no saved inputs under " << ORVANE_FUZZ_DIR << " for " << target;
    for (const fs::path &file : files) {
        const std::vector<uint8_t> input = contents(file);
        EXPECT_EQ(check(input.data(), input.size()), "") << file.string();
    }
}

// The flattener writes into the program's image buffer and reports on the console.
class FlattenReplay : public ProgramBuffersTest {};

}  // namespace

TEST(FuzzRegression, HexRecordLines)
{
    replay("fuzz_hex_record", checkHexRecord);
}

TEST(FuzzRegression, Base64TextsAndRoundTrips)
{
    replay("fuzz_base64", checkBase64);
}

TEST(FuzzRegression, VersionReplies)
{
    replay("fuzz_version_reply", checkVersionReply);
}

TEST_F(FlattenReplay, WholeTexts)
{
    replay("fuzz_flatten", checkFlatten);
}
