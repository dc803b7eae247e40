// diag: finds the unit, runs the two 512 KiB diagnostic routines, and ends
// with a verdict on what the unit answered afterwards.
#include "commands/Commands.h"

#include "ToolOutcome.h"
#include "console/ToolConsole.h"
#include "unit/FindUnit.h"

#include "base/EscapedBytes.h"
#include "base/ProgramState.h"
#include "channel/CommandChannel.h"
#include "channel/Diagnostics.h"
#include "channel/PortDetection.h"
#include "serial/ComPortAPI.h"

#include <cstdio>
#include <string>

namespace {

// Bytes of an unexpected reply the verdict shows.
constexpr size_t DIAG_REPLY_SHOWN = 80;

const char *const TOOK_BOTH = "the unit took the diagnostic command and its 512 KiB block";

// The routines read no reply: the unit is asked once more, as the search asks
// it, on the port and at the rate it answered before. Its reply, as it came;
// false when the port would not open again.
bool askAgain(const PortTarget &port, int baud, std::string *reply)
{
    ComPortAPI_SetBaudRate(baud);
    if (!(port.number != 0 ? ComPortAPI_OpenCOM(port.number) : ComPortAPI_OpenNamed(port.device.c_str()))) {
        return false;
    }
    if (writeCommandLine(PROBE_COMMAND, FALSE)) {
        *reply = collectResponse(PROBE_EXPECTED_RESPONSE, FALSE);
    }
    ComPortAPI_CloseCOM();
    return true;
}

// A unit still busy with the block answers something else than the probe's
// reply; only a silent one has stopped listening.
ToolOutcome verdictAfter(BOOL sent, const PortTarget &port, int baud)
{
    const std::string where = portLabel(port.number, port.device) + " at " + std::to_string(baud) + " baud";
    std::string reply;
    if (!sent) {
        printf("\r\nVerdict: the line on %s did not take the diagnostic command or its block.\r\n", where.c_str());
    } else if (!askAgain(port, baud, &reply)) {
        printf("\r\nVerdict: %s, but %s cannot be opened again.\r\n", TOOK_BOTH, where.c_str());
    } else if (reply == PROBE_EXPECTED_RESPONSE) {
        printf("\r\nVerdict: %s, and answers \"%s\" again on %s.\r\n", TOOK_BOTH, PROBE_COMMAND, where.c_str());
        return ToolOutcome::Done;
    } else if (!reply.empty()) {
        printf("\r\nVerdict: %s; asked \"%s\" on %s, it answered \"%s\"%s (%zu bytes), not the search's reply.\r\n",
               TOOK_BOTH, PROBE_COMMAND, where.c_str(), escapedBytes(reply, DIAG_REPLY_SHOWN).c_str(),
               reply.size() > DIAG_REPLY_SHOWN ? "..." : "", reply.size());
        return ToolOutcome::Done;
    } else {
        printf("\r\nVerdict: %s, but did not answer \"%s\" on %s afterwards: power-cycle it.\r\n", TOOK_BOTH,
               PROBE_COMMAND, where.c_str());
    }
    return ToolOutcome::Failed;
}

ToolOutcome diagnose(UnitChoice unit)
{
    if (!findUnitOrSayWhy(unit.port, unit.baud)) {
        return ToolOutcome::NoUnit;
    }
    // The search found it on a COM port, or it answered on the device named.
    const PortTarget port = gComPortNumber != 0 ? PortTarget(gComPortNumber) : unit.port;
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
