#include "unit/FindUnit.h"

#include "unit/ScanResult.h"

#include "base/ErrorText.h"
#include "base/ProgramState.h"
#include "base/UpdateLog.h"
#include "channel/PortDetection.h"
#include "serial/ComPortAPI.h"
#include "update/StatusLabels.h"

#include <windows.h>

#include <cstdio>

std::string ratesTried(int baud)
{
    if (baud != 0) {
        return std::to_string(baud) + " baud";
    }
    std::string rates;
    for (int i = 0; i < SEARCH_BAUD_RATE_COUNT; ++i) {
        rates += std::to_string(SEARCH_BAUD_RATES[i]);
        rates += i + 2 < SEARCH_BAUD_RATE_COUNT ? ", " : i + 2 == SEARCH_BAUD_RATE_COUNT ? " or " : " baud";
    }
    return rates;
}

namespace {

// Why the last search found no unit, and who held its port.
UnitReason g_reason = UnitReason::None;
std::string g_holder;

std::string probeOnePort(const PortTarget &port, int baud)
{
    const PortProbe found = probePort(port, baud);
    const std::string name = portLabel(port.number, port.device);
    switch (found) {
    case PORT_UNIT_FOUND: return "";
    case PORT_ABSENT:
        g_reason = UnitReason::Absent;
        return name + " cannot be opened: it is absent (" + ErrorText_Of(GetLastError()) + ")";
    case PORT_BUSY:
        g_reason = UnitReason::Busy;
        if (const std::optional<PORT_HOLDER> holder = lastOpenHolder()) {
            g_holder = "PID " + std::to_string(holder->processId) + (holder->name[0] != '\0' ? " " : "") + holder->name;
            return name + " cannot be opened: it is " + heldByText(*holder);
        }
        return name + " cannot be opened: another program holds it, or access is denied (" +
               ErrorText_Of(GetLastError()) + ")";
    case PORT_NO_UNIT: break;
    }
    g_reason = UnitReason::Silent;
    return "No unit answered on " + name + " at " + ratesTried(baud);
}

}  // namespace

PortProbe probePort(const PortTarget &port, int baud)
{
    return port.number != 0 ? probeComPort(port.number, baud) : probeNamedPort(port.device.c_str(), baud);
}

UnitFacts portNamed(const PortTarget &port)
{
    UnitFacts unit;
    unit.port = port.number;
    unit.path = portPath(port);
    return unit;
}

UnitFacts factsOfPort(const PortTarget &asked)
{
    return portNamed(asked.device.empty() ? PortTarget(gComPortNumber) : asked);
}

std::string findAndOpenUnit(const PortTarget &port, int baud)
{
    printf("\n\r\n\r" DETECTING_PORT_LABEL);
    ComPortAPI_SetHardwareFlowControl(FALSE);
    std::string failure;
    g_reason = UnitReason::None;
    g_holder.clear();
    if (port != PortTarget()) {
        failure = probeOnePort(port, baud);
    } else if (!detectComPortAndBaudrate()) {
        g_reason = UnitReason::Silent;
        failure =
            "No unit answered on COM" + std::to_string(FIRST_COM_PORT) + " to COM" + std::to_string(LAST_COM_PORT);
    }
    if (!failure.empty()) {
        puts("FAILED\r");
        UpdateLog_Event("error", "%s", failure.c_str());
        return failure;
    }
    puts("OK\r");
    const UnitFacts found = factsOfPort(port);
    UpdateLog_Event("port", "%s leads to %s", portLabel(found.port, port.device).c_str(), found.path.c_str());
    printf(PORT_FOUND_TEXT "%s\r\nBaud rate       : %d \r\n\r\n",
           found.port != 0 ? std::to_string(found.port).c_str() : found.path.c_str(), gBaudRate);
    return "";
}

UnitReason searchFailure(void)
{
    return g_reason;
}

std::string searchFailureHolder(void)
{
    return g_holder;
}

std::string errorLine(const std::string &failure)
{
    return "\r\nERROR: " + failure + ".\r\n";
}

bool findUnitOrSayWhy(const PortTarget &port, int baud)
{
    const std::string failure = findAndOpenUnit(port, baud);
    if (!failure.empty()) {
        dipsplayLastMessageToUserBeforeExit(errorLine(failure).c_str());
        return false;
    }
    return true;
}
