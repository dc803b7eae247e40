// diag: finds the unit and runs the two 512 KiB diagnostic routines.
#include "commands/Commands.h"

#include "unit/FindUnit.h"
#include "ToolOutcome.h"

#include "base/ProgramState.h"
#include "channel/Diagnostics.h"

int runDiagnostics(void)
{
    if (!findUnitOrSayWhy()) {
        return TOOL_EXIT_NO_UNIT;
    }
    const BOOL sent = DEBUG_send_512kb();
    DEBUG_send_512kb_2();
    dipsplayLastMessageToUserBeforeExit("\r\n");
    return sent ? TOOL_EXIT_CONFIRMED : TOOL_EXIT_FAILED;
}
