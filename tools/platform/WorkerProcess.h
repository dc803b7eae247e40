// Worker processes of the tool: each runs one command of the tool itself on
// one port, so that a unit's fault or crash stays in its own process. The
// supervisor starts them, collects their output without waiting on any one,
// ends them, and learns how each one ended. No worker outlives the tool: on
// Linux each asks to be killed when its parent goes, on Windows they all sit
// in a job that is killed when the tool's last handle to it closes.
#ifndef WORKERPROCESS_H_
#define WORKERPROCESS_H_

#include <string>
#include <vector>

#define WORKER_STDOUT 0
#define WORKER_STDERR 1
#define MAX_WORKERS 64

enum WorkerState {
    WORKER_RUNNING,
    WORKER_EXITED,  // ended by itself; code is its exit status
    WORKER_DIED,    // killed by a signal, or a crash; code is the signal or exception
};

struct WorkerStatus {
    WorkerState state;
    int code;
};

// The tool's own program file, for its workers' command lines; argv0 when the
// system cannot say.
std::string WorkerProcess_OwnPath(const char *argv0);

// Starts argv[0] with these arguments, input from nothing, output and errors
// on pipes. The worker's number, or -1 when it could not be started.
int WorkerProcess_Start(const std::vector<std::string> &argv);

// Waits up to timeoutMs for output from any worker, the end of one, or an
// interrupt; collects what every worker has sent. True when anything came.
bool WorkerProcess_Collect(int timeoutMs);

// What the worker sent on the stream (WORKER_STDOUT or WORKER_STDERR) since
// the last call.
std::string WorkerProcess_TakeOutput(int worker, int stream);

// Running until the process has ended and its pipes are drained.
WorkerStatus WorkerProcess_Status(int worker);

// How a worker that died ended, in words ("killed by signal 9 (Killed)").
std::string WorkerProcess_DescribeDeath(int code);

// Asks the worker to stop, kills it if it is still running after graceMs,
// and reaps it.
void WorkerProcess_End(int worker, int graceMs);

// Asks every running worker to stop, and kills those still running after
// graceMs; returns once all are reaped.
void WorkerProcess_EndAll(int graceMs);

// Forgets every worker (all must have ended), for the next run.
void WorkerProcess_ReleaseAll(void);

// From now on an interrupt (Ctrl-C, the terminal or console closing, a
// request to terminate) only raises a flag for the supervising loop.
void WorkerProcess_CatchInterrupts(void);
bool WorkerProcess_Interrupted(void);
// Lowers the flag (before a new run).
void WorkerProcess_ClearInterrupt(void);

#endif
