// scan: every port of a range probed as the updater's search probes it,
// without stopping at the first unit.
#include "commands/Commands.h"

#include "ToolOutcome.h"
#include "console/ToolConsole.h"
#include "unit/UnitJson.h"

#include "base/ProgramState.h"
#include "base/ReadWindows.h"
#include "channel/PortDetection.h"
#include "serial/ComPortAPI.h"
#include "update/UpdateDriver.h"

#include <charconv>
#include <cstdio>

namespace {

// The unit on the open port: its versions and product, asked as the update
// asks; then the port is closed with the search's read windows back in place.
ScannedPort identifyOpenUnit(void)
{
    UnitFacts unit;
    unit.port = gComPortNumber;
    unit.baud = gBaudRate;
    unit.versionFields = queryUnitVersions(&unit.versions);
    unit.product = queryUnitProduct();
    ComPortAPI_SetReadingTimeoutInMs(MAX_WAIT_READ);
    ComPortAPI_CloseCOM();
    return scannedUnit(unit);
}

}  // namespace

bool parsePortNumber(const std::string &text, int *port)
{
    // from_chars takes no blank, no "+" and no base prefix; a "-" gives a
    // number below the range.
    int value = 0;
    const char *end = text.data() + text.size();
    const std::from_chars_result read = std::from_chars(text.data(), end, value);
    if (read.ec != std::errc() || read.ptr != end || value < 1 || value > SCAN_HIGHEST_PORT) {
        return false;
    }
    *port = value;
    return true;
}

bool parsePortRange(const std::string &text, int *first, int *last)
{
    const size_t dash = text.find('-');
    if (dash == std::string::npos) {
        return parsePortNumber(text, first) && parsePortNumber(text, last);
    }
    return parsePortNumber(text.substr(0, dash), first) && parsePortNumber(text.substr(dash + 1), last) &&
           *first <= *last;
}

ScanResult scanPorts(int first, int last)
{
    ScanResult scan;
    // As the updater searches: without CTS flow control.
    ComPortAPI_SetHardwareFlowControl(FALSE);
    for (int port = first; port <= last; ++port) {
        const PortProbe found = probeComPort(port, 0);
        if (found == PORT_BUSY) {
            scan.ports.push_back(busyPort(port, lastOpenHolder()));
        } else if (found == PORT_UNIT_FOUND) {
            scan.ports.push_back(identifyOpenUnit());
        } else {
            scan.quiet.push_back({port, found == PORT_ABSENT ? UnitReason::Absent : UnitReason::Silent});
        }
    }
    printScanListing(stdout, scan);
    return scan;
}

ToolOutcome runScan(int first, int last, bool json)
{
    if (!toolConsole_begin(json)) {
        fprintf(stderr, "ERROR: %s\n", toolConsole_whyNot().c_str());
        if (json) {
            toolConsole_printJson(scanJson(ScanResult{}, toolConsole_whyNot()));
        }
        return ToolOutcome::Failed;
    }
    const ScanResult scan = scanPorts(first, last);
    toolConsole_end();
    if (json) {
        toolConsole_printJson(scanJson(scan));
    }
    return anyUnit(scan) ? ToolOutcome::Done : ToolOutcome::NoUnit;
}
