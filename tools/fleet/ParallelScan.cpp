#include "fleet/ParallelScan.h"

#include "console/ToolConsole.h"
#include "fleet/WorkerProgress.h"
#include "platform/WorkerProcess.h"
#include "unit/UnitJson.h"

#include "serial/ComPortAPI.h"

namespace {

const int COLLECT_INTERVAL_MS = 250;
const int END_GRACE_MS = 1000;
const char *const INTERRUPTED_TEXT = "interrupted: every scan worker was ended";

// Why the supervisor ended a scan worker before it ended by itself.
enum CutBy { NOT_CUT, CUT_AT_DEADLINE, CUT_BY_INTERRUPT };

struct ScanWorker {
    int port;
    int worker;  // -1: it could not be started
    std::string reply;
    std::string console;
    CutBy cut = NOT_CUT;
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

std::vector<ScanWorker> startScanWorkers(int firstPort, int lastPort, const std::string &toolPath, ScanResult &found)
{
    std::vector<ScanWorker> workers;
    for (int port = firstPort; port <= lastPort; ++port) {
        if (!portMayHoldUnit(port)) {
            found.quiet.push_back({port, UnitReason::Absent});
            continue;
        }
        const std::string range = std::to_string(port) + "-" + std::to_string(port);
        workers.push_back({port, WorkerProcess_Start({toolPath, "scan", "--ports", range, "--json"}), "", ""});
    }
    return workers;
}

bool isRunning(const ScanWorker &w)
{
    return w.worker >= 0 && WorkerProcess_Status(w.worker).state == WORKER_RUNNING;
}

bool anyRunning(const std::vector<ScanWorker> &workers)
{
    for (const ScanWorker &w : workers) {
        if (isRunning(w)) {
            return true;
        }
    }
    return false;
}

void takeOutput(std::vector<ScanWorker> &workers)
{
    for (ScanWorker &w : workers) {
        if (w.worker >= 0) {
            w.reply += WorkerProcess_TakeOutput(w.worker, WORKER_STDOUT);
            w.console += WorkerProcess_TakeOutput(w.worker, WORKER_STDERR);
        }
    }
}

// Every worker still running is marked with why it is about to be ended.
void cutRunning(std::vector<ScanWorker> &workers, CutBy cut)
{
    for (ScanWorker &w : workers) {
        if (isRunning(w)) {
            w.cut = cut;
        }
    }
    WorkerProcess_EndAll(END_GRACE_MS);
}

void collectUntilAllEnded(std::vector<ScanWorker> &workers, ScanOutcome &outcome, std::chrono::seconds deadline)
{
    const auto cutAt = std::chrono::steady_clock::now() + deadline;
    while (anyRunning(workers)) {
        WorkerProcess_Collect(COLLECT_INTERVAL_MS);
        takeOutput(workers);
        outcome.interrupted = WorkerProcess_Interrupted();
        if (outcome.interrupted) {
            cutRunning(workers, CUT_BY_INTERRUPT);
        } else if (std::chrono::steady_clock::now() >= cutAt) {
            cutRunning(workers, CUT_AT_DEADLINE);
        }
    }
    takeOutput(workers);
}

std::string whyNoAnswer(const ScanWorker &w, std::chrono::seconds deadline)
{
    if (w.worker < 0) {
        return "scan worker could not be started";
    }
    if (w.cut == CUT_BY_INTERRUPT) {
        return "scan interrupted before its worker answered";
    }
    if (w.cut == CUT_AT_DEADLINE) {
        return "scan worker did not finish within " + std::to_string(deadline.count()) + " s";
    }
    const WorkerStatus status = WorkerProcess_Status(w.worker);
    return status.state == WORKER_DIED ? "scan worker " + WorkerProcess_DescribeDeath(status.code)
                                       : "scan worker gave no answer (exit status " + std::to_string(status.code) + ")";
}

// The failure of a worker that gave no answer, with the last line of its
// console text when it left one.
FailedScan failureOf(const ScanWorker &w, std::chrono::seconds deadline)
{
    const std::vector<std::string> last = lastScreenLines(w.console, 1);
    const std::string why = whyNoAnswer(w, deadline);
    return {w.port, w.cut == CUT_BY_INTERRUPT ? ToolOutcome::Interrupted : ToolOutcome::Failed,
            last.empty() ? why : why + ": " + last[0]};
}

}  // namespace

ScanOutcome scanPortsSideBySide(int firstPort, int lastPort, const std::string &toolPath, std::chrono::seconds deadline)
{
    ScanOutcome outcome;
    std::vector<ScanWorker> workers = startScanWorkers(firstPort, lastPort, toolPath, outcome.found);
    collectUntilAllEnded(workers, outcome, deadline);
    for (const ScanWorker &w : workers) {
        if (!addScanJson(w.reply, outcome.found)) {
            outcome.found.failed.push_back(failureOf(w, deadline));
        }
    }
    WorkerProcess_ReleaseAll();
    std::stable_sort(outcome.found.quiet.begin(), outcome.found.quiet.end(),
                     [](const QuietPort &a, const QuietPort &b) { return a.port < b.port; });
    return outcome;
}

std::string parallelScanJson(const ScanResult &scan, const std::string &error, ToolOutcome result)
{
    // Without a failure the object is the one-port scan's, as scripts know it.
    if (scan.failed.empty()) {
        return scanJson(scan, error, result);
    }
    nlohmann::ordered_json object = nlohmann::ordered_json::parse(scanJson(scan, error, result), nullptr, false);
    for (const FailedScan &failed : scan.failed) {
        object["failed"].push_back(
            {{"port", failed.port},
             {"result", outcomeWord(failed.result)},
             {"reason", reasonWord(failedScanReason(failed))},
             {"phase", phaseWord(UnitPhase::Search)},
             {"error", failed.error}});
    }
    return jsonText(object);
}

ToolOutcome runParallelScan(const ParallelScanOptions &options)
{
    WorkerProcess_ClearInterrupt();
    WorkerProcess_CatchInterrupts();
    const std::string tool = options.toolPath.empty() ? WorkerProcess_OwnPath(nullptr) : options.toolPath;
    const ScanOutcome outcome = scanPortsSideBySide(options.firstPort, options.lastPort, tool, options.deadline);
    // With --json the listing goes to standard error, as the console text does.
    FILE *listing = options.json ? stderr : stdout;
    printScanListing(listing, outcome.found);
    const bool found = anyUnit(outcome.found);
    if (!found) {
        fprintf(listing, "No unit answered on COM%d to COM%d.\n", options.firstPort, options.lastPort);
    }
    if (options.json) {
        toolConsole_printJson(outcome.interrupted
                                  ? parallelScanJson(outcome.found, INTERRUPTED_TEXT, ToolOutcome::Interrupted)
                                  : parallelScanJson(outcome.found));
    }
    fflush(stdout);
    if (outcome.interrupted) {
        fputs("Interrupted: every scan worker was ended.\n", stderr);
        return ToolOutcome::Interrupted;
    }
    if (!outcome.found.failed.empty()) {
        fprintf(stderr, "ERROR: the scan of %zu port(s) failed; whether they hold a unit is not known.\n",
                outcome.found.failed.size());
        return ToolOutcome::Failed;
    }
    return found ? ToolOutcome::Done : ToolOutcome::NoUnit;
}
