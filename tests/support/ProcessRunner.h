// Child processes of the end-to-end tests: the emulated unit, started and
// stopped by its own id, and programs run to their end under a deadline so
// that no run can hold a CI job.
#ifndef TESTS_PROCESSRUNNER_H_
#define TESTS_PROCESSRUNNER_H_

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

inline int64_t monotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

// FOLDER/dosdevices/com1..com32 as links to nothing: a port search run from
// FOLDER then never falls through to the machine's own /dev/ttyS ports. The
// emulated unit replaces the entry of the port it serves.
inline bool shadowComPorts(const std::string &folder)
{
    const std::string devices = folder + "/dosdevices";
    if (mkdir(devices.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    for (int n = 1; n <= 32; ++n) {
        const std::string link = devices + "/com" + std::to_string(n);
        if (symlink("/nonexistent", link.c_str()) != 0) {
            return false;
        }
    }
    return true;
}

namespace process_detail {

// argv for execv, built before fork: the child may only make
// async-signal-safe calls.
inline std::vector<char *> argvOf(std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (std::string &a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    return argv;
}

// Appends what one pipe has ready; false once it is at its end.
inline bool drain(int fd, std::string &into)
{
    char buffer[8192];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
        into.append(buffer, static_cast<size_t>(n));
        return true;
    }
    return n < 0 && (errno == EINTR || errno == EAGAIN);
}

// Waits up to graceMs for the child to end; gives its wait status, or -1
// when it is still running.
inline int reap(pid_t pid, int64_t graceMs)
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

}  // namespace process_detail

struct RunResult {
    bool started = false;
    bool timedOut = false;  // killed at the deadline
    int exitStatus = -1;    // -1 when it ended by a signal
    std::string output;     // stdout
    std::string errors;     // stderr
    int64_t elapsedMs = 0;
    int64_t seenAtMs = -1;  // when the awaited text appeared on stdout
};

// Runs args[0] in `folder` with stdin on a pipe that is already closed (no
// keyboard, no input), collecting stdout and stderr. Past deadlineMs the
// child is killed by its id and the result says so. With `awaited`, the run
// is stopped as soon as stdout holds that text, and the result says when.
inline RunResult runToCompletion(std::vector<std::string> args, const std::string &folder, int64_t deadlineMs,
                                 const std::string &awaited = "")
{
    RunResult result;
    std::vector<char *> argv = process_detail::argvOf(args);
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0) {
        return result;
    }
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return result;
    }
    const int64_t start = monotonicMs();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0 || dup2(in[0], STDIN_FILENO) < 0 || dup2(out[1], STDOUT_FILENO) < 0 ||
            dup2(err[1], STDERR_FILENO) < 0) {
            _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(in[1]);
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(out[0]);
        close(err[0]);
        return result;
    }
    result.started = true;

    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        const int64_t left = start + deadlineMs - monotonicMs();
        if (left <= 0) {
            result.timedOut = true;
            break;
        }
        pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR) {
            break;
        }
        if (outOpen && fds[0].revents != 0) {
            outOpen = process_detail::drain(out[0], result.output);
            if (!awaited.empty() && result.output.find(awaited) != std::string::npos) {
                result.seenAtMs = monotonicMs() - start;
                kill(pid, SIGKILL);
                break;
            }
        }
        if (errOpen && fds[1].revents != 0) {
            errOpen = process_detail::drain(err[0], result.errors);
        }
    }
    close(out[0]);
    close(err[0]);

    // Both pipes at their end: the exit follows at once. Anything else is a
    // run that has to be stopped.
    int status = process_detail::reap(pid, result.timedOut ? 0 : 5000);
    if (status == -1) {
        result.timedOut = true;
        kill(pid, SIGKILL);
        status = process_detail::reap(pid, 5000);
    }
    result.elapsedMs = monotonicMs() - start;
    result.exitStatus = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// OrvaneUnitSim in a child process: ready once it has printed the path of its
// pseudo-terminal (its COM link exists by then), stopped with SIGTERM.
class UnitSimProcess {
public:
    UnitSimProcess(const std::string &binary, std::vector<std::string> args)
    {
        args.insert(args.begin(), binary);
        std::vector<char *> argv = process_detail::argvOf(args);
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
        if (pid_ < 0) {
            return;
        }
        std::string first;
        const int64_t deadline = monotonicMs() + 5000;
        while (first.find('\n') == std::string::npos) {
            const int64_t left = deadline - monotonicMs();
            pollfd pfd{output_, POLLIN, 0};
            if (left <= 0 || poll(&pfd, 1, static_cast<int>(left)) <= 0 || !process_detail::drain(output_, first)) {
                break;
            }
        }
        const size_t end = first.find('\n');
        if (end != std::string::npos) {
            ptyPath_ = first.substr(0, end);
        }
    }
    ~UnitSimProcess() { stop(); }
    UnitSimProcess(const UnitSimProcess &) = delete;
    UnitSimProcess &operator=(const UnitSimProcess &) = delete;

    bool ready() const { return !ptyPath_.empty(); }
    const std::string &ptyPath() const { return ptyPath_; }

    // Its exit status after `signal` (SIGTERM or SIGINT); -1 when it had to be
    // killed or did not exit normally.
    int stop(int signal = SIGTERM)
    {
        if (output_ >= 0) {
            close(output_);
            output_ = -1;
        }
        if (pid_ <= 0) {
            return -1;
        }
        kill(pid_, signal);
        int status = process_detail::reap(pid_, 5000);
        if (status == -1) {
            kill(pid_, SIGKILL);
            process_detail::reap(pid_, 5000);
        }
        pid_ = -1;
        return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string ptyPath_;
};

#endif
