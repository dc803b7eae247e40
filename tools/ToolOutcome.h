// What a run of the tool comes to: its exit status, and for an update the
// result word of its JSON object. Scripts and production lines rely on both:
// keep the numbers and the words.
#ifndef TOOLOUTCOME_H_
#define TOOLOUTCOME_H_

#include <cstddef>
#include <iterator>
#include <string_view>

enum class ToolOutcome {
    Confirmed,    // the unit confirmed the update
    Failed,       // the command failed (update: an exchange went wrong)
    Usage,        // bad usage: an unknown word, a missing or wrong value
    Unconfirmed,  // both images accepted, but no confirmation after the reboot
    NoUnit,       // no unit found, or the port or rate cannot be used
    Done,         // any other command did its work
    Skipped,      // update left the unit alone: it already runs the firmware
    Interrupted,  // Ctrl-C or a request to end stopped the run
    Running,      // update --all: the unit's worker has not ended yet, so nothing is updated
    Aborted,      // abort() or an uncaught exception: a supervisor reads it as the worker's death
};

struct ToolOutcomeRow {
    ToolOutcome outcome;
    int exitStatus;
    const char *word;  // in the JSON objects, the board and the summary; "" where none shows
};

// One row per outcome, in the enum's order. The first row of an exit status
// that has a word is what a worker that ended with that status and left no
// word of its own is taken to have reported.
inline constexpr ToolOutcomeRow TOOL_OUTCOMES[] = {
    {ToolOutcome::Confirmed, 0, "confirmed"},
    {ToolOutcome::Failed, 1, "failed"},
    {ToolOutcome::Usage, 2, ""},
    {ToolOutcome::Unconfirmed, 3, "unconfirmed"},
    {ToolOutcome::NoUnit, 4, "no-unit"},
    {ToolOutcome::Done, 0, ""},
    {ToolOutcome::Skipped, 0, "skipped"},
    // As shells and CI report a run ended by Ctrl-C.
    {ToolOutcome::Interrupted, 130, "interrupted"},
    {ToolOutcome::Running, 1, ""},
    // As a shell reports a death by SIGABRT; never 3, which mingw's own
    // abort() exits with and which would read as "unconfirmed".
    {ToolOutcome::Aborted, 134, ""},
};

namespace tool_outcome {

constexpr bool rowsInEnumOrder()
{
    for (size_t i = 0; i < std::size(TOOL_OUTCOMES); ++i) {
        if (static_cast<size_t>(TOOL_OUTCOMES[i].outcome) != i) {
            return false;
        }
    }
    return std::size(TOOL_OUTCOMES) == static_cast<size_t>(ToolOutcome::Aborted) + 1;
}
static_assert(rowsInEnumOrder(), "TOOL_OUTCOMES holds one row per outcome, in the enum's order");

constexpr const ToolOutcomeRow &rowOf(ToolOutcome outcome)
{
    return TOOL_OUTCOMES[static_cast<size_t>(outcome)];
}

}  // namespace tool_outcome

constexpr int exitStatus(ToolOutcome outcome)
{
    return tool_outcome::rowOf(outcome).exitStatus;
}

constexpr const char *outcomeWord(ToolOutcome outcome)
{
    return tool_outcome::rowOf(outcome).word;
}

// The "result" of a JSON object: an outcome without a word of its own (bad
// usage: the run never got to its work) reports a failure, and "exit" says
// which.
constexpr const char *resultWord(ToolOutcome outcome)
{
    return outcomeWord(outcome)[0] != '\0' ? outcomeWord(outcome) : outcomeWord(ToolOutcome::Failed);
}

// A result word as a worker reports it; a word the tool does not know is a
// failure.
constexpr ToolOutcome outcomeOfWord(std::string_view word)
{
    for (const ToolOutcomeRow &row : TOOL_OUTCOMES) {
        if (!word.empty() && word == row.word) {
            return row.outcome;
        }
    }
    return ToolOutcome::Failed;
}

// What an exit status reports when the worker left no word of its own; a
// status that reports no result (bad usage, a crash's code) is a failure.
constexpr ToolOutcome outcomeOfExit(int status)
{
    for (const ToolOutcomeRow &row : TOOL_OUTCOMES) {
        if (row.exitStatus == status && row.word[0] != '\0') {
            return row.outcome;
        }
    }
    return ToolOutcome::Failed;
}

#endif
