// Worker processes of the tool: each runs one command of the tool itself on
// one port, so that a unit's fault or crash stays in its own process. The
// supervisor starts them, collects their output without waiting on any one,
// ends them, and learns how each one ended. A worker outlives a supervisor
// that dies: it finishes its update and writes its verdict in its log, since
// a flash cut short can leave a unit that does not start. Only an interrupt
// (or the supervisor's own decision) ends a worker.
#ifndef WORKERPROCESS_H_
#define WORKERPROCESS_H_

#include <string>
#include <vector>

#define WORKER_STDOUT 0
#define WORKER_STDERR 1

enum WorkerState {
    WORKER_RUNNING,
    WORKER_EXITED,  // ended by itself; code is its exit status
    WORKER_DIED,    // killed by a signal, a crash or an abort; code is the signal, exception or abort status
};

struct WorkerStatus {
    WorkerState state;
    int code;
};

// The tool's own program file, for its workers' command lines; argv0 when the
// system cannot say.
std::string WorkerProcess_OwnPath(const char *argv0);

// Starts argv[0] with these arguments, input from nothing, output and errors
// on pipes. The worker's number, or -1 when it could not be started (the
// program cannot be run, or the system refuses another process). Arguments
// are UTF-8. The worker ignores SIGPIPE, and a hang-up when the supervisor
// ignores one.
int WorkerProcess_Start(const std::vector<std::string> &argv);

// Waits up to timeoutMs for output from any worker, the end of one, or an
// interrupt; collects what every worker has sent. True when anything came.
bool WorkerProcess_Collect(int timeoutMs);

// What the worker sent on the stream (WORKER_STDOUT or WORKER_STDERR) since
// the last call.
std::string WorkerProcess_TakeOutput(int worker, int stream);

// Running until the process has ended and its pipes are drained.
WorkerStatus WorkerProcess_Status(int worker);

// How a worker that died ended, in words ("killed by signal 9 (Killed)",
// "ended by abort").
std::string WorkerProcess_DescribeDeath(int code);

// Asks the worker to stop, kills it if it is still running after graceMs,
// and reaps it. A worker the system cannot take down within a few seconds
// more (stuck in a driver) is given up as killed, so that no wait is endless.
void WorkerProcess_End(int worker, int graceMs);

// WorkerProcess_End for every running worker at once.
void WorkerProcess_EndAll(int graceMs);

// Forgets every worker (all must have ended), for the next run.
void WorkerProcess_ReleaseAll(void);

// From now on an interrupt (Ctrl-C, the terminal or console closing, a
// request to terminate) only raises a flag for the supervising loop. A
// hang-up or Ctrl-C the supervisor was started ignoring (nohup, a background
// job) stays ignored, and a closed standard output no longer kills it.
void WorkerProcess_CatchInterrupts(void);
bool WorkerProcess_Interrupted(void);
// Lowers the flag (before a new run).
void WorkerProcess_ClearInterrupt(void);

// For a program that runs as a worker: from now on abort() or an uncaught
// exception ends it with the status its supervisor reads as a death (the C
// runtime of Windows exits 3 on abort, which would read as "unconfirmed").
void WorkerProcess_ReportAborts(void);

#endif
