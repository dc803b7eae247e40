// A program of ours run to its end as a script would run it, under a
// deadline so that no run can hold a CI job, and what came of it.
#ifndef TESTS_RUNRESULT_H_
#define TESTS_RUNRESULT_H_

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

struct RunResult {
    bool started = false;
    bool timedOut = false;  // killed at the deadline
    int exitStatus = -1;    // -1 when it ended by a signal
    std::string output;     // stdout
    std::string errors;     // stderr
    int64_t elapsedMs = 0;
    int64_t seenAtMs = -1;  // when the awaited text appeared
};

// Runs args[0] in `folder` with stdin on a pipe that is already closed (no
// keyboard, no input), collecting stdout and stderr. Past deadlineMs the
// child is killed by its id and the result says so. With `awaited`, the
// child is sent `stopSignal` as soon as stdout or stderr holds that text, and
// the result says when: killed, it is stopped there; sent another signal, it
// is followed to its end, to see how it ends.
RunResult runToCompletion(std::vector<std::string> args, const std::string &folder, int64_t deadlineMs,
                          const std::string &awaited = "", int stopSignal = SIGKILL);

#endif
