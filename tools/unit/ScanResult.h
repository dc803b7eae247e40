// What a scan found, port by port: a unit with what the listing and the JSON
// show of it, or a port another program holds. The one-port scan fills it
// from the unit it asked, the scan side by side from its workers' JSON; the
// update of every unit starts from it.
#ifndef SCANRESULT_H_
#define SCANRESULT_H_

#include "ToolOutcome.h"
#include "unit/PortName.h"
#include "unit/UnitFacts.h"
#include "unit/UnitReason.h"

#include "platform/PortHolder.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

struct ScannedPort {
    int port = 0;                       // 0: a device reached by its path
    std::string path;                   // the device the port leads to; empty: not known
    bool busy = false;                  // held by another program, or access denied
    std::optional<PORT_HOLDER> holder;  // busy: the program that holds it, when the system named it
    int baud = 0;
    std::string product;        // "TX", "RX" or "unknown"
    std::string firmware;       // as the update prints it; empty when the version reply was not whole
    std::string fpga;           // likewise
    std::optional<int> device;  // the FPGA device code, when the version reply was whole
    bool current = false;       // the unit already runs the firmware the tool carries
};

// A port whose scan gave no answer: its scan worker crashed, overran its
// time, could not be started, or was ended by an interrupt. Whether it holds
// a unit is not known.
struct FailedScan {
    int port = 0;
    ToolOutcome result = ToolOutcome::Failed;  // or Interrupted
    std::string error;                         // why, in words
    std::string path;                          // the device the port leads to
    bool operator==(const FailedScan &) const = default;
};

// A port that gave no unit and is not busy: Absent or Silent.
struct QuietPort {
    int port = 0;      // 0: a device reached by its path
    std::string path;  // the device the port leads to; empty: not known
    UnitReason reason = UnitReason::Silent;
    bool operator==(const QuietPort &) const = default;
};

struct ScanResult {
    std::vector<ScannedPort> ports;  // in port order (portBefore)
    std::vector<FailedScan> failed;  // in port order
    std::vector<QuietPort> quiet;    // in port order (portBefore)
};

// A port whose scan failed: its worker was interrupted, or died.
UnitReason failedScanReason(const FailedScan &failed);
// A port that gave no unit, with the device it leads to.
QuietPort quietPort(const PortTarget &port, UnitReason reason);

ScannedPort scannedUnit(const UnitFacts &unit);
ScannedPort busyPort(const PortTarget &port, std::optional<PORT_HOLDER> holder = std::nullopt);
// The program that held the port the last open could not have, when the
// system named one.
std::optional<PORT_HOLDER> lastOpenHolder(void);
// "held by PID 1234 (cat)"; without the parentheses when the name is not known.
std::string heldByText(const PORT_HOLDER &holder);

bool anyUnit(const ScanResult &scan);
// The COM numbers of the busy ports; the paths of busy devices reached by
// path.
std::vector<int> busyPorts(const ScanResult &scan);
std::vector<std::string> busyDevices(const ScanResult &scan);

// The listing: a heading, then one aligned line per port, failed ones among
// them.
void printScanListing(FILE *out, const ScanResult &scan);

#endif
