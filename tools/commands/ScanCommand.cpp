// scan: every port of a range probed as the updater's search probes it,
// without stopping at the first unit.
#include "commands/Commands.h"

#include "unit/ScanListing.h"
#include "console/ToolConsole.h"
#include "ToolOutcome.h"
#include "unit/UnitJson.h"

#include "base/ProgramState.h"
#include "base/ReadWindows.h"
#include "channel/PortDetection.h"
#include "serial/ComPortAPI.h"
#include "update/UpdateDriver.h"

#include <cstdio>
#include <cstdlib>

namespace {

void printUnit(const UnitFacts &unit)
{
    printScanUnit(stdout, unit.port, unit.baud, productText(unit), firmwareText(unit), fpgaText(unit),
                  unit.versionFields == 7 ? unit.versions.fpga_type : -1, firmwareIsCurrent(unit));
}

// The unit on the open port: its versions and product, asked as the update
// asks; then the port is closed with the search's read windows back in place.
UnitFacts identifyOpenUnit(void)
{
    UnitFacts unit;
    unit.port = gComPortNumber;
    unit.baud = gBaudRate;
    unit.versionFields = queryUnitVersions(&unit.versions);
    unit.product = queryUnitProduct();
    ComPortAPI_SetReadingTimeoutInMs(MAX_WAIT_READ);
    ComPortAPI_CloseCOM();
    return unit;
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
    printScanHeading(stdout);
    for (int port = first; port <= last; ++port) {
        const PortProbe found = probeComPort(port, 0);
        if (found == PORT_BUSY) {
            scan.busy.push_back(port);
            printScanBusy(stdout, port);
        } else if (found == PORT_UNIT_FOUND) {
            scan.units.push_back(identifyOpenUnit());
            printUnit(scan.units.back());
        }
    }
    return scan;
}

int runScan(int first, int last, bool json)
{
    if (!toolConsole_begin(json)) {
        perror("OrvaneFwTool: standard output");
        return TOOL_EXIT_FAILED;
    }
    const ScanResult scan = scanPorts(first, last);
    toolConsole_end();
    if (json) {
        printf("%s\n", scanJson(scan).c_str());
    }
    return scan.units.empty() ? TOOL_EXIT_NO_UNIT : TOOL_EXIT_CONFIRMED;
}
