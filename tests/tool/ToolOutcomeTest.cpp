// The tool's outcomes as a supervisor reads back what its workers left: a
// result word, or only an exit status.
#include "ToolOutcome.h"

#include <gtest/gtest.h>

TEST(ToolOutcome, EveryResultWordReadsBackAsItsOutcome)
{
    for (const ToolOutcomeRow &row : TOOL_OUTCOMES) {
        if (row.word[0] != '\0') {
            EXPECT_EQ(outcomeOfWord(row.word), row.outcome) << row.word;
        }
    }
}

// A worker that left no word is taken at its exit status: a result with that
// status, or a failure when no result has it.
TEST(ToolOutcome, ExitStatusReadsBackAsAResultWithThatStatus)
{
    for (const ToolOutcomeRow &row : TOOL_OUTCOMES) {
        if (row.word[0] != '\0') {
            const ToolOutcome read = outcomeOfExit(row.exitStatus);
            EXPECT_EQ(exitStatus(read), row.exitStatus) << row.word;
            EXPECT_STRNE(outcomeWord(read), "") << row.word;
        }
    }
    EXPECT_EQ(outcomeOfExit(exitStatus(ToolOutcome::Usage)), ToolOutcome::Failed);
    EXPECT_EQ(outcomeOfExit(137), ToolOutcome::Failed);
}
