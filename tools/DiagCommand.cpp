// diag: finds the unit and runs the two 512 KiB diagnostic routines.
#include "ToolCommands.h"

#include "FindUnit.h"
#include "ToolExitCodes.h"

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
