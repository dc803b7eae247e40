// web: the web firmware file in the current folder, and one line that says
// how it went; the routine's own notes only with -v.
#include "commands/Commands.h"

#include "console/ToolConsole.h"

#include "base/ProgramState.h"
#include "image/ImageFlattening.h"
#include "web/WebFirmware.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

// The routine, with its console text kept off the console (where the
// console cannot be captured, the text is only shown).
BOOL writeFile(void)
{
    const bool captured = toolConsole_begin(false, ConsoleText::Internal);
    const BOOL valid = createFirmwareFileForWeb();
    if (captured) {
        toolConsole_end();
    }
    if (!valid) {
        const char *why = flatteningFailure();
        fprintf(stderr, "ERROR: the embedded firmware text is not valid%s%s\n", why != nullptr ? ": " : "",
                why != nullptr ? why : "");
    }
    return valid;
}

}  // namespace

// A file that did not come out whole must not pass for one that did.
ToolOutcome runWebFile(void)
{
    if (!writeFile()) {
        return ToolOutcome::Failed;
    }
    const char *failure = webFirmwareFileFailure();
    if (failure != nullptr) {
        fprintf(stderr, "ERROR: %s was not written whole: %s\n", FIRMWARE_FILE_NAME_FOR_WEB, failure);
        return ToolOutcome::Failed;
    }
    std::error_code unknown;
    const auto size = std::filesystem::file_size(FIRMWARE_FILE_NAME_FOR_WEB, unknown);
    printf("%s: %llu bytes, image %d bytes, checksum %u\n", FIRMWARE_FILE_NAME_FOR_WEB,
           static_cast<unsigned long long>(size), gDataConcatenatedLenght, gDataConcatenatedCheckSum);
    return ToolOutcome::Done;
}
