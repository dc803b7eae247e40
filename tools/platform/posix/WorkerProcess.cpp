// Workers on POSIX: fork and exec, output read through poll, ends learnt
// from waitpid. A worker's end and an interrupt both write a byte into a pipe
// of our own that the poll watches, so neither is lost between two waits.
#include "platform/WorkerProcess.h"

#include "platform/WorkerEnd.h"
#include "platform/WorkerOutput.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

struct Worker {
    pid_t pid;
    int id;
    int pipes[2];  // read ends of stdout and stderr; -1 once at their end
    bool reaped;   // or given up on
    WorkerStatus ended;
};

// How long a killed worker may take to go before it is given up on: one
// stuck in a driver cannot be reaped, and must not hold the supervisor.
const int KILLED_WAIT_MS = 3000;
// Two pipes per worker, and room for the rest of the tool: what a scan of
// every port needs.
const rlim_t DESCRIPTORS_NEEDED = 1024;

std::vector<Worker> g_workers;
int g_wakeup[2] = {-1, -1};
volatile sig_atomic_t g_interrupted = 0;

void wake(void)
{
    const int saved = errno;
    const ssize_t ignored = write(g_wakeup[1], "w", 1);
    (void)ignored;
    errno = saved;
}

void onInterrupt(int)
{
    g_interrupted = 1;
    wake();
}

void onChildEnd(int)
{
    wake();
}

void setHandler(int signal, void (*handler)(int), int flags)
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    sigaction(signal, &action, nullptr);
}

bool isIgnored(int signal)
{
    struct sigaction now {};
    return sigaction(signal, nullptr, &now) == 0 && now.sa_handler == SIG_IGN;
}

// A soft limit below what a worker on every port needs is raised, as far as
// the hard limit allows.
void allowDescriptorsForEveryPort(void)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < DESCRIPTORS_NEEDED &&
        limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max < DESCRIPTORS_NEEDED ? limit.rlim_max : DESCRIPTORS_NEEDED;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

bool openWakeupPipe(void)
{
    if (g_wakeup[0] >= 0) {
        return true;
    }
    if (pipe2(g_wakeup, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    setHandler(SIGCHLD, onChildEnd, SA_RESTART | SA_NOCLDSTOP);
    return true;
}

void drainWakeup(void)
{
    char bytes[64];
    while (read(g_wakeup[0], bytes, sizeof bytes) > 0) {
    }
}

int64_t monotonicMs(void)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// In the child, between fork and exec: only async-signal-safe calls. An exec
// that fails sends its errno through `failure`, whose end the exec closes.
[[noreturn]] void becomeWorker(char *const *argv, int input, int output, int errors, int failure)
{
    // Its own process group: the terminal's Ctrl-C reaches the supervisor
    // alone, which then ends every worker in order.
    setpgid(0, 0);
    // The supervisor's handlers go, as the exec would take them, but what it
    // ignores stays ignored (a hang-up under nohup). A supervisor that is
    // gone must not take the worker with it through a write to its pipe.
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) {
        if (!isIgnored(signal)) {
            setHandler(signal, SIG_DFL, 0);
        }
    }
    setHandler(SIGPIPE, SIG_IGN, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (dup2(input, STDIN_FILENO) >= 0 && dup2(output, STDOUT_FILENO) >= 0 && dup2(errors, STDERR_FILENO) >= 0) {
        execv(argv[0], argv);
    }
    const int reason = errno;
    const ssize_t ignored = write(failure, &reason, sizeof reason);
    (void)ignored;
    _exit(127);
}

void closeAll(std::initializer_list<int> fds)
{
    for (int fd : fds) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

// True when the child's exec went through: its end of `failure` closed
// without a word. A child whose exec failed is reaped here.
bool execSucceeded(pid_t pid, int failure)
{
    int reason = 0;
    ssize_t n;
    do {
        n = read(failure, &reason, sizeof reason);
    } while (n < 0 && errno == EINTR);
    if (n == 0) {
        return true;
    }
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return false;
}

// A worker with input from nothing and its output and errors on two new
// pipes, whose read ends (non-blocking) it leaves in readEnds; -1 when it
// could not be started.
pid_t forkWorker(std::vector<std::string> args, int readEnds[2])
{
    // Built before the fork: the child may only make async-signal-safe calls.
    std::vector<char *> pointers;
    for (std::string &arg : args) {
        pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    int failure[2] = {-1, -1};
    const int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const bool ready =
        nothing >= 0 && pipe2(out, O_CLOEXEC) == 0 && pipe2(err, O_CLOEXEC) == 0 && pipe2(failure, O_CLOEXEC) == 0;
    // Signals wait until the child has its default handlers back: one that
    // came in between would otherwise run the supervisor's handler there.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    sigprocmask(SIG_SETMASK, &all, &previous);
    pid_t pid = ready ? fork() : -1;
    if (pid == 0) {
        becomeWorker(pointers.data(), nothing, out[1], err[1], failure[1]);
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    closeAll({nothing, out[1], err[1], failure[1]});
    if (pid >= 0 && !execSucceeded(pid, failure[0])) {
        pid = -1;
    }
    closeAll({failure[0]});
    if (pid < 0) {
        closeAll({out[0], err[0]});
        return -1;
    }
    // Also here, so that the group exists before any signal is sent to it.
    setpgid(pid, pid);
    readEnds[0] = out[0];
    readEnds[1] = err[0];
    for (int fd : {out[0], err[0]}) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    return pid;
}

void closePipe(Worker &worker, int stream)
{
    if (worker.pipes[stream] >= 0) {
        close(worker.pipes[stream]);
        worker.pipes[stream] = -1;
    }
}

// Takes what one pipe holds now; false when nothing more was there.
bool readPipe(Worker &worker, int stream)
{
    char bytes[65536];
    const ssize_t n = read(worker.pipes[stream], bytes, sizeof bytes);
    if (n > 0) {
        WorkerOutput_Append(worker.id, stream, bytes, static_cast<size_t>(n));
        return true;
    }
    if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        closePipe(worker, stream);
    }
    return false;
}

// After its end: what is left in its pipes, then the pipes closed (a
// process it left behind may still hold them).
void drainAndClose(Worker &worker)
{
    for (int stream : {WORKER_STDOUT, WORKER_STDERR}) {
        while (worker.pipes[stream] >= 0 && readPipe(worker, stream)) {
        }
        closePipe(worker, stream);
    }
}

WorkerStatus statusOfWait(int status)
{
    if (WIFEXITED(status)) {
        return WorkerEnd_OfExit(static_cast<unsigned long>(WEXITSTATUS(status)));
    }
    return {WORKER_DIED, WIFSIGNALED(status) ? WTERMSIG(status) : 0};
}

void noteEnd(Worker &worker, WorkerStatus ended)
{
    worker.reaped = true;
    worker.ended = ended;
    drainAndClose(worker);
}

// Never blocks: a supervisor that waited on one worker could neither watch
// the others nor answer an interrupt.
bool reap(Worker &worker)
{
    if (worker.reaped) {
        return false;
    }
    int status = 0;
    pid_t done;
    do {
        done = waitpid(worker.pid, &status, WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done != worker.pid) {
        return false;
    }
    noteEnd(worker, statusOfWait(status));
    return true;
}

bool reapEnded(void)
{
    bool any = false;
    for (Worker &worker : g_workers) {
        any = reap(worker) || any;
    }
    return any;
}

// The worker and whatever it started in its process group.
void signalWorkers(const std::vector<Worker *> &workers, int signal)
{
    for (const Worker *worker : workers) {
        if (!worker->reaped) {
            kill(-worker->pid, signal);
            kill(worker->pid, signal);
        }
    }
}

// Reaps the workers as they end, until all have or the time is up.
void awaitEnds(const std::vector<Worker *> &workers, int64_t until)
{
    for (;;) {
        bool running = false;
        for (Worker *worker : workers) {
            reap(*worker);
            running = running || !worker->reaped;
        }
        if (!running || monotonicMs() >= until) {
            return;
        }
        usleep(10000);
    }
}

void endWorkers(const std::vector<Worker *> &workers, int graceMs)
{
    signalWorkers(workers, SIGTERM);
    awaitEnds(workers, monotonicMs() + graceMs);
    signalWorkers(workers, SIGKILL);
    awaitEnds(workers, monotonicMs() + KILLED_WAIT_MS);
    for (Worker *worker : workers) {
        if (!worker->reaped) {
            noteEnd(*worker, {WORKER_DIED, SIGKILL});
        }
    }
}

}  // namespace

std::string WorkerProcess_OwnPath(const char *argv0)
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return argv0 != nullptr ? argv0 : "";
    }
    return std::string(path, static_cast<size_t>(length));
}

int WorkerProcess_Start(const std::vector<std::string> &argv)
{
    if (argv.empty() || !openWakeupPipe()) {
        return -1;
    }
    allowDescriptorsForEveryPort();
    int readEnds[2] = {-1, -1};
    const pid_t pid = forkWorker(argv, readEnds);
    if (pid < 0) {
        return -1;
    }
    g_workers.push_back({pid, WorkerOutput_Open(), {readEnds[0], readEnds[1]}, false, {WORKER_RUNNING, 0}});
    return static_cast<int>(g_workers.size()) - 1;
}

bool WorkerProcess_Collect(int timeoutMs)
{
    std::vector<pollfd> fds = {{g_wakeup[0], POLLIN, 0}};
    std::vector<std::pair<Worker *, int>> owners = {{nullptr, 0}};
    for (Worker &worker : g_workers) {
        for (int stream : {WORKER_STDOUT, WORKER_STDERR}) {
            if (worker.pipes[stream] >= 0) {
                fds.push_back({worker.pipes[stream], POLLIN, 0});
                owners.emplace_back(&worker, stream);
            }
        }
    }
    bool happened = false;
    if (!g_interrupted && poll(fds.data(), fds.size(), timeoutMs) > 0) {
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            if (owners[i].first == nullptr) {
                drainWakeup();
            } else {
                happened = readPipe(*owners[i].first, owners[i].second) || happened;
            }
        }
    }
    happened = reapEnded() || happened;
    return happened || g_interrupted;
}

WorkerStatus WorkerProcess_Status(int worker)
{
    const Worker &w = g_workers[worker];
    return w.reaped ? w.ended : WorkerStatus{WORKER_RUNNING, 0};
}

std::string WorkerEnd_DescribeSystemDeath(int code)
{
    const char *name = strsignal(code);
    return "killed by signal " + std::to_string(code) + " (" + (name != nullptr ? name : "unknown") + ")";
}

void WorkerProcess_End(int worker, int graceMs)
{
    endWorkers({&g_workers[worker]}, graceMs);
}

void WorkerProcess_EndAll(int graceMs)
{
    std::vector<Worker *> all;
    for (Worker &worker : g_workers) {
        all.push_back(&worker);
    }
    endWorkers(all, graceMs);
}

void WorkerProcess_ReleaseAll(void)
{
    for (Worker &worker : g_workers) {
        closePipe(worker, WORKER_STDOUT);
        closePipe(worker, WORKER_STDERR);
    }
    g_workers.clear();
    WorkerOutput_Forget();
}

void WorkerProcess_CatchInterrupts(void)
{
    openWakeupPipe();
    // A closed standard output ends the board's lines, not the run.
    setHandler(SIGPIPE, SIG_IGN, 0);
    // No SA_RESTART: a blocking call returns at once and the loop looks at the flag.
    for (int signal : {SIGINT, SIGHUP}) {
        if (!isIgnored(signal)) {
            setHandler(signal, onInterrupt, 0);
        }
    }
    setHandler(SIGTERM, onInterrupt, 0);
}

bool WorkerProcess_Interrupted(void)
{
    return g_interrupted != 0;
}

void WorkerProcess_ClearInterrupt(void)
{
    g_interrupted = 0;
}
