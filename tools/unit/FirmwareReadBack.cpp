#include "unit/FirmwareReadBack.h"

#include "base/UpdateLog.h"
#include "serial/ComPortAPI.h"
#include "update/UpdateDriver.h"

#include <cstdio>

namespace {

// The firmware of a version reply: its first three fields are enough.
#define FIRMWARE_FIELDS 3

// The firmware the unit reports; empty when it did not answer. A line that
// stopped taking bytes takes no more questions.
std::string askFirmware(void)
{
    for (int attempt = 0; attempt < READ_BACK_ATTEMPTS && !ComPortAPI_LastWriteStalled(nullptr); ++attempt) {
        VersionReply reply;
        if (queryUnitVersions(&reply) >= FIRMWARE_FIELDS) {
            return firmwareVersionText(reply.fw_ver, reply.fw_rev, reply.fw_sub);
        }
    }
    return "";
}

}  // namespace

ReadBack readBackFirmware(const UnitFacts &before, std::string *after)
{
    *after = askFirmware();
    const std::string was = versionsKnown(before) ? firmwareText(before) : "unknown";
    const std::string now = after->empty() ? "no answer" : *after;
    printf("Firmware before: %s, after: %s\r\n", was.c_str(), now.c_str());
    UpdateLog_Event("version", "firmware before %s, after %s", was.c_str(), now.c_str());
    if (after->empty()) {
        return ReadBack::NoAnswer;
    }
    return *after == embeddedFirmwareText() ? ReadBack::Embedded : ReadBack::Other;
}

std::string otherFirmwareText(const std::string &after)
{
    return "The unit reports firmware " + after + " after its reboot, not " + embeddedFirmwareText();
}
