// A worker's progress read from the updater's console text, as it arrives in
// pieces of any size.
#include "fleet/WorkerProgress.h"

#include "UpdateTranscript.h"

#include "NamedCase.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const int FPGA_LENGTH = 1055216;
const int MCU_LENGTH = 117648;

std::string identification()
{
    return transcript::BANNER + transcript::found(4, 9600) + transcript::VERSIONS + transcript::CHECKING_PRODUCT +
           transcript::productOk("TX");
}

std::string confirmedUpdate()
{
    return identification() + transcript::uploads(FPGA_LENGTH, MCU_LENGTH) + transcript::SUCCESS_LINE +
           transcript::PRESS_ANY_KEY;
}

// The text up to and including the first `mark` after `from`.
std::string upTo(const std::string &text, const std::string &mark, const std::string &from = "")
{
    const size_t start = from.empty() ? 0 : text.find(from);
    return text.substr(0, text.find(mark, start) + mark.size());
}

WorkerProgress progressOf(const std::string &text)
{
    WorkerProgress progress;
    readWorkerProgress(progress, text);
    return progress;
}

class ProgressInPieces : public ::testing::TestWithParam<size_t> {};

// Whatever the size of the pieces (labels split between two; each piece
// shorter than a phase's text, so that every phase is seen), the phases come
// in order, percentages never go back within a phase, and the update
// ends confirmed.
TEST_P(ProgressInPieces, PhasesInOrderAndEndConfirmed)
{
    const std::string text = confirmedUpdate();
    WorkerProgress progress;
    std::vector<UpdatePhase> phases = {progress.phase};
    int lastPercentage = 0;
    int highestFpgaPercentage = 0;
    for (size_t at = 0; at < text.size(); at += GetParam()) {
        readWorkerProgress(progress, std::string_view(text).substr(at, GetParam()));
        if (progress.phase != phases.back()) {
            phases.push_back(progress.phase);
            lastPercentage = 0;
        }
        ASSERT_GE(progress.percentage, lastPercentage) << "in " << phaseName(progress.phase);
        lastPercentage = progress.percentage;
        if (progress.phase == PHASE_FPGA_UPLOAD) {
            highestFpgaPercentage = std::max(highestFpgaPercentage, progress.percentage);
        }
    }
    EXPECT_EQ(phases, (std::vector<UpdatePhase>{PHASE_SEARCH, PHASE_IDENTIFICATION, PHASE_FPGA_UPLOAD,
                                                PHASE_FIRMWARE_UPLOAD, PHASE_REBOOT_WAIT, PHASE_DONE}));
    EXPECT_EQ(highestFpgaPercentage, 100);
    EXPECT_EQ(progress.percentage, 100);
    EXPECT_TRUE(progress.confirmed);
}

INSTANTIATE_TEST_SUITE_P(PieceSizes, ProgressInPieces, ::testing::Values(1, 2, 7, 51));

struct StandCase {
    const char *name;
    std::string text;
    UpdatePhase phase;
    int percentage;
    bool confirmed;
};

void PrintTo(const StandCase &c, std::ostream *os)
{
    *os << c.name;
}

class ProgressStand : public ::testing::TestWithParam<StandCase> {};

TEST_P(ProgressStand, PhaseAndPercentage)
{
    const WorkerProgress progress = progressOf(GetParam().text);
    EXPECT_STREQ(phaseName(progress.phase), phaseName(GetParam().phase));
    EXPECT_EQ(progress.percentage, GetParam().percentage);
    EXPECT_EQ(progress.confirmed, GetParam().confirmed);
}

const std::string UPDATE = confirmedUpdate();
const std::string UPLOADS = identification() + transcript::uploads(FPGA_LENGTH, MCU_LENGTH);

INSTANTIATE_TEST_SUITE_P(
    Transcripts, ProgressStand,
    ::testing::Values(
        StandCase{"searching", transcript::BANNER, PHASE_SEARCH, 0, false},
        StandCase{"port_found", transcript::BANNER + transcript::found(4, 9600), PHASE_IDENTIFICATION, 0, false},
        // A worker given its port prints no search: the version lines begin
        // the identification.
        StandCase{"given_port", transcript::VERSIONS, PHASE_IDENTIFICATION, 0, false},
        StandCase{"unknown_product",
                  transcript::CHECKING_PRODUCT + "FAILED, Unknown product\r\n" + transcript::NOT_SUCCESSFUL,
                  PHASE_IDENTIFICATION, 0, false},
        StandCase{"fpga_announced", upTo(UPDATE, transcript::PREPARING_FPGA), PHASE_FPGA_UPLOAD, 0, false},
        StandCase{"fpga_not_ready",
                  identification() + transcript::PREPARING_FPGA + "FAILED [Unit not ready]\r\n" +
                      transcript::NOT_SUCCESSFUL + transcript::PRESS_ANY_KEY,
                  PHASE_FPGA_UPLOAD, 0, false},
        StandCase{"fpga_half_sent", upTo(UPDATE, "\b\b50%"), PHASE_FPGA_UPLOAD, 50, false},
        StandCase{"fpga_single_digit", upTo(UPDATE, "\b\b7%"), PHASE_FPGA_UPLOAD, 7, false},
        StandCase{"firmware_announced", upTo(UPDATE, transcript::PREPARING_MCU), PHASE_FIRMWARE_UPLOAD, 0, false},
        StandCase{"firmware_sending", upTo(UPDATE, "\b\b\b26%", transcript::SENDING_MCU), PHASE_FIRMWARE_UPLOAD, 26,
                  false},
        StandCase{"firmware_refused",
                  upTo(UPDATE, "100%", transcript::SENDING_MCU) +
                      "\r\nExpected : SUCCESS  received : 12%\r\n"
                      "\r\nError: Expected response did  not matched !\r\nFAILED\r\n",
                  PHASE_FIRMWARE_UPLOAD, 100, false},
        StandCase{"reboot_begun", upTo(UPDATE, transcript::REBOOTING), PHASE_REBOOT_WAIT, 0, false},
        StandCase{"reboot_right_aligned", upTo(UPDATE, "  4%"), PHASE_REBOOT_WAIT, 4, false},
        StandCase{"reboot_two_digits", upTo(UPDATE, " 97%"), PHASE_REBOOT_WAIT, 97, false},
        // Both images acknowledged, no closing text of the right shape.
        StandCase{"unconfirmed", UPLOADS + transcript::PRESS_ANY_KEY, PHASE_REBOOT_WAIT, 100, false},
        StandCase{"confirmed", UPDATE, PHASE_DONE, 100, true}),
    CaseName());

TEST(ScreenLines, BackspacesAppliedAndBlankLinesLeftOut)
{
    const std::string text = "first\r\n\r\n" + transcript::SENDING_FPGA + "1%\b\b2%\b\b10%\b\b\b11%\r\n\rlast\r\n";
    EXPECT_EQ(lastScreenLines(text, 5), (std::vector<std::string>{"first", transcript::SENDING_FPGA + "11%", "last"}));
    EXPECT_EQ(lastScreenLines(text, 1), (std::vector<std::string>{"last"}));
    EXPECT_TRUE(lastScreenLines("", 3).empty());
}

}  // namespace
