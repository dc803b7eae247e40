// What the tool learns of a unit and how it reports it, in a table line or
// in JSON.
#ifndef UNITFACTS_H_
#define UNITFACTS_H_

#include "base/Catalogue.h"
#include "update/VersionReply.h"

#include <string>
#include <vector>

struct UnitFacts {
    int port = 0;                      // 0: not known
    int baud = 0;                      // 0: not known
    int versionFields = 0;             // 7: the version reply was whole
    VersionReply versions;
    ImageIndex product = IMAGE_COUNT;  // the unit's FPGA image; IMAGE_COUNT: not identified
};

// "1.00.04" and "SDI6G 1.04", as the update prints them; empty when the
// version reply was not whole.
std::string firmwareText(const UnitFacts &unit);
std::string fpgaText(const UnitFacts &unit);
// "TX", "RX", or "unknown".
const char *productText(const UnitFacts &unit);
// The unit's firmware already is the one the updater carries.
bool firmwareIsCurrent(const UnitFacts &unit);

struct ScanResult {
    std::vector<UnitFacts> units;
    std::vector<int> busy;  // present, but held by another program or access denied
};

// One finished update command, for its JSON object.
struct UpdateOutcome {
    UnitFacts unit;
    const char *result = "no-unit";  // "confirmed", "failed", "unconfirmed" or "no-unit"
    int exitStatus = 0;
    double seconds = 0;
    std::string log;  // the log file given, empty for none
};

#endif
