// What the tool learns of a unit, and the texts the scan and the update
// report it with.
#ifndef UNITFACTS_H_
#define UNITFACTS_H_

#include "ToolOutcome.h"

#include "base/Catalogue.h"
#include "update/VersionReply.h"

#include <optional>
#include <string>

struct UnitFacts {
    int port = 0;           // 0: not known
    int baud = 0;           // 0: not known
    int versionFields = 0;  // 7: the version reply was whole
    VersionReply versions;
    ImageIndex product = IMAGE_COUNT;  // the unit's FPGA image; IMAGE_COUNT: not identified
};

// The version reply was whole: the versions and the device code are known.
bool versionsKnown(const UnitFacts &unit);
// "1.00.04" and "SDI6G 1.04", as the update prints them; empty when the
// version reply was not whole.
std::string firmwareText(const UnitFacts &unit);
std::string fpgaText(const UnitFacts &unit);
// The FPGA device code, when the version reply was whole.
std::optional<int> deviceCode(const UnitFacts &unit);
// "TX", "RX", or "unknown".
const char *productText(const UnitFacts &unit);
// The unit's firmware already is the one the updater carries.
bool firmwareIsCurrent(const UnitFacts &unit);

// One finished update command, for its JSON object.
struct UpdateOutcome {
    UnitFacts unit;
    ToolOutcome result = ToolOutcome::NoUnit;  // Confirmed, Failed, Unconfirmed or NoUnit
    double seconds = 0;
    std::string log;       // the log file given, empty for none
    std::string reason;    // for some failures, why: "stalled in FPGA upload: no byte taken for 60 s"
    std::string error;     // why the update did not succeed; empty when it did
    std::string logError;  // why the log lost lines; empty when it took them all
};

#endif
