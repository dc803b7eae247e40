#include "UnitFacts.h"

#include "base/ProgramState.h"
#include "update/UpdateDriver.h"

#include <cstdio>

std::string firmwareText(const UnitFacts &unit)
{
    if (unit.versionFields != 7) {
        return "";
    }
    char text[48];
    const VersionReply &v = unit.versions;
    snprintf(text, sizeof text, FIRMWARE_VERSION_FORMAT, v.fw_ver, v.fw_rev, v.fw_sub);
    return text;
}

std::string fpgaText(const UnitFacts &unit)
{
    if (unit.versionFields != 7) {
        return "";
    }
    char text[48];
    const VersionReply &v = unit.versions;
    snprintf(text, sizeof text, FPGA_VERSION_FORMAT, v.model, v.fpga_ver, v.fpga_rev);
    return text;
}

const char *productText(const UnitFacts &unit)
{
    return unit.product == IMAGE_COUNT ? "unknown" : IMAGE_CATALOGUE[unit.product].variant;
}

bool firmwareIsCurrent(const UnitFacts &unit)
{
    int version[3] = {};
    if (unit.versionFields != 7 ||
        sscanf(FIRMWARE_VERSION_TO_UPLOAD, "%d.%d.%d", &version[0], &version[1], &version[2]) != 3) {
        return false;
    }
    const VersionReply &v = unit.versions;
    return v.fw_ver == version[0] && v.fw_rev == version[1] && v.fw_sub == version[2];
}
