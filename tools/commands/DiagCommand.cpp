// diag: finds the unit and runs the two 512 KiB diagnostic routines.
#include "commands/Commands.h"

#include "ToolOutcome.h"
#include "unit/FindUnit.h"

#include "base/ProgramState.h"
#include "channel/Diagnostics.h"

ToolOutcome runDiagnostics(void)
{
    if (!findUnitOrSayWhy()) {
        return ToolOutcome::NoUnit;
    }
    const BOOL sent = DEBUG_send_512kb();
    DEBUG_send_512kb_2();
    dipsplayLastMessageToUserBeforeExit("\r\n");
    return sent ? ToolOutcome::Done : ToolOutcome::Failed;
}
