// web: the web firmware file in the current folder.
#include "commands/Commands.h"

#include "web/WebFirmware.h"

#include <cstdio>

// The file's own routine says what it can; a file that did not come out
// whole must not pass for one that did.
ToolOutcome runWebFile(void)
{
    if (!createFirmwareFileForWeb()) {
        return ToolOutcome::Failed;
    }
    const char *failure = webFirmwareFileFailure();
    if (failure != nullptr) {
        // Ends the routine's last line on the console first.
        putchar('\n');
        fprintf(stderr, "ERROR: %s was not written whole: %s\n", FIRMWARE_FILE_NAME_FOR_WEB, failure);
        return ToolOutcome::Failed;
    }
    return ToolOutcome::Done;
}
