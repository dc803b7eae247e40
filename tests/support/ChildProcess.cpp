#include "ChildProcess.h"

#include "MonotonicClock.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

std::vector<char *> childArgv(std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (std::string &a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    return argv;
}

bool drainPipe(int fd, std::string &into)
{
    char buffer[8192];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
        into.append(buffer, static_cast<size_t>(n));
        return true;
    }
    return n < 0 && (errno == EINTR || errno == EAGAIN);
}

int reapChild(pid_t pid, int64_t graceMs)
{
    const int64_t until = monotonicMs() + graceMs;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return status;
        }
        if (done < 0 && errno != EINTR) {
            return 0;
        }
        if (monotonicMs() >= until) {
            return -1;
        }
        usleep(10'000);
    }
}

int reapOrKillChild(pid_t pid, int64_t graceMs)
{
    const int status = reapChild(pid, graceMs);
    if (status != -1) {
        return status;
    }
    kill(pid, SIGKILL);
    reapChild(pid, 5000);
    return -1;
}

int exitStatusOf(int waitStatus)
{
    return waitStatus != -1 && WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
}
