#include "unit/UnitJson.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

using Json = nlohmann::ordered_json;

Json numberOrNull(int value)
{
    return value != 0 ? Json(value) : Json(nullptr);
}

Json textOrNull(const std::string &text)
{
    return text.empty() ? Json(nullptr) : Json(text);
}

Json wordOrNull(const char *word)
{
    return word != nullptr ? Json(word) : Json(nullptr);
}

// Why a run did not succeed, where there is something to say.
void addText(Json &object, const char *field, const std::string &text)
{
    if (!text.empty()) {
        object[field] = text;
    }
}

// Versions and device code, as far as the version reply gave them.
void addVersions(Json &object, const ScannedPort &unit)
{
    object["firmware"] = textOrNull(unit.firmware);
    object["fpga"] = textOrNull(unit.fpga);
    object["device"] = unit.device ? Json(*unit.device) : Json(nullptr);
}

std::optional<int> numberIn(const Json &object, const char *field)
{
    return object.contains(field) && object[field].is_number_integer() ? std::optional<int>(object[field].get<int>())
                                                                       : std::nullopt;
}

std::string textIn(const Json &object, const char *field)
{
    return object.contains(field) && object[field].is_string() ? object[field].get<std::string>() : "";
}

// A unit's object as the scan writes it; what is missing stays unknown.
ScannedPort unitIn(const Json &object)
{
    ScannedPort unit;
    unit.port = numberIn(object, "port").value_or(0);
    unit.path = textIn(object, "path");
    unit.baud = numberIn(object, "baud").value_or(0);
    unit.product = textIn(object, "product");
    unit.firmware = textIn(object, "firmware");
    unit.fpga = textIn(object, "fpga");
    unit.device = numberIn(object, "device");
    unit.current = object.contains("current") && object["current"].is_boolean() && object["current"].get<bool>();
    return unit;
}

// {"port":6,"pid":1234,"program":"cat"} for each busy port whose holder is known.
Json holdersOf(const ScanResult &scan)
{
    Json holders = Json::array();
    for (const ScannedPort &found : scan.ports) {
        if (found.busy && found.holder) {
            Json held = Json::object();
            addPort(held, found.port, found.path);
            held["pid"] = found.holder->processId;
            held["program"] = textOrNull(found.holder->name);
            holders.push_back(held);
        }
    }
    return holders;
}

// The port a "busy" entry names: its COM number, or a device's path.
std::optional<ScannedPort> busyIn(const Json &entry)
{
    if (entry.is_number_integer()) {
        return busyPort(PortTarget(entry.get<int>()));
    }
    if (!entry.is_string()) {
        return std::nullopt;
    }
    ScannedPort busy = busyPort(deviceTarget(entry.get<std::string>()));
    busy.path = entry.get<std::string>();
    return busy;
}

// Whether a held_by object is the one of this busy port.
bool holds(const Json &held, const ScannedPort &busy)
{
    return busy.port != 0 ? numberIn(held, "port") == busy.port : textIn(held, "path") == busy.path;
}

// The holder a scan's JSON names for a busy port.
std::optional<PORT_HOLDER> holderIn(const Json &answer, const ScannedPort &busy)
{
    if (!answer.contains("held_by") || !answer["held_by"].is_array()) {
        return std::nullopt;
    }
    for (const Json &held : answer["held_by"]) {
        if (held.is_object() && holds(held, busy) && numberIn(held, "pid")) {
            PORT_HOLDER holder{};
            holder.processId = static_cast<DWORD>(*numberIn(held, "pid"));
            snprintf(holder.name, sizeof holder.name, "%s", textIn(held, "program").c_str());
            return holder;
        }
    }
    return std::nullopt;
}

// {"port":1,"path":"/dev/ttyS0","reason":"absent","phase":"search"} for
// every port that gave no unit, busy ones included, in port order.
Json portsWithoutUnit(const ScanResult &scan)
{
    std::vector<QuietPort> ports = scan.quiet;
    for (const ScannedPort &found : scan.ports) {
        if (found.busy) {
            ports.push_back({found.port, found.path, UnitReason::Busy});
        }
    }
    std::stable_sort(ports.begin(), ports.end(),
                     [](const QuietPort &a, const QuietPort &b) { return portBefore(a.port, a.path, b.port, b.path); });
    Json objects = Json::array();
    for (const QuietPort &port : ports) {
        Json object = Json::object();
        addPort(object, port.port, port.path);
        object["reason"] = reasonWord(port.reason);
        object["phase"] = phaseWord(UnitPhase::Search);
        objects.push_back(object);
    }
    return objects;
}

// The ports a scan's JSON names absent or silent: by COM number, or (port
// null) by path.
void addQuietPorts(const Json &answer, ScanResult &scan)
{
    if (!answer.contains("ports") || !answer["ports"].is_array()) {
        return;
    }
    for (const Json &port : answer["ports"]) {
        if (!port.is_object()) {
            continue;
        }
        const UnitReason reason = reasonOfWord(textIn(port, "reason"));
        const QuietPort quiet = {numberIn(port, "port").value_or(0), textIn(port, "path"), reason};
        const bool named = quiet.port != 0 || !quiet.path.empty();
        if (named && (reason == UnitReason::Absent || reason == UnitReason::Silent)) {
            scan.quiet.push_back(quiet);
        }
    }
}

}  // namespace

std::string jsonText(const Json &object)
{
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void addFailure(Json &object, ToolOutcome result, const std::string &error)
{
    if (!error.empty()) {
        object["result"] = resultWord(result);
        object["error"] = error;
    }
}

void addPort(Json &object, int port, const std::string &path)
{
    object["port"] = numberOrNull(port);
    object["path"] = textOrNull(path);
}

Json scannedUnitObject(const ScannedPort &unit)
{
    Json object = Json::object();
    addPort(object, unit.port, unit.path);
    object["baud"] = unit.baud;
    object["product"] = unit.product;
    addVersions(object, unit);
    object["current"] = unit.current;
    return object;
}

std::string scanJson(const ScanResult &scan, const std::string &error, ToolOutcome result)
{
    Json units = Json::array();
    for (const ScannedPort &found : scan.ports) {
        if (!found.busy) {
            units.push_back(scannedUnitObject(found));
        }
    }
    Json busy = busyPorts(scan);
    for (const std::string &path : busyDevices(scan)) {
        busy.push_back(path);
    }
    Json object = {{"units", units}, {"busy", busy}};
    const Json holders = holdersOf(scan);
    if (!holders.empty()) {
        object["held_by"] = holders;
    }
    object["ports"] = portsWithoutUnit(scan);
    addFailure(object, result, error);
    return jsonText(object);
}

bool addScanJson(const std::string &text, ScanResult &scan)
{
    const Json answer = Json::parse(text, nullptr, false);
    if (!answer.is_object() || !answer.contains("units") || !answer["units"].is_array()) {
        return false;
    }
    for (const Json &unit : answer["units"]) {
        scan.ports.push_back(unitIn(unit));
    }
    if (answer.contains("busy") && answer["busy"].is_array()) {
        for (const Json &entry : answer["busy"]) {
            if (std::optional<ScannedPort> busy = busyIn(entry)) {
                busy->holder = holderIn(answer, *busy);
                scan.ports.push_back(*busy);
            }
        }
    }
    addQuietPorts(answer, scan);
    std::stable_sort(scan.ports.begin(), scan.ports.end(), [](const ScannedPort &a, const ScannedPort &b) {
        return portBefore(a.port, a.path, b.port, b.path);
    });
    return true;
}

std::string updateJson(const UpdateOutcome &outcome)
{
    const UnitFacts &unit = outcome.unit;
    Json object = Json::object();
    addPort(object, unit.port, unit.path);
    object["baud"] = numberOrNull(unit.baud);
    object["result"] = resultWord(outcome.result);
    object["exit"] = exitStatus(outcome.result);
    object["seconds"] = std::round(outcome.seconds * 10) / 10;
    object["log"] = textOrNull(outcome.log);
    if (unit.product != IMAGE_COUNT) {
        object["product"] = productText(unit);
    }
    if (versionsKnown(unit)) {
        addVersions(object, scannedUnit(unit));
        object["firmware_before"] = firmwareText(unit);
        object["firmware_after"] = textOrNull(outcome.firmwareAfter);
    }
    object["reason"] = wordOrNull(reasonWord(outcome.reason));
    object["phase"] = wordOrNull(phaseWord(outcome.phase));
    addText(object, "error", outcome.error);
    addText(object, "advice", updateAdvice(outcome));
    addText(object, "log_error", outcome.logError);
    return jsonText(object);
}
