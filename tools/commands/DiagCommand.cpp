// diag: finds the unit, runs the two 512 KiB diagnostic routines, and ends
// with a verdict on what the unit answered afterwards.
#include "commands/Commands.h"

#include "ToolOutcome.h"
#include "console/ToolConsole.h"
#include "unit/FindUnit.h"

#include "base/ProgramState.h"
#include "channel/Diagnostics.h"
#include "channel/PortDetection.h"
#include "serial/ComPortAPI.h"

#include <cstdio>
#include <string>

namespace {

const char *const TOOK_BOTH = "the unit took the diagnostic command and its 512 KiB block";

// The routines never read a reply: the unit is asked again, as the search
// asks it, on the port and at the rate it answered before.
ToolOutcome verdictAfter(BOOL sent, int port, int baud)
{
    const std::string where = "COM" + std::to_string(port) + " at " + std::to_string(baud) + " baud";
    if (!sent) {
        printf("\r\nVerdict: the line on %s did not take the diagnostic command or its block.\r\n", where.c_str());
        return ToolOutcome::Failed;
    }
    if (probeComPort(port, baud) == PORT_UNIT_FOUND) {
        ComPortAPI_CloseCOM();
        printf("\r\nVerdict: %s, and answers \"%s\" again on %s.\r\n", TOOK_BOTH, PROBE_COMMAND, where.c_str());
        return ToolOutcome::Done;
    }
    printf("\r\nVerdict: %s, but no longer answers \"%s\" on %s: power-cycle it.\r\n", TOOK_BOTH, PROBE_COMMAND,
           where.c_str());
    return ToolOutcome::Failed;
}

ToolOutcome diagnose(UnitChoice unit)
{
    if (!findUnitOrSayWhy(unit.port, unit.baud)) {
        return ToolOutcome::NoUnit;
    }
    const int port = gComPortNumber;
    const int baud = gBaudRate;
    const BOOL sent = DEBUG_send_512kb();
    DEBUG_send_512kb_2();
    return verdictAfter(sent, port, baud);
}

}  // namespace

ToolOutcome runDiagnostics(UnitChoice unit)
{
    if (!toolConsole_begin(false)) {
        fprintf(stderr, "ERROR: %s\n", toolConsole_whyNot().c_str());
        return ToolOutcome::Failed;
    }
    const ToolOutcome outcome = diagnose(unit);
    toolConsole_end();
    return outcome;
}
