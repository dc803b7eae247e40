#include "UnitSimProcess.h"

#include "ChildProcess.h"
#include "MonotonicClock.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdint>

namespace {

// The first line on `fd` without its line end; "" when none has come within
// timeoutMs.
std::string firstLine(int fd, int64_t timeoutMs)
{
    std::string text;
    const int64_t deadline = monotonicMs() + timeoutMs;
    while (text.find('\n') == std::string::npos) {
        const int64_t left = deadline - monotonicMs();
        pollfd pfd{fd, POLLIN, 0};
        if (left <= 0 || poll(&pfd, 1, static_cast<int>(left)) <= 0 || !drainPipe(fd, text)) {
            return "";
        }
    }
    return text.substr(0, text.find('\n'));
}

}  // namespace

UnitSimProcess::UnitSimProcess(const std::string &binary, std::vector<std::string> args)
{
    args.insert(args.begin(), binary);
    std::vector<char *> argv = childArgv(args);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    output_ = out[0];
    if (pid_ > 0) {
        ptyPath_ = firstLine(output_, 5000);
    }
}

bool UnitSimProcess::signal(int signal) const
{
    return pid_ > 0 && kill(pid_, signal) == 0;
}

int UnitSimProcess::stop(int signal)
{
    if (output_ >= 0) {
        close(output_);
        output_ = -1;
    }
    if (pid_ <= 0) {
        return -1;
    }
    kill(pid_, signal);
    const int status = reapOrKillChild(pid_, 5000);
    pid_ = -1;
    return exitStatusOf(status);
}
