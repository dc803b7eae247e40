#include "unit/UnitJson.h"

#include <nlohmann/json.hpp>

#include <cmath>

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

// Versions and device code, as far as the version reply gave them.
void addVersions(Json &object, const UnitFacts &unit)
{
    object["firmware"] = textOrNull(firmwareText(unit));
    object["fpga"] = textOrNull(fpgaText(unit));
    object["device"] = unit.versionFields == 7 ? Json(unit.versions.fpga_type) : Json(nullptr);
}

}  // namespace

std::string scanJson(const ScanResult &scan)
{
    Json units = Json::array();
    for (const UnitFacts &unit : scan.units) {
        Json entry = {{"port", unit.port}, {"baud", unit.baud}, {"product", productText(unit)}};
        addVersions(entry, unit);
        entry["current"] = firmwareIsCurrent(unit);
        units.push_back(entry);
    }
    return Json{{"units", units}, {"busy", scan.busy}}.dump();
}

std::string updateJson(const UpdateOutcome &outcome)
{
    const UnitFacts &unit = outcome.unit;
    Json object = {{"port", numberOrNull(unit.port)},
                   {"baud", numberOrNull(unit.baud)},
                   {"result", outcome.result},
                   {"exit", outcome.exitStatus},
                   {"seconds", std::round(outcome.seconds * 10) / 10},
                   {"log", textOrNull(outcome.log)}};
    if (unit.product != IMAGE_COUNT) {
        object["product"] = productText(unit);
    }
    if (unit.versionFields == 7) {
        addVersions(object, unit);
    }
    return object.dump();
}
