#include "unit/UnitFacts.h"

#include "unit/PortName.h"

#include "base/ProgramState.h"
#include "update/UpdateDriver.h"

#include <cstdio>

namespace {

// A version as the update prints it; empty when the reply was not whole.
template <typename... Fields>
std::string versionText(const UnitFacts &unit, const char *format, Fields... fields)
{
    if (!versionsKnown(unit)) {
        return "";
    }
    char text[48];
    snprintf(text, sizeof text, format, fields...);
    return text;
}

}  // namespace

bool versionsKnown(const UnitFacts &unit)
{
    return unit.versionFields == 7;
}

std::string firmwareVersionText(int ver, int rev, int sub)
{
    char text[48];
    snprintf(text, sizeof text, FIRMWARE_VERSION_FORMAT, ver, rev, sub);
    return text;
}

std::string firmwareVersionText(const char *dotted)
{
    int version[3] = {};
    if (sscanf(dotted, "%d.%d.%d", &version[0], &version[1], &version[2]) != 3) {
        return dotted;
    }
    return firmwareVersionText(version[0], version[1], version[2]);
}

std::string embeddedFirmwareText(void)
{
    return firmwareVersionText(FIRMWARE_VERSION_TO_UPLOAD);
}

std::string firmwareText(const UnitFacts &unit)
{
    const VersionReply &v = unit.versions;
    return versionsKnown(unit) ? firmwareVersionText(v.fw_ver, v.fw_rev, v.fw_sub) : "";
}

std::string fpgaText(const UnitFacts &unit)
{
    const VersionReply &v = unit.versions;
    return versionText(unit, FPGA_VERSION_FORMAT, v.model, v.fpga_ver, v.fpga_rev);
}

std::optional<int> deviceCode(const UnitFacts &unit)
{
    return versionsKnown(unit) ? std::optional<int>(unit.versions.fpga_type) : std::nullopt;
}

const char *productText(const UnitFacts &unit)
{
    return unit.product == IMAGE_COUNT ? "unknown" : IMAGE_CATALOGUE[unit.product].variant;
}

bool firmwareIsCurrent(const UnitFacts &unit)
{
    return versionsKnown(unit) && firmwareText(unit) == embeddedFirmwareText();
}

std::string updateAdvice(const UpdateOutcome &outcome)
{
    const UnitFacts &unit = outcome.unit;
    const std::string port = unit.port != 0 ? portLabel(unit.port, "") : !unit.path.empty() ? unit.path : "a COM port";
    return adviceLine(outcome.reason, port, outcome.holder);
}

std::string verdictText(ToolOutcome result, UnitReason reason, UnitPhase phase)
{
    std::string verdict = std::string(resultWord(result)) + ", exit status " + std::to_string(exitStatus(result));
    if (reason != UnitReason::None) {
        verdict += std::string(", ") + reasonWord(reason);
        verdict += phase != UnitPhase::None ? std::string(" in ") + phaseWord(phase) : "";
    }
    return verdict;
}
