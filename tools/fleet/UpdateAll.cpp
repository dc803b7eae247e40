#include "fleet/UpdateAll.h"

#include "console/ToolConsole.h"
#include "fleet/BatchSummary.h"
#include "fleet/ParallelScan.h"
#include "fleet/UnitBoard.h"
#include "fleet/UpdateAllReport.h"
#include "platform/BoardTerminal.h"
#include "platform/WorkerProcess.h"
#include "unit/UnitJson.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>

namespace {

using Clock = std::chrono::steady_clock;

const int COLLECT_INTERVAL_MS = 200;
// The board is redrawn at most this often, and at once when a unit ends.
const std::chrono::milliseconds BOARD_INTERVAL(100);
// An update asked to stop has this long before it is killed.
const int END_GRACE_MS = 2000;
const size_t CONSOLE_TAIL_KEPT = 4096;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Where the runs keep their logs when no --log-dir is given.
const char *const DEFAULT_LOG_DIR = "logs";
// Runs started within the same second take suffixes up to this.
const int RUN_LOG_DIRS_A_SECOND = 100;

std::string runStamp(void)
{
    const std::time_t now = std::time(nullptr);
    char name[64];
    std::strftime(name, sizeof name, "%Y-%m-%d_%H-%M-%S", std::localtime(&now));
    return name;
}

// Empty when `base` is a folder (made if missing); otherwise why not.
std::string whyNotAFolder(const std::string &base)
{
    std::error_code made, ignored;
    std::filesystem::create_directories(base, made);
    if (std::filesystem::is_directory(base, ignored)) {
        return "";
    }
    return std::filesystem::exists(base, ignored) ? "it is not a folder" : made.message();
}

// The folder of this run's logs: a new one under `base`, named by the date
// and time (with a suffix when a run of the same second has one), so that a
// run never writes over an earlier one's logs. Made before the scan: a place
// that cannot take logs is told before any port is touched. Empty, with
// `why`, when it cannot be made.
std::string makeRunLogDir(const std::string &base, std::string &why)
{
    why = whyNotAFolder(base);
    const std::string stamped = base + "/" + runStamp();
    for (int n = 1; why.empty() && n <= RUN_LOG_DIRS_A_SECOND; ++n) {
        const std::string folder = n == 1 ? stamped : stamped + "-" + std::to_string(n);
        std::error_code error;
        if (std::filesystem::create_directory(folder, error)) {
            return folder;
        }
        why = error ? error.message() : "";
    }
    why = "the log folder " + base + " cannot be used: " + (why.empty() ? "too many runs this second" : why);
    return "";
}

// A unit's log: "unit-com5.log", or for a device reached by path its name
// ("unit-ttyUSB0.log"). Not "comN.log": Windows takes a name that begins
// with a device name and a dot for the device itself.
std::string logName(const ScannedPort &found)
{
    const std::string device = found.path.substr(found.path.find_last_of("/\\") + 1);
    return "unit-" + (found.port != 0 ? "com" + std::to_string(found.port) : device) + ".log";
}

// A run that updated no unit (none found, every one skipped, interrupted
// during the scan) leaves no folder; remove takes only an empty one.
void removeUnusedLogDir(const std::string &logDir, const std::vector<UnitRun> &units)
{
    for (const UnitRun &unit : units) {
        if (!unit.logPath.empty()) {
            return;
        }
    }
    std::error_code ignored;
    std::filesystem::remove(logDir, ignored);
}

// Units whose log lost lines (a full disk), below the summary.
void printLogErrors(FILE *console, const std::vector<UnitRun> &units)
{
    for (const UnitRun &unit : units) {
        const nlohmann::ordered_json report = unitReport(unit);
        if (report.contains("log_error") && report["log_error"].is_string()) {
            fprintf(console, "%s: the log %s lost lines: %s\n", portLabel(unit.found.port, unit.found.path).c_str(),
                    unit.logPath.c_str(), report["log_error"].get<std::string>().c_str());
        }
    }
}

// A port whose scan failed stands among the units as failed: it may hold a
// unit that was not updated.
UnitRun failedScan(const FailedScan &failed)
{
    UnitRun unit;
    unit.found.port = failed.port;
    unit.found.path = failed.path;
    unit.result = failed.result;
    unit.error = failed.error;
    unit.why = failedScanReason(failed);
    return unit;
}

// Every port the scan gave a worker, but the busy ones, in port order.
std::vector<UnitRun> unitsFound(const ScanOutcome &scan, const UpdateAllOptions &options, const std::string &logDir)
{
    std::vector<UnitRun> units;
    for (const FailedScan &failed : scan.found.failed) {
        units.push_back(failedScan(failed));
    }
    for (const ScannedPort &found : scan.found.ports) {
        if (found.busy) {
            continue;
        }
        UnitRun unit;
        unit.found = found;
        if (options.skipCurrent && found.current) {
            unit.result = ToolOutcome::Skipped;
            unit.progress.phase = PHASE_DONE;
            unit.firmwareAfter = found.firmware;
        } else {
            unit.logPath = logDir + "/" + logName(found);
        }
        units.push_back(unit);
    }
    std::stable_sort(units.begin(), units.end(), [](const UnitRun &a, const UnitRun &b) {
        return portBefore(a.found.port, a.found.path, b.found.port, b.found.path);
    });
    return units;
}

// After an interrupted scan no update begins.
void noteScanInterrupted(std::vector<UnitRun> &units)
{
    for (UnitRun &unit : units) {
        if (unit.result == ToolOutcome::Running) {
            unit.result = ToolOutcome::Interrupted;
            unit.error = "the scan was interrupted before its update began";
            unit.why = UnitReason::Interrupted;
        }
    }
}

// A unit whose scan answered, as opposed to a port whose scan failed.
bool answered(const UnitRun &unit)
{
    return unit.error.empty();
}

void startUpdateWorkers(std::vector<UnitRun> &units, const std::string &tool)
{
    for (UnitRun &unit : units) {
        if (unit.result != ToolOutcome::Running) {
            continue;
        }
        const std::string port = portArgument(unit.found.port, unit.found.path);
        unit.worker = WorkerProcess_Start({tool, "update", "--port", port, "--baud", std::to_string(unit.found.baud),
                                           "--log", unit.logPath, "--json", "--drawn-progress"});
        if (unit.worker < 0) {
            unit.result = ToolOutcome::Failed;
            unit.error = "update worker could not be started";
            unit.why = UnitReason::WorkerDied;
        }
    }
}

bool isRunning(const UnitRun &unit)
{
    return unit.worker >= 0 && unit.result == ToolOutcome::Running;
}

void takeOutput(UnitRun &unit)
{
    const std::string console = WorkerProcess_TakeOutput(unit.worker, WORKER_STDERR);
    readWorkerProgress(unit.progress, console);
    unit.consoleTail += console;
    if (unit.consoleTail.size() > 2 * CONSOLE_TAIL_KEPT) {
        unit.consoleTail.erase(0, unit.consoleTail.size() - CONSOLE_TAIL_KEPT);
    }
    unit.reply += WorkerProcess_TakeOutput(unit.worker, WORKER_STDOUT);
}

// Takes in what every worker sent; true when one of them has ended.
bool takeNews(std::vector<UnitRun> &units, Clock::time_point start)
{
    bool ended = false;
    for (UnitRun &unit : units) {
        if (!isRunning(unit)) {
            continue;
        }
        takeOutput(unit);
        unit.ended = WorkerProcess_Status(unit.worker);
        if (unit.ended.state != WORKER_RUNNING) {
            unit.seconds = secondsSince(start);
            concludeUnit(unit);
            ended = true;
        }
    }
    return ended;
}

bool anyRunning(const std::vector<UnitRun> &units)
{
    for (const UnitRun &unit : units) {
        if (isRunning(unit)) {
            return true;
        }
    }
    return false;
}

// Until every worker has ended; false when an interrupt came first.
bool followWorkers(std::vector<UnitRun> &units, Clock::time_point start)
{
    Clock::time_point shown = Clock::now();
    UnitBoard_Show(units);
    while (anyRunning(units)) {
        if (WorkerProcess_Interrupted()) {
            return false;
        }
        WorkerProcess_Collect(COLLECT_INTERVAL_MS);
        if (takeNews(units, start) || Clock::now() - shown >= BOARD_INTERVAL) {
            UnitBoard_Show(units);
            shown = Clock::now();
        }
    }
    return true;
}

// Every worker still running is ended, which closes its port; each such
// unit is reported in the phase it had reached.
void endEveryWorker(std::vector<UnitRun> &units, Clock::time_point start)
{
    WorkerProcess_EndAll(END_GRACE_MS);
    for (UnitRun &unit : units) {
        if (!isRunning(unit)) {
            continue;
        }
        takeOutput(unit);
        unit.ended = WorkerProcess_Status(unit.worker);
        unit.seconds = secondsSince(start);
        unit.result = ToolOutcome::Interrupted;
        unit.why = UnitReason::Interrupted;
        addMissingVerdict(unit);
    }
}

// The update of the units the scan found; false when interrupted.
bool updateUnits(std::vector<UnitRun> &units, const std::string &tool, FILE *console)
{
    const Clock::time_point start = Clock::now();
    startUpdateWorkers(units, tool);
    UnitBoard_Begin(console, BoardTerminal_CanRedraw(console));
    const bool finished = followWorkers(units, start);
    if (!finished) {
        endEveryWorker(units, start);
        UnitBoard_Show(units);
        fputs("Interrupted: every worker was ended and its port closed.\n", console);
    }
    WorkerProcess_ReleaseAll();
    return finished;
}

ScanOutcome scanAndTell(const UpdateAllOptions &options, const std::string &tool, FILE *console)
{
    const std::vector<PortTarget> ports = portsSelected(options.ports);
    fprintf(console, "Scanning %s ...\n", portsText(ports).c_str());
    fflush(console);
    ScanOutcome scan = scanPortsSideBySide(ports, tool);
    for (const FailedScan &failed : scan.found.failed) {
        fprintf(console, "%s: %s\n", portLabel(failed.port, failed.path).c_str(), failed.error.c_str());
    }
    if (scan.interrupted) {
        fputs("Interrupted during the scan: every scan worker was ended.\n", console);
    }
    return scan;
}

// The whole run's outcome; completed becomes false when an interrupt came
// first.
ToolOutcome updateFoundUnits(std::vector<UnitRun> &units, const std::string &logDir, const std::string &tool,
                             FILE *console, bool &completed)
{
    if (std::none_of(units.begin(), units.end(), answered)) {
        return updateAllOutcome(units);
    }
    fprintf(console, "%zu unit(s) found, logs in %s\n",
            static_cast<size_t>(std::count_if(units.begin(), units.end(), answered)), logDir.c_str());
    completed = updateUnits(units, tool, console);
    return updateAllOutcome(units);
}

nlohmann::ordered_json runReport(const std::vector<UnitRun> &units, const ScanOutcome &scan, ToolOutcome outcome,
                                 bool completed, Clock::time_point start, const std::string &error = "")
{
    nlohmann::ordered_json report = updateAllReport(units, busyPorts(scan.found), outcome, secondsSince(start));
    if (!completed) {
        report["interrupted"] = true;
    }
    addFailure(report, outcome, error);
    return report;
}

// A log's last lines may hold any bytes: jsonText writes the report whole.
void printJsonReport(const nlohmann::ordered_json &report)
{
    toolConsole_printJson(jsonText(report));
}

// The batch's record beside its logs, when the run kept a log folder.
void writeSummaryFiles(const std::string &logDir, const nlohmann::ordered_json &report, FILE *console)
{
    std::error_code ignored;
    if (!std::filesystem::is_directory(logDir, ignored)) {
        return;
    }
    const std::string why = writeBatchSummary(logDir, report);
    if (why.empty()) {
        fprintf(console, "Summary in %s/summary.json and %s/summary.csv\n", logDir.c_str(), logDir.c_str());
    } else {
        fprintf(console, "ERROR: the summary %s.\n", why.c_str());
    }
}

const char *whyInterrupted(const ScanOutcome &scan, bool completed)
{
    return scan.interrupted ? "interrupted during the scan" : !completed ? "interrupted during the update" : "";
}

// The run ends before the scan: where its logs would go cannot take them.
ToolOutcome refuseLogDir(const std::string &why, FILE *console, bool json, Clock::time_point start)
{
    fprintf(console, "ERROR: %s\n", why.c_str());
    if (json) {
        printJsonReport(runReport({}, ScanOutcome{}, ToolOutcome::Usage, true, start, why));
    }
    return ToolOutcome::Usage;
}

}  // namespace

ToolOutcome runUpdateAll(const UpdateAllOptions &options)
{
    const Clock::time_point start = Clock::now();
    WorkerProcess_ClearInterrupt();
    WorkerProcess_CatchInterrupts();
    FILE *console = options.json ? stderr : stdout;
    const std::string tool = options.toolPath.empty() ? WorkerProcess_OwnPath(nullptr) : options.toolPath;
    std::string why;
    const std::string logDir = makeRunLogDir(options.logDir.empty() ? DEFAULT_LOG_DIR : options.logDir, why);
    if (logDir.empty()) {
        return refuseLogDir(why, console, options.json, start);
    }
    const ScanOutcome scan = scanAndTell(options, tool, console);
    std::vector<UnitRun> units = unitsFound(scan, options, logDir);
    bool completed = !scan.interrupted;
    ToolOutcome outcome = ToolOutcome::Interrupted;
    if (scan.interrupted) {
        noteScanInterrupted(units);
    } else {
        outcome = updateFoundUnits(units, logDir, tool, console, completed);
    }
    // However the units ended, the run was cut short.
    outcome = completed ? outcome : ToolOutcome::Interrupted;
    UnitBoard_PrintSummary(console, units, outcome);
    printLogErrors(console, units);
    removeUnusedLogDir(logDir, units);
    const nlohmann::ordered_json report =
        runReport(units, scan, outcome, completed, start, whyInterrupted(scan, completed));
    writeSummaryFiles(logDir, report, console);
    if (options.json) {
        printJsonReport(report);
    }
    return outcome;
}
