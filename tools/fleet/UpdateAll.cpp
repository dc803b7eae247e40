#include "fleet/UpdateAll.h"

#include "fleet/ParallelScan.h"
#include "fleet/UnitBoard.h"
#include "fleet/UpdateAllReport.h"
#include "platform/BoardTerminal.h"
#include "platform/WorkerProcess.h"

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

std::string defaultLogDir(void)
{
    const std::time_t now = std::time(nullptr);
    char name[64];
    std::strftime(name, sizeof name, "logs/%Y-%m-%d_%H-%M-%S", std::localtime(&now));
    return name;
}

// A port whose scan failed stands among the units as failed: it may hold a
// unit that was not updated.
UnitRun failedScan(const FailedScan &failed)
{
    UnitRun unit;
    unit.found.port = failed.port;
    unit.result = failed.result;
    unit.reason = failed.reason;
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
        } else {
            // Not "comN.log": Windows takes a name that begins with a device
            // name and a dot for the device itself.
            unit.logPath = logDir + "/unit-com" + std::to_string(found.port) + ".log";
        }
        units.push_back(unit);
    }
    std::stable_sort(units.begin(), units.end(),
                     [](const UnitRun &a, const UnitRun &b) { return a.found.port < b.found.port; });
    return units;
}

// After an interrupted scan no update begins.
void noteScanInterrupted(std::vector<UnitRun> &units)
{
    for (UnitRun &unit : units) {
        if (unit.result == ToolOutcome::Running) {
            unit.result = ToolOutcome::Interrupted;
            unit.reason = "the scan was interrupted before its update began";
        }
    }
}

// A unit whose scan answered, as opposed to a port whose scan failed.
bool answered(const UnitRun &unit)
{
    return unit.reason.empty();
}

void startUpdateWorkers(std::vector<UnitRun> &units, const std::string &tool)
{
    for (UnitRun &unit : units) {
        if (unit.result != ToolOutcome::Running) {
            continue;
        }
        unit.worker = WorkerProcess_Start({tool, "update", "--port", std::to_string(unit.found.port), "--baud",
                                           std::to_string(unit.found.baud), "--log", unit.logPath, "--json"});
        if (unit.worker < 0) {
            unit.result = ToolOutcome::Failed;
            unit.reason = "update worker could not be started";
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
    }
}

bool makeLogDir(const std::string &logDir, FILE *console)
{
    std::error_code error;
    std::filesystem::create_directories(logDir, error);
    if (error) {
        fprintf(console, "ERROR: the log folder %s cannot be made: %s\n", logDir.c_str(), error.message().c_str());
        return false;
    }
    return true;
}

void failEveryUnit(std::vector<UnitRun> &units)
{
    for (UnitRun &unit : units) {
        if (unit.result == ToolOutcome::Running) {
            unit.result = ToolOutcome::Failed;
        }
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
    fprintf(console, "Scanning COM%d to COM%d ...\n", options.firstPort, options.lastPort);
    fflush(console);
    ScanOutcome scan = scanPortsSideBySide(options.firstPort, options.lastPort, tool);
    for (const FailedScan &failed : scan.found.failed) {
        fprintf(console, "COM%d: %s\n", failed.port, failed.reason.c_str());
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
    if (!makeLogDir(logDir, console)) {
        failEveryUnit(units);
        return ToolOutcome::Failed;
    }
    fprintf(console, "%zu unit(s) found, logs in %s\n",
            static_cast<size_t>(std::count_if(units.begin(), units.end(), answered)), logDir.c_str());
    completed = updateUnits(units, tool, console);
    return updateAllOutcome(units);
}

void printJsonReport(const std::vector<UnitRun> &units, const ScanOutcome &scan, ToolOutcome outcome, bool completed,
                     Clock::time_point start)
{
    nlohmann::ordered_json report = updateAllReport(units, busyPorts(scan.found), outcome, secondsSince(start));
    if (!completed) {
        report["interrupted"] = true;
    }
    // A log's last lines may hold any bytes; the report is written whole.
    printf("%s\n", report.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
    fflush(stdout);
}

}  // namespace

ToolOutcome runUpdateAll(const UpdateAllOptions &options)
{
    const Clock::time_point start = Clock::now();
    WorkerProcess_ClearInterrupt();
    WorkerProcess_CatchInterrupts();
    FILE *console = options.json ? stderr : stdout;
    const std::string tool = options.toolPath.empty() ? WorkerProcess_OwnPath(nullptr) : options.toolPath;
    const ScanOutcome scan = scanAndTell(options, tool, console);
    const std::string logDir = options.logDir.empty() ? defaultLogDir() : options.logDir;
    std::vector<UnitRun> units = unitsFound(scan, options, logDir);
    bool completed = !scan.interrupted;
    ToolOutcome outcome = ToolOutcome::Interrupted;
    if (scan.interrupted) {
        noteScanInterrupted(units);
    } else {
        outcome = updateFoundUnits(units, logDir, tool, console, completed);
    }
    UnitBoard_PrintSummary(console, units, outcome);
    if (options.json) {
        printJsonReport(units, scan, outcome, completed, start);
    }
    return outcome;
}
