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

#include <cstdio>
#include <cstdlib>

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

bool parsePort(const std::string &text, int *port)
{
    char *end = nullptr;
    const long value = strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 1 || value > SCAN_HIGHEST_PORT) {
        return false;
    }
    *port = static_cast<int>(value);
    return true;
}

}  // namespace

bool parsePortRange(const std::string &text, int *first, int *last)
{
    const size_t dash = text.find('-');
    if (dash == std::string::npos) {
        return parsePort(text, first) && parsePort(text, last);
    }
    return parsePort(text.substr(0, dash), first) && parsePort(text.substr(dash + 1), last) && *first <= *last;
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
        }
    }
    printScanListing(stdout, scan);
    return scan;
}

ToolOutcome runScan(int first, int last, bool json)
{
    if (!toolConsole_begin(json)) {
        perror("OrvaneFwTool: standard output");
        return ToolOutcome::Failed;
    }
    const ScanResult scan = scanPorts(first, last);
    toolConsole_end();
    if (json) {
        printf("%s\n", scanJson(scan).c_str());
    }
    return anyUnit(scan) ? ToolOutcome::Done : ToolOutcome::NoUnit;
}
