// What the tool learns of a unit, and the texts the scan and the update
// report it with.
#ifndef UNITFACTS_H_
#define UNITFACTS_H_

#include "ToolOutcome.h"
#include "unit/UnitReason.h"

#include "base/Catalogue.h"
#include "update/VersionReply.h"

#include <optional>
#include <string>

struct UnitFacts {
    int port = 0;           // 0: not known, or a device reached by its path
    std::string path;       // the device the port leads to; empty: not known
    int baud = 0;           // 0: not known
    int versionFields = 0;  // 7: the version reply was whole
    VersionReply versions;
    ImageIndex product = IMAGE_COUNT;  // the unit's FPGA image; IMAGE_COUNT: not identified
};

// A firmware version the one way the tool writes it, as the update's version
// check prints it: "1.00.05"; from numbers, or from a dotted text such as
// "1.0.5" (a text of another form is given back as it is).
std::string firmwareVersionText(int ver, int rev, int sub);
std::string firmwareVersionText(const char *dotted);
// The firmware the tool carries, written so.
std::string embeddedFirmwareText(void);

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

// What the unit said when asked its versions again after its closing text.
enum class ReadBack {
    NotAsked,  // the update did not end with the unit's closing text
    Embedded,  // the unit runs the firmware the tool carries
    Other,     // the unit runs another firmware: the update did not take
    NoAnswer,  // no version reply: the closing text stands
};

// One finished update command, for its JSON object.
struct UpdateOutcome {
    UnitFacts unit;
    ToolOutcome result = ToolOutcome::NoUnit;  // Confirmed, Failed, Unconfirmed or NoUnit
    double seconds = 0;
    std::string log;                       // the log file given, empty for none
    UnitReason reason = UnitReason::None;  // why it did not succeed
    UnitPhase phase = UnitPhase::None;     // where it ended, when it did not succeed
    std::string holder;                    // a busy port's holder, "PID 1234 picocom", when known
    std::string error;                     // why the update did not succeed; empty when it did
    std::string logError;                  // why the log lost lines; empty when it took them all
    ReadBack readBack = ReadBack::NotAsked;
    std::string firmwareAfter;  // what the unit reported when read back; empty when it was not
};

// The log's verdict: "failed, exit status 1, refused in fpga-upload".
std::string verdictText(ToolOutcome result, UnitReason reason, UnitPhase phase);
// What the technician does next after the outcome; empty when nothing.
std::string updateAdvice(const UpdateOutcome &outcome);

#endif
