// scan: every port of a range probed as the updater's search probes it,
// without stopping at the first unit.
#include "commands/Commands.h"

#include "ToolOutcome.h"
#include "console/ToolConsole.h"
#include "unit/FindUnit.h"
#include "unit/UnitJson.h"

#include "base/ProgramState.h"
#include "base/ReadWindows.h"
#include "channel/PortDetection.h"
#include "serial/ComPortAPI.h"
#include "update/UpdateDriver.h"

#include <cstdio>

namespace {

// The unit on the open port: its versions and product, asked as the update
// asks; then the port is closed with the search's read windows back in place.
ScannedPort identifyOpenUnit(const PortTarget &port)
{
    UnitFacts unit = factsOfPort(port);
    unit.baud = gBaudRate;
    unit.versionFields = queryUnitVersions(&unit.versions);
    unit.product = queryUnitProduct();
    ComPortAPI_SetReadingTimeoutInMs(MAX_WAIT_READ);
    ComPortAPI_CloseCOM();
    return scannedUnit(unit);
}

}  // namespace

ScanResult scanPorts(const std::vector<PortTarget> &ports)
{
    ScanResult scan;
    // As the updater searches: without CTS flow control.
    ComPortAPI_SetHardwareFlowControl(FALSE);
    for (const PortTarget &port : ports) {
        const PortProbe found = probePort(port, 0);
        if (found == PORT_BUSY) {
            scan.ports.push_back(busyPort(port, lastOpenHolder()));
        } else if (found == PORT_UNIT_FOUND) {
            scan.ports.push_back(identifyOpenUnit(port));
        } else {
            scan.quiet.push_back(quietPort(port, found == PORT_ABSENT ? UnitReason::Absent : UnitReason::Silent));
        }
    }
    printScanListing(stdout, scan);
    return scan;
}

ScanResult scanPorts(int first, int last)
{
    return scanPorts(comPorts(first, last));
}

ToolOutcome runScan(int first, int last, bool json)
{
    return runScan(comPorts(first, last), json);
}

ToolOutcome runScan(const std::vector<PortTarget> &ports, bool json)
{
    if (!toolConsole_begin(json)) {
        fprintf(stderr, "ERROR: %s\n", toolConsole_whyNot().c_str());
        if (json) {
            toolConsole_printJson(scanJson(ScanResult{}, toolConsole_whyNot()));
        }
        return ToolOutcome::Failed;
    }
    const ScanResult scan = scanPorts(ports);
    toolConsole_end();
    if (json) {
        toolConsole_printJson(scanJson(scan));
    }
    return anyUnit(scan) ? ToolOutcome::Done : ToolOutcome::NoUnit;
}
