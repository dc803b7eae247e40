#include "fleet/ParallelScan.h"

#include "console/ToolConsole.h"
#include "fleet/WorkerProgress.h"
#include "platform/WorkerProcess.h"
#include "unit/UnitJson.h"

#include "serial/ComPortAPI.h"

#include <chrono>

namespace {

// A one-port scan ends by itself within seconds; one that has not after
// this long is stopped and reported.
const std::chrono::seconds SCAN_WORKER_DEADLINE(120);
const int COLLECT_INTERVAL_MS = 250;
const int END_GRACE_MS = 1000;
const char *const INTERRUPTED_TEXT = "interrupted: every scan worker was ended";

struct ScanWorker {
    int port;
    int worker;
    std::string reply;
    std::string console;
};

// The updater's own quiet first look: a port that opens, or that another
// program holds, gets a worker; an absent one costs nothing.
bool portMayHoldUnit(int port)
{
    const HANDLE device = ComPortAPI_OpenDevice(port);
    if (device != INVALID_HANDLE_VALUE) {
        CloseHandle(device);
        return true;
    }
    const DWORD reason = GetLastError();
    return reason == ERROR_ACCESS_DENIED || reason == ERROR_SHARING_VIOLATION;
}

std::vector<ScanWorker> startScanWorkers(int firstPort, int lastPort, const std::string &toolPath, ScanOutcome &outcome)
{
    std::vector<ScanWorker> workers;
    for (int port = firstPort; port <= lastPort; ++port) {
        if (!portMayHoldUnit(port)) {
            continue;
        }
        const std::string range = std::to_string(port) + "-" + std::to_string(port);
        const int worker = WorkerProcess_Start({toolPath, "scan", "--ports", range, "--json"});
        if (worker < 0) {
            outcome.problems.push_back("COM" + std::to_string(port) + ": its scan worker could not be started");
            continue;
        }
        workers.push_back({port, worker, "", ""});
    }
    return workers;
}

bool anyRunning(const std::vector<ScanWorker> &workers)
{
    for (const ScanWorker &w : workers) {
        if (WorkerProcess_Status(w.worker).state == WORKER_RUNNING) {
            return true;
        }
    }
    return false;
}

void collectUntilAllEnded(std::vector<ScanWorker> &workers, ScanOutcome &outcome)
{
    const auto deadline = std::chrono::steady_clock::now() + SCAN_WORKER_DEADLINE;
    while (anyRunning(workers)) {
        WorkerProcess_Collect(COLLECT_INTERVAL_MS);
        for (ScanWorker &w : workers) {
            w.reply += WorkerProcess_TakeOutput(w.worker, WORKER_STDOUT);
            w.console += WorkerProcess_TakeOutput(w.worker, WORKER_STDERR);
        }
        outcome.interrupted = WorkerProcess_Interrupted();
        if (outcome.interrupted || std::chrono::steady_clock::now() >= deadline) {
            WorkerProcess_EndAll(END_GRACE_MS);
        }
    }
}

std::string whyNoAnswer(const ScanWorker &w)
{
    const WorkerStatus status = WorkerProcess_Status(w.worker);
    std::string why = status.state == WORKER_DIED
                          ? "its scan worker was " + WorkerProcess_DescribeDeath(status.code)
                          : "its scan worker gave no answer (exit status " + std::to_string(status.code) + ")";
    const std::vector<std::string> last = lastScreenLines(w.console, 1);
    return "COM" + std::to_string(w.port) + ": " + why + (last.empty() ? "" : ": " + last[0]);
}

}  // namespace

ScanOutcome scanPortsSideBySide(int firstPort, int lastPort, const std::string &toolPath)
{
    ScanOutcome outcome;
    std::vector<ScanWorker> workers = startScanWorkers(firstPort, lastPort, toolPath, outcome);
    collectUntilAllEnded(workers, outcome);
    for (const ScanWorker &w : workers) {
        if (!addScanJson(w.reply, outcome.found)) {
            outcome.problems.push_back(whyNoAnswer(w));
        }
    }
    WorkerProcess_ReleaseAll();
    return outcome;
}

ToolOutcome runParallelScan(const ParallelScanOptions &options)
{
    WorkerProcess_ClearInterrupt();
    WorkerProcess_CatchInterrupts();
    const std::string tool = options.toolPath.empty() ? WorkerProcess_OwnPath(nullptr) : options.toolPath;
    const ScanOutcome outcome = scanPortsSideBySide(options.firstPort, options.lastPort, tool);
    for (const std::string &problem : outcome.problems) {
        fprintf(stderr, "%s\n", problem.c_str());
    }
    // With --json the listing goes to standard error, as the console text does.
    FILE *listing = options.json ? stderr : stdout;
    printScanListing(listing, outcome.found);
    const bool found = anyUnit(outcome.found);
    if (!found) {
        fprintf(listing, "No unit answered on COM%d to COM%d.\n", options.firstPort, options.lastPort);
    }
    if (options.json) {
        toolConsole_printJson(outcome.interrupted ? scanJson(outcome.found, INTERRUPTED_TEXT, ToolOutcome::Interrupted)
                                                  : scanJson(outcome.found));
    }
    fflush(stdout);
    if (outcome.interrupted) {
        fputs("Interrupted: every scan worker was ended.\n", stderr);
        return ToolOutcome::Interrupted;
    }
    return found ? ToolOutcome::Done : ToolOutcome::NoUnit;
}
