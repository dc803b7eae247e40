#include "unit/ScanResult.h"

#include "base/EscapedBytes.h"
#include "base/ProgramState.h"

#include <algorithm>

namespace {

const char *const LINE = "%-6s %-*s %6s  %-7s  %-9s  %-13s  %-6s  %s\n";
const char *const SHORT_LINE = "%-6s %-*s %6s  %s\n";

// The path column is as wide as the longest path listed.
int g_pathWidth = 0;

// A unit's text as a terminal may show it: its control and non-ASCII bytes
// escaped.
std::string shown(const std::string &text)
{
    return text.empty() ? "-" : escapedBytes(text);
}

// A device reached by path shows it in the path column alone.
std::string portColumn(int port)
{
    return port != 0 ? portLabel(port, "") : "-";
}

void printPort(FILE *out, const ScannedPort &found)
{
    const std::string port = portColumn(found.port), path = shown(found.path);
    if (found.busy) {
        const std::string why = found.holder ? heldByText(*found.holder) : "held by another program, or access denied";
        fprintf(out, SHORT_LINE, port.c_str(), g_pathWidth, path.c_str(), "busy", why.c_str());
        return;
    }
    const char *status = found.firmware.empty() ? "unknown" : found.current ? "current" : "to update";
    fprintf(out, LINE, port.c_str(), g_pathWidth, path.c_str(), std::to_string(found.baud).c_str(),
            shown(found.product).c_str(), shown(found.firmware).c_str(), shown(found.fpga).c_str(),
            found.device ? std::to_string(*found.device).c_str() : "-", status);
}

void printFailure(FILE *out, const FailedScan &failed)
{
    fprintf(out, SHORT_LINE, portColumn(failed.port).c_str(), g_pathWidth, shown(failed.path).c_str(),
            outcomeWord(failed.result), failed.error.c_str());
}

int pathWidth(const ScanResult &scan)
{
    size_t width = PATH_COLUMN_WIDTH;
    for (const ScannedPort &found : scan.ports) {
        width = std::max(width, shown(found.path).size());
    }
    for (const FailedScan &failed : scan.failed) {
        width = std::max(width, shown(failed.path).size());
    }
    return static_cast<int>(width);
}

}  // namespace

UnitReason failedScanReason(const FailedScan &failed)
{
    return failed.result == ToolOutcome::Interrupted ? UnitReason::Interrupted : UnitReason::WorkerDied;
}

QuietPort quietPort(const PortTarget &port, UnitReason reason)
{
    QuietPort quiet;
    quiet.port = port.number;
    quiet.path = portPath(port);
    quiet.reason = reason;
    return quiet;
}

ScannedPort scannedUnit(const UnitFacts &unit)
{
    ScannedPort found;
    found.port = unit.port;
    found.path = unit.path;
    found.baud = unit.baud;
    found.product = productText(unit);
    found.firmware = firmwareText(unit);
    found.fpga = fpgaText(unit);
    found.device = deviceCode(unit);
    found.current = firmwareIsCurrent(unit);
    return found;
}

ScannedPort busyPort(const PortTarget &port, std::optional<PORT_HOLDER> holder)
{
    ScannedPort found;
    found.port = port.number;
    found.path = portPath(port);
    found.busy = true;
    found.holder = holder;
    return found;
}

std::optional<PORT_HOLDER> lastOpenHolder(void)
{
    PORT_HOLDER holder{};
    return PortHolder_OfLastOpen(&holder) ? std::optional<PORT_HOLDER>(holder) : std::nullopt;
}

std::string heldByText(const PORT_HOLDER &holder)
{
    const std::string name = holder.name[0] != '\0' ? std::string(" (") + holder.name + ")" : "";
    return "held by PID " + std::to_string(holder.processId) + name;
}

bool anyUnit(const ScanResult &scan)
{
    for (const ScannedPort &found : scan.ports) {
        if (!found.busy) {
            return true;
        }
    }
    return false;
}

std::vector<int> busyPorts(const ScanResult &scan)
{
    std::vector<int> busy;
    for (const ScannedPort &found : scan.ports) {
        if (found.busy && found.port != 0) {
            busy.push_back(found.port);
        }
    }
    return busy;
}

std::vector<std::string> busyDevices(const ScanResult &scan)
{
    std::vector<std::string> busy;
    for (const ScannedPort &found : scan.ports) {
        if (found.busy && found.port == 0) {
            busy.push_back(found.path);
        }
    }
    return busy;
}

void printScanListing(FILE *out, const ScanResult &scan)
{
    g_pathWidth = pathWidth(scan);
    const std::string embedded = "FIRMWARE " + embeddedFirmwareText();
    fprintf(out, LINE, "PORT", g_pathWidth, "PATH", "BAUD", "PRODUCT", "FIRMWARE", "FPGA", "DEVICE", embedded.c_str());
    size_t failed = 0;
    for (const ScannedPort &found : scan.ports) {
        for (; failed < scan.failed.size() &&
               portBefore(scan.failed[failed].port, scan.failed[failed].path, found.port, found.path);
             ++failed) {
            printFailure(out, scan.failed[failed]);
        }
        printPort(out, found);
    }
    for (; failed < scan.failed.size(); ++failed) {
        printFailure(out, scan.failed[failed]);
    }
}
