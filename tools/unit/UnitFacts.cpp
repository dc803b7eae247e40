#include "unit/UnitFacts.h"

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

std::string firmwareText(const UnitFacts &unit)
{
    const VersionReply &v = unit.versions;
    return versionText(unit, FIRMWARE_VERSION_FORMAT, v.fw_ver, v.fw_rev, v.fw_sub);
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
    int version[3] = {};
    if (!versionsKnown(unit) ||
        sscanf(FIRMWARE_VERSION_TO_UPLOAD, "%d.%d.%d", &version[0], &version[1], &version[2]) != 3) {
        return false;
    }
    const VersionReply &v = unit.versions;
    return v.fw_ver == version[0] && v.fw_rev == version[1] && v.fw_sub == version[2];
}
