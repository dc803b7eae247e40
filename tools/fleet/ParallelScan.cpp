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
    PortTarget port;
    int worker;  // -1: it could not be started
    std::string reply;
    std::string console;
    CutBy cut = NOT_CUT;
};

// The updater's own quiet first look: a port that opens, or that another
// program holds, gets a worker; an absent one costs nothing.
bool portMayHoldUnit(const PortTarget &port)
{
    const HANDLE device =
        port.number != 0 ? ComPortAPI_OpenDevice(port.number) : ComPortAPI_OpenNamedDevice(port.device.c_str());
    if (device != INVALID_HANDLE_VALUE) {
        CloseHandle(device);
        return true;
    }
    const DWORD reason = GetLastError();
    return reason == ERROR_ACCESS_DENIED || reason == ERROR_SHARING_VIOLATION;
}

std::vector<ScanWorker> startScanWorkers(const std::vector<PortTarget> &ports, const std::string &toolPath,
                                         ScanResult &found)
{
    std::vector<ScanWorker> workers;
    for (const PortTarget &port : ports) {
        if (!portMayHoldUnit(port)) {
            found.quiet.push_back(quietPort(port, UnitReason::Absent));
            continue;
        }
        const std::string name = portArgument(port.number, port.device);
        workers.push_back({port, WorkerProcess_Start({toolPath, "scan", "--port", name, "--json"}), "", ""});
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
    return {w.port.number, w.cut == CUT_BY_INTERRUPT ? ToolOutcome::Interrupted : ToolOutcome::Failed,
            last.empty() ? why : why + ": " + last[0], portPath(w.port)};
}

}  // namespace

ScanOutcome scanPortsSideBySide(int firstPort, int lastPort, const std::string &toolPath, std::chrono::seconds deadline)
{
    return scanPortsSideBySide(comPorts(firstPort, lastPort), toolPath, deadline);
}

std::string portsText(const std::vector<PortTarget> &ports)
{
    std::vector<int> numbers;
    for (const PortTarget &port : ports) {
        if (port.number != 0) {
            numbers.push_back(port.number);
        }
    }
    const size_t adapters = ports.size() - numbers.size();
    const std::string adapterText = std::to_string(adapters) + (adapters == 1 ? " adapter" : " adapters");
    if (numbers.empty()) {
        return adapterText;
    }
    const std::string range = "COM" + std::to_string(numbers.front()) + " to COM" + std::to_string(numbers.back());
    return adapters == 0 ? range : range + " and " + adapterText;
}

ScanOutcome scanPortsSideBySide(const std::vector<PortTarget> &ports, const std::string &toolPath,
                                std::chrono::seconds deadline)
{
    ScanOutcome outcome;
    std::vector<ScanWorker> workers = startScanWorkers(ports, toolPath, outcome.found);
    collectUntilAllEnded(workers, outcome, deadline);
    for (const ScanWorker &w : workers) {
        if (!addScanJson(w.reply, outcome.found)) {
            outcome.found.failed.push_back(failureOf(w, deadline));
        }
    }
    WorkerProcess_ReleaseAll();
    std::stable_sort(outcome.found.quiet.begin(), outcome.found.quiet.end(),
                     [](const QuietPort &a, const QuietPort &b) { return portBefore(a.port, a.path, b.port, b.path); });
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
        nlohmann::ordered_json entry = nlohmann::ordered_json::object();
        addPort(entry, failed.port, failed.path);
        entry["result"] = outcomeWord(failed.result);
        entry["reason"] = reasonWord(failedScanReason(failed));
        entry["phase"] = phaseWord(UnitPhase::Search);
        entry["error"] = failed.error;
        object["failed"].push_back(entry);
    }
    return jsonText(object);
}

ToolOutcome runParallelScan(const ParallelScanOptions &options)
{
    WorkerProcess_ClearInterrupt();
    WorkerProcess_CatchInterrupts();
    const std::string tool = options.toolPath.empty() ? WorkerProcess_OwnPath(nullptr) : options.toolPath;
    const std::vector<PortTarget> ports = portsSelected(options.ports);
    const ScanOutcome outcome = scanPortsSideBySide(ports, tool, options.deadline);
    // With --json the listing goes to standard error, as the console text does.
    FILE *listing = options.json ? stderr : stdout;
    printScanListing(listing, outcome.found);
    const bool found = anyUnit(outcome.found);
    if (!found) {
        fprintf(listing, "No unit answered on %s.\n", portsText(ports).c_str());
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
