#include "unit/ScanResult.h"

#include "base/EscapedBytes.h"
#include "base/ProgramState.h"

namespace {

const char *const LINE = "%-6s %6s  %-7s  %-9s  %-13s  %-6s  %s\n";

// A unit's text as a terminal may show it: its control and non-ASCII bytes
// escaped.
std::string shown(const std::string &text)
{
    return text.empty() ? "-" : escapedBytes(text);
}

std::string portName(int port)
{
    return "COM" + std::to_string(port);
}

void printPort(FILE *out, const ScannedPort &found)
{
    if (found.busy) {
        const std::string why = found.holder ? heldByText(*found.holder) : "held by another program, or access denied";
        fprintf(out, "%-6s %6s  %s\n", portName(found.port).c_str(), "busy", why.c_str());
        return;
    }
    const char *status = found.firmware.empty() ? "unknown" : found.current ? "current" : "to update";
    fprintf(out, LINE, portName(found.port).c_str(), std::to_string(found.baud).c_str(), shown(found.product).c_str(),
            shown(found.firmware).c_str(), shown(found.fpga).c_str(),
            found.device ? std::to_string(*found.device).c_str() : "-", status);
}

void printFailure(FILE *out, const FailedScan &failed)
{
    fprintf(out, "%-6s %6s  %s\n", portName(failed.port).c_str(), outcomeWord(failed.result), failed.error.c_str());
}

}  // namespace

UnitReason failedScanReason(const FailedScan &failed)
{
    return failed.result == ToolOutcome::Interrupted ? UnitReason::Interrupted : UnitReason::WorkerDied;
}

ScannedPort scannedUnit(const UnitFacts &unit)
{
    ScannedPort found;
    found.port = unit.port;
    found.baud = unit.baud;
    found.product = productText(unit);
    found.firmware = firmwareText(unit);
    found.fpga = fpgaText(unit);
    found.device = deviceCode(unit);
    found.current = firmwareIsCurrent(unit);
    return found;
}

ScannedPort busyPort(int port, std::optional<PORT_HOLDER> holder)
{
    ScannedPort found;
    found.port = port;
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
        if (found.busy) {
            busy.push_back(found.port);
        }
    }
    return busy;
}

void printScanListing(FILE *out, const ScanResult &scan)
{
    const std::string embedded = "FIRMWARE " + embeddedFirmwareText();
    fprintf(out, LINE, "PORT", "BAUD", "PRODUCT", "FIRMWARE", "FPGA", "DEVICE", embedded.c_str());
    size_t failed = 0;
    for (const ScannedPort &found : scan.ports) {
        for (; failed < scan.failed.size() && scan.failed[failed].port < found.port; ++failed) {
            printFailure(out, scan.failed[failed]);
        }
        printPort(out, found);
    }
    for (; failed < scan.failed.size(); ++failed) {
        printFailure(out, scan.failed[failed]);
    }
}
