#include "fleet/UpdateAllReport.h"

#include <fstream>
#include <iterator>

namespace {

// A worker's standard output holds one JSON object; null when it does not.
nlohmann::ordered_json workerObject(const std::string &reply)
{
    nlohmann::ordered_json object = nlohmann::ordered_json::parse(reply, nullptr, false);
    return object.is_object() ? object : nlohmann::ordered_json();
}

const char *resultOfExit(int code)
{
    switch (code) {
    case 0: return RESULT_CONFIRMED;
    case 3: return RESULT_UNCONFIRMED;
    case 4: return RESULT_NO_UNIT;
    default: return RESULT_FAILED;
    }
}

// Anything but these (a result the supervisor does not know included) is a
// failure.
bool isFailure(const std::string &result)
{
    return result != RESULT_CONFIRMED && result != RESULT_UNCONFIRMED && result != RESULT_SKIPPED;
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

void concludeUnit(UnitRun &unit)
{
    if (unit.result != RESULT_RUNNING) {
        return;
    }
    if (unit.ended.state == WORKER_DIED) {
        unit.result = RESULT_FAILED;
        unit.death = WorkerProcess_DescribeDeath(unit.ended.code);
        return;
    }
    const nlohmann::ordered_json object = workerObject(unit.reply);
    const bool named = object.contains("result") && object["result"].is_string();
    unit.result = named ? object["result"].get<std::string>() : resultOfExit(unit.ended.code);
    if (unit.result == RESULT_CONFIRMED || unit.result == RESULT_UNCONFIRMED) {
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
    report["port"] = unit.port;
    report["baud"] = unit.baud;
    for (const char *key : {"product", "firmware", "fpga"}) {
        if (!report.contains(key) && unit.found.contains(key)) {
            report[key] = unit.found[key];
        }
    }
    report["result"] = unit.result;
    if (unit.ended.state == WORKER_EXITED && !report.contains("exit")) {
        report["exit"] = unit.ended.code;
    }
    if (!report.contains("seconds") && unit.result != RESULT_SKIPPED) {
        report["seconds"] = tenths(unit.seconds);
    }
    if (!unit.logPath.empty()) {
        report["log"] = unit.logPath;
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

nlohmann::ordered_json updateAllReport(const std::vector<UnitRun> &units, const std::vector<int> &busy, int exitCode,
                               double seconds)
{
    nlohmann::ordered_json all = nlohmann::ordered_json::object();
    all["units"] = nlohmann::ordered_json::array();
    for (const UnitRun &unit : units) {
        all["units"].push_back(unitReport(unit));
    }
    all["busy"] = busy;
    all["exit"] = exitCode;
    all["seconds"] = tenths(seconds);
    return all;
}

int updateAllExitCode(const std::vector<UnitRun> &units)
{
    if (units.empty()) {
        return 4;
    }
    bool unconfirmed = false;
    for (const UnitRun &unit : units) {
        if (isFailure(unit.result)) {
            return 1;
        }
        unconfirmed = unconfirmed || unit.result == RESULT_UNCONFIRMED;
    }
    return unconfirmed ? 3 : 0;
}

std::vector<std::string> deathEvidence(const UnitRun &unit)
{
    std::vector<std::string> lines = lastScreenLines(fileText(unit.logPath), LOG_LINES_SHOWN);
    return lines.empty() ? lastScreenLines(unit.consoleTail, LOG_LINES_SHOWN) : lines;
}
