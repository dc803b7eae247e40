#include "RunResult.h"

#include "ChildProcess.h"
#include "MonotonicClock.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

namespace {

struct Child {
    pid_t pid = -1;
    int out = -1;  // its stdout
    int err = -1;  // its stderr
};

void closeAll(std::initializer_list<int> fds)
{
    for (const int fd : fds) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

// args[0] started in `folder`, its stdin on a pipe already closed, its
// stdout and stderr on pipes of ours; pid -1 when it could not be started.
Child startChild(std::vector<std::string> &args, const std::string &folder)
{
    Child child;
    std::vector<char *> argv = childArgv(args);
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        closeAll({in[0], in[1], out[0], out[1], err[0], err[1]});
        return child;
    }
    child.pid = fork();
    if (child.pid == 0) {
        if (chdir(folder.c_str()) != 0 || dup2(in[0], STDIN_FILENO) < 0 || dup2(out[1], STDOUT_FILENO) < 0 ||
            dup2(err[1], STDERR_FILENO) < 0) {
            _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    closeAll({in[0], in[1], out[1], err[1]});
    if (child.pid < 0) {
        closeAll({out[0], err[0]});
        return child;
    }
    child.out = out[0];
    child.err = err[0];
    return child;
}

// Reads both pipes until both are at their end or the deadline has passed.
// Once stdout or stderr holds `awaited`, the child is sent `stopSignal`: after
// SIGKILL nothing more is read, after another signal what the child still
// says is.
void collectOutput(const Child &child, int64_t start, int64_t deadlineMs, std::string awaited, int stopSignal,
                   RunResult &result)
{
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        const int64_t left = start + deadlineMs - monotonicMs();
        if (left <= 0) {
            result.timedOut = true;
            return;
        }
        pollfd fds[2] = {{outOpen ? child.out : -1, POLLIN, 0}, {errOpen ? child.err : -1, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR) {
            return;
        }
        if (outOpen && fds[0].revents != 0) {
            outOpen = drainPipe(child.out, result.output);
        }
        if (errOpen && fds[1].revents != 0) {
            errOpen = drainPipe(child.err, result.errors);
        }
        if (!awaited.empty() &&
            (result.output.find(awaited) != std::string::npos || result.errors.find(awaited) != std::string::npos)) {
            result.seenAtMs = monotonicMs() - start;
            kill(child.pid, stopSignal);
            if (stopSignal == SIGKILL) {
                return;
            }
            awaited.clear();
        }
    }
}

}  // namespace

RunResult runToCompletion(std::vector<std::string> args, const std::string &folder, int64_t deadlineMs,
                          const std::string &awaited, int stopSignal)
{
    RunResult result;
    const int64_t start = monotonicMs();
    const Child child = startChild(args, folder);
    if (child.pid < 0) {
        return result;
    }
    result.started = true;
    collectOutput(child, start, deadlineMs, awaited, stopSignal, result);
    closeAll({child.out, child.err});
    // Both pipes at their end: the exit follows at once. Anything else is a
    // run that has to be stopped.
    const int status = reapOrKillChild(child.pid, result.timedOut ? 0 : 5000);
    result.timedOut = result.timedOut || status == -1;
    result.elapsedMs = monotonicMs() - start;
    result.exitStatus = exitStatusOf(status);
    return result;
}
