// scan: every port of a range probed as the updater's search probes it,
// without stopping at the first unit.
#include "ToolCommands.h"

#include "ToolConsole.h"
#include "ToolExitCodes.h"
#include "ToolJson.h"

#include "base/ProgramState.h"
#include "base/ReadWindows.h"
#include "channel/PortDetection.h"
#include "serial/ComPortAPI.h"
#include "update/UpdateDriver.h"

#include <cstdio>
#include <cstdlib>

namespace {

const char *const TABLE_LINE = "%-6s %6s  %-7s  %-9s  %-13s  %-6s  %s\n";

void printHeading(void)
{
    printf(TABLE_LINE, "PORT", "BAUD", "PRODUCT", "FIRMWARE", "FPGA", "DEVICE", "FIRMWARE " FIRMWARE_VERSION_TO_UPLOAD);
}

void printUnit(const UnitFacts &unit)
{
    const std::string port = "COM" + std::to_string(unit.port);
    const std::string device = unit.versionFields == 7 ? std::to_string(unit.versions.fpga_type) : "-";
    const std::string firmware = firmwareText(unit), fpga = fpgaText(unit);
    const char *status = unit.versionFields != 7 ? "unknown" : firmwareIsCurrent(unit) ? "current" : "to update";
    printf(TABLE_LINE, port.c_str(), std::to_string(unit.baud).c_str(), productText(unit),
           firmware.empty() ? "-" : firmware.c_str(), fpga.empty() ? "-" : fpga.c_str(), device.c_str(), status);
}

void printBusy(int port)
{
    printf("%-6s %6s  held by another program, or access denied\n", ("COM" + std::to_string(port)).c_str(), "busy");
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
    printHeading();
    for (int port = first; port <= last; ++port) {
        const PortProbe found = probeComPort(port, 0);
        if (found == PORT_BUSY) {
            scan.busy.push_back(port);
            printBusy(port);
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
