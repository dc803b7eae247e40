#include "fleet/UpdateAllReport.h"

#include "unit/UnitJson.h"

#include "base/UpdateLog.h"

#include <fstream>
#include <iterator>

namespace {

// A worker's standard output holds one JSON object; null when it does not.
nlohmann::ordered_json workerObject(const std::string &reply)
{
    nlohmann::ordered_json object = nlohmann::ordered_json::parse(reply, nullptr, false);
    return object.is_object() ? object : nlohmann::ordered_json();
}

double tenths(double seconds)
{
    return static_cast<double>(static_cast<long long>(seconds * 10 + 0.5)) / 10;
}

std::string fileText(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Ends the verdict the supervisor writes for a worker that could not.
const char *const SUPERVISOR_VERDICT_MARK = " (written by update --all: the worker ended without it)";

nlohmann::ordered_json wordOrNull(const char *word)
{
    return word != nullptr ? nlohmann::ordered_json(word) : nlohmann::ordered_json();
}

std::string wordIn(const nlohmann::ordered_json &object, const char *field)
{
    return object.contains(field) && object[field].is_string() ? object[field].get<std::string>() : "";
}

// The worker's own word on where it ended, or where its console text had
// got to when the supervisor had to end it.
UnitPhase phaseOf(const UnitRun &unit, const nlohmann::ordered_json &object)
{
    const UnitPhase told = phaseOfWord(wordIn(object, "phase"));
    if (told != UnitPhase::None) {
        return told;
    }
    if (!unit.error.empty()) {
        return UnitPhase::Search;
    }
    return reasonOf(unit, object) != UnitReason::None ? unitPhaseOf(unit.progress.phase) : UnitPhase::None;
}

}  // namespace

bool isFailure(ToolOutcome result)
{
    return result != ToolOutcome::Confirmed && result != ToolOutcome::Unconfirmed && result != ToolOutcome::Skipped;
}

UnitReason reasonOf(const UnitRun &unit, const nlohmann::ordered_json &object)
{
    if (unit.why != UnitReason::None) {
        return unit.why;
    }
    const UnitReason told = reasonOfWord(wordIn(object, "reason"));
    // A failed worker that left no object at all went without a word.
    return told == UnitReason::None && isFailure(unit.result) && object.is_null() ? UnitReason::WorkerDied : told;
}

std::string unitAdvice(const UnitRun &unit)
{
    const nlohmann::ordered_json object = workerObject(unit.reply);
    const std::string told = wordIn(object, "advice");
    return !told.empty() && unit.why == UnitReason::None
               ? told
               : adviceLine(reasonOf(unit, object), portLabel(unit.found.port, unit.found.path));
}

void addMissingVerdict(const UnitRun &unit)
{
    const std::string written = fileText(unit.logPath);
    if (unit.logPath.empty() || written.find("  verdict ") != std::string::npos) {
        return;
    }
    const nlohmann::ordered_json object = workerObject(unit.reply);
    std::ofstream log(unit.logPath, std::ios::binary | std::ios::app);
    // A worker ended in the middle of a line keeps it whole.
    log << (written.empty() || written.back() == '\n' ? "" : "\n")
        << UpdateLog_LineAt(static_cast<int64_t>(unit.seconds * 1000), "verdict",
                            verdictText(unit.result, reasonOf(unit, object), phaseOf(unit, object)) +
                                SUPERVISOR_VERDICT_MARK)
        << "\n";
}

bool isTimed(const UnitRun &unit)
{
    return unit.result != ToolOutcome::Skipped && unit.error.empty();
}

void concludeUnit(UnitRun &unit)
{
    if (unit.result != ToolOutcome::Running) {
        return;
    }
    if (unit.ended.state == WORKER_DIED) {
        unit.result = ToolOutcome::Failed;
        unit.why = UnitReason::WorkerDied;
        unit.death = WorkerProcess_DescribeDeath(unit.ended.code);
        addMissingVerdict(unit);
        return;
    }
    const nlohmann::ordered_json object = workerObject(unit.reply);
    if (object.contains("firmware_after") && object["firmware_after"].is_string()) {
        unit.firmwareAfter = object["firmware_after"].get<std::string>();
    }
    const bool named = object.contains("result") && object["result"].is_string();
    unit.result = named ? outcomeOfWord(object["result"].get<std::string>()) : outcomeOfExit(unit.ended.code);
    if (unit.result == ToolOutcome::Confirmed || unit.result == ToolOutcome::Unconfirmed) {
        unit.progress.phase = PHASE_DONE;
        unit.progress.percentage = 100;
    }
}

nlohmann::ordered_json unitReport(const UnitRun &unit)
{
    // Port and path first, whatever the worker's object holds; the rest as
    // the worker wrote it.
    nlohmann::ordered_json report = nlohmann::ordered_json::object();
    addPort(report, unit.found.port, unit.found.path);
    const nlohmann::ordered_json worker = workerObject(unit.reply);
    for (const auto &[key, value] : worker.items()) {
        if (!report.contains(key)) {
            report[key] = value;
        }
    }
    // A port whose scan failed: nothing is known of a unit there.
    report["baud"] = unit.found.baud != 0 ? nlohmann::ordered_json(unit.found.baud) : nlohmann::ordered_json();
    const nlohmann::ordered_json found = scannedUnitObject(unit.found);
    for (const char *key : {"product", "firmware", "fpga"}) {
        if (!report.contains(key) && unit.found.baud != 0) {
            report[key] = found[key];
        }
    }
    if (!report.contains("firmware_before") && unit.found.baud != 0) {
        report["firmware_before"] = found["firmware"];
        report["firmware_after"] =
            unit.firmwareAfter.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(unit.firmwareAfter);
    }
    report["result"] = outcomeWord(unit.result);
    if (unit.ended.state == WORKER_EXITED && !report.contains("exit")) {
        report["exit"] = unit.ended.code;
    }
    if (!report.contains("seconds") && isTimed(unit)) {
        report["seconds"] = tenths(unit.seconds);
    }
    if (!unit.logPath.empty()) {
        report["log"] = unit.logPath;
    }
    if (!unit.error.empty()) {
        report["error"] = unit.error;
    }
    const nlohmann::ordered_json object = workerObject(unit.reply);
    report["reason"] = wordOrNull(reasonWord(reasonOf(unit, object)));
    report["phase"] = wordOrNull(phaseWord(phaseOf(unit, object)));
    const std::string advice = unitAdvice(unit);
    if (!advice.empty()) {
        report["advice"] = advice;
    }
    if (!unit.death.empty()) {
        report["died"] = unit.death;
        report["log_tail"] = deathEvidence(unit);
    }
    return report;
}

nlohmann::ordered_json updateAllReport(const std::vector<UnitRun> &units, const std::vector<int> &busy,
                                       ToolOutcome outcome, double seconds)
{
    nlohmann::ordered_json all = nlohmann::ordered_json::object();
    all["units"] = nlohmann::ordered_json::array();
    for (const UnitRun &unit : units) {
        all["units"].push_back(unitReport(unit));
    }
    all["busy"] = busy;
    all["exit"] = exitStatus(outcome);
    all["seconds"] = tenths(seconds);
    return all;
}

ToolOutcome updateAllOutcome(const std::vector<UnitRun> &units)
{
    if (units.empty()) {
        return ToolOutcome::NoUnit;
    }
    bool unconfirmed = false;
    for (const UnitRun &unit : units) {
        if (isFailure(unit.result)) {
            return ToolOutcome::Failed;
        }
        unconfirmed = unconfirmed || unit.result == ToolOutcome::Unconfirmed;
    }
    return unconfirmed ? ToolOutcome::Unconfirmed : ToolOutcome::Confirmed;
}

std::vector<std::string> deathEvidence(const UnitRun &unit)
{
    // What the worker itself left, without the verdict written for it.
    std::string log = fileText(unit.logPath);
    const size_t mark = log.find(SUPERVISOR_VERDICT_MARK);
    if (mark != std::string::npos) {
        log.erase(log.rfind('\n', mark) == std::string::npos ? 0 : log.rfind('\n', mark) + 1);
    }
    std::vector<std::string> lines = lastScreenLines(log, LOG_LINES_SHOWN);
    return lines.empty() ? lastScreenLines(unit.consoleTail, LOG_LINES_SHOWN) : lines;
}
