// diag: finds the unit and runs the two 512 KiB diagnostic routines.
#include "commands/Commands.h"

#include "ToolOutcome.h"
#include "console/ToolConsole.h"
#include "unit/FindUnit.h"

#include "base/ProgramState.h"
#include "channel/Diagnostics.h"

#include <cstdio>

namespace {

ToolOutcome diagnose(void)
{
    if (!findUnitOrSayWhy()) {
        return ToolOutcome::NoUnit;
    }
    const BOOL sent = DEBUG_send_512kb();
    DEBUG_send_512kb_2();
    dipsplayLastMessageToUserBeforeExit("\r\n");
    return sent ? ToolOutcome::Done : ToolOutcome::Failed;
}

}  // namespace

ToolOutcome runDiagnostics(void)
{
    if (!toolConsole_begin(false)) {
        fprintf(stderr, "ERROR: %s\n", toolConsole_whyNot().c_str());
        return ToolOutcome::Failed;
    }
    const ToolOutcome outcome = diagnose();
    toolConsole_end();
    return outcome;
}
