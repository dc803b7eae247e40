// update: the updater's own update of one unit, for scripts and production
// lines: no prompt, no key wait, an exit status that tells the outcome, an
// optional log and an optional JSON object.
#include "commands/Commands.h"

#include "ToolOutcome.h"
#include "console/ToolConsole.h"
#include "unit/FindUnit.h"
#include "unit/UnitJson.h"

#include "base/ProgramState.h"
#include "base/UpdateLog.h"
#include "firmware/BinImage.h"
#include "serial/ComPortAPI.h"
#include "update/StatusLabels.h"
#include "update/UpdateDriver.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// The tool, the time, and the images it carries, before any event.
void writeLogHeading(const std::string &commandLine)
{
    UpdateLog_Heading("OrvaneFwTool %s update log, firmware %s", ORVANE_TOOL_VERSION, FIRMWARE_VERSION_TO_UPLOAD);
    const time_t now = time(nullptr);
    char when[32] = "";
    strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", localtime(&now));
    UpdateLog_Heading("started %s", when);
    UpdateLog_Heading("command %s", commandLine.c_str());
    for (int index = 0; index < IMAGE_COUNT; ++index) {
        const ImageFigures figures = embeddedImageFigures(static_cast<ImageIndex>(index));
        UpdateLog_Heading("image %s (%s): text %d bytes, image %d bytes, checksum %u", AUTOGEN_FILES[index].filePath,
                          IMAGE_CATALOGUE[index].role, AUTOGEN_FILES[index].fileDataLength, figures.imageLength,
                          figures.checksum);
    }
}

// Why the update failed when the line stopped taking its bytes: the step and
// what the line took; "" for any other failure.
std::string stallReason(void)
{
    WriteStall stall{};
    const char *step = updateStalledIn();
    if (step == nullptr || !ComPortAPI_LastWriteStalled(&stall)) {
        return "";
    }
    const std::string window = std::to_string(stall.windowMs / 1000) + " s";
    const std::string taken = stall.taken == 0 ? "no byte taken for " + window
                                               : "only " + std::to_string(stall.taken) + " of " +
                                                     std::to_string(stall.asked) + " bytes taken in " + window;
    return std::string("stalled in ") + step + ": " + taken;
}

}  // namespace

UpdateOutcome performUpdate(int port, int baud)
{
    UpdateOutcome outcome;
    outcome.unit.port = port;
    printf("\n\rYou are about to upload the firmware version %s", FIRMWARE_VERSION_TO_UPLOAD);
    const std::string failure = findAndOpenUnit(port, baud);
    if (!failure.empty()) {
        printf("%s", errorLine(failure).c_str());
        outcome.result = ToolOutcome::NoUnit;
        return outcome;
    }
    outcome.unit.port = gComPortNumber;
    outcome.unit.baud = gBaudRate;
    ComPortAPI_SetHardwareFlowControl(TRUE);
    const BOOL updated = updateFirmware();
    ComPortAPI_CloseCOM();
    outcome.unit.versionFields = updateVersionsLearnt(&outcome.unit.versions);
    outcome.unit.product = updateProductLearnt();
    if (!updated) {
        printf(UPDATE_NOT_SUCCESSFUL_TEXT);
        outcome.result = ToolOutcome::Failed;
        outcome.reason = stallReason();
        if (!outcome.reason.empty()) {
            UpdateLog_Event("error", "%s", outcome.reason.c_str());
        }
    } else if (!updateWasConfirmed()) {
        printf("\n\rERROR: The unit took both images but did not confirm the update after its reboot.\r\n");
        outcome.result = ToolOutcome::Unconfirmed;
    } else {
        outcome.result = ToolOutcome::Confirmed;
    }
    return outcome;
}

ToolOutcome runUpdate(const UpdateOptions &options)
{
    const auto started = std::chrono::steady_clock::now();
    if (!options.log.empty()) {
        if (!UpdateLog_Open(options.log.c_str())) {
            fprintf(stderr, "ERROR: the log %s cannot be written: %s\n", options.log.c_str(), strerror(errno));
            return ToolOutcome::Usage;
        }
        writeLogHeading(options.commandLine);
    }
    if (!toolConsole_begin(options.json)) {
        perror("ERROR: the console cannot be captured for the log");
        UpdateLog_Close();
        return ToolOutcome::Failed;
    }
    UpdateOutcome outcome = performUpdate(options.port, options.baud);
    toolConsole_end();
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    outcome.log = options.log;
    UpdateLog_Event("verdict", "%s, exit status %d", outcomeWord(outcome.result), exitStatus(outcome.result));
    UpdateLog_Close();
    if (options.json) {
        printf("%s\n", updateJson(outcome).c_str());
    }
    return outcome.result;
}
