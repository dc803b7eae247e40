// What the child processes of the end-to-end tests have in common: the
// argument vector, draining their pipes, and waiting for them by their id.
#ifndef TESTS_CHILDPROCESS_H_
#define TESTS_CHILDPROCESS_H_

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// argv for execv, built before fork: the child may only make
// async-signal-safe calls. Points into `args`, which must outlive it.
std::vector<char *> childArgv(std::vector<std::string> &args);

// Appends what the pipe has ready; false once it is at its end.
bool drainPipe(int fd, std::string &into);

// Waits up to graceMs for the child to end; its wait status, or -1 when it
// is still running.
int reapChild(pid_t pid, int64_t graceMs);

// Waits up to graceMs, then kills the child by its id and reaps it; its wait
// status, or -1 when it had to be killed.
int reapOrKillChild(pid_t pid, int64_t graceMs);

// The exit status in a wait status; -1 for a child that did not exit
// normally (a signal) or was not reaped.
int exitStatusOf(int waitStatus);

#endif
