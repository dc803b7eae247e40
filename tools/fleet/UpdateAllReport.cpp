#include "fleet/UpdateAllReport.h"

#include "unit/UnitJson.h"

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

}  // namespace

bool isFailure(ToolOutcome result)
{
    return result != ToolOutcome::Confirmed && result != ToolOutcome::Unconfirmed && result != ToolOutcome::Skipped;
}

bool isTimed(const UnitRun &unit)
{
    return unit.result != ToolOutcome::Skipped && unit.reason.empty();
}

void concludeUnit(UnitRun &unit)
{
    if (unit.result != ToolOutcome::Running) {
        return;
    }
    if (unit.ended.state == WORKER_DIED) {
        unit.result = ToolOutcome::Failed;
        unit.death = WorkerProcess_DescribeDeath(unit.ended.code);
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
    nlohmann::ordered_json report = workerObject(unit.reply);
    if (report.is_null()) {
        report = nlohmann::ordered_json::object();
    }
    report["port"] = unit.found.port;
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
    if (!unit.reason.empty()) {
        report["reason"] = unit.reason;
    }
    if (isFailure(unit.result)) {
        report["phase"] = phaseName(unit.progress.phase);
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
    std::vector<std::string> lines = lastScreenLines(fileText(unit.logPath), LOG_LINES_SHOWN);
    return lines.empty() ? lastScreenLines(unit.consoleTail, LOG_LINES_SHOWN) : lines;
}
