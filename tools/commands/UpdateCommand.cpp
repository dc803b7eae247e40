// update: the updater's own update of one unit, for scripts and production
// lines: no prompt, no key wait, an exit status that tells the outcome, an
// optional log and an optional JSON object.
#include "commands/Commands.h"

#include "ToolOutcome.h"
#include "commands/UpdateInterrupt.h"
#include "console/ToolConsole.h"
#include "unit/FindUnit.h"
#include "unit/FirmwareReadBack.h"
#include "unit/UnitJson.h"

#include "base/ErrorText.h"
#include "base/ProgramState.h"
#include "base/UpdateLog.h"
#include "channel/CommandChannel.h"
#include "firmware/BinImage.h"
#include "serial/ComPortAPI.h"
#include "update/StatusLabels.h"
#include "update/UpdateDriver.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

using Clock = std::chrono::steady_clock;

const char *const UNCONFIRMED_TEXT = "The unit took both images but did not confirm the update after its reboot";
const char *const INTERRUPTED_TEXT = "The update was interrupted before its end";

// The run in progress, for whichever ends it: the run itself, or the thread
// that sees an interrupt.
UpdateOptions g_options;
Clock::time_point g_started;
// The unit was found: an interrupt from here on stops the update itself.
std::atomic<bool> g_searched{false};

// The tool, the time, and the images it carries, before any event.
void writeLogHeading(const std::string &commandLine)
{
    UpdateLog_Heading("OrvaneFwTool %s update log, firmware %s", ORVANE_TOOL_VERSION, embeddedFirmwareText().c_str());
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

// With --skip-current: asks the unit its versions before anything else, and
// true when it already runs the firmware the tool carries.
bool runsEmbeddedFirmware(UnitFacts &unit)
{
    unit.versionFields = queryUnitVersions(&unit.versions);
    if (!firmwareIsCurrent(unit)) {
        return false;
    }
    printf("The unit already runs firmware %s: left alone.\r\n", firmwareText(unit).c_str());
    return true;
}

// An update that went wrong at one of its steps: the line stopped taking
// bytes, the port went away, the unit said nothing back, or it answered
// something else than the step needs.
void noteFailure(UpdateOutcome &outcome)
{
    outcome.result = ToolOutcome::Failed;
    outcome.phase = phaseOfStep(updateStepReached());
    outcome.error = stallReason();
    DWORD writeError = 0;
    if (!outcome.error.empty()) {
        outcome.reason = UnitReason::Stalled;
        UpdateLog_Event("error", "%s", outcome.error.c_str());
    } else if (ComPortAPI_LastWriteFailed(&writeError)) {
        outcome.reason = UnitReason::Lost;
        outcome.error =
            std::string("a write failed during the ") + updateStepReached() + ": " + ErrorText_Of(writeError);
    } else if (lastCollectedBytes() == 0) {
        outcome.reason = UnitReason::NoReply;
        outcome.error = std::string("the unit did not answer the ") + updateStepReached();
    } else {
        outcome.reason = UnitReason::Refused;
        outcome.error = std::string("the unit refused the ") + updateStepReached();
    }
}

// The update's end in a result: how its exchanges went, the closing text,
// and what the unit said when read back.
void judgeUpdate(UpdateOutcome &outcome, BOOL updated)
{
    if (!updated) {
        printf(UPDATE_NOT_SUCCESSFUL_TEXT);
        noteFailure(outcome);
    } else if (!updateWasConfirmed()) {
        printf("\n\rERROR: %s.\r\n", UNCONFIRMED_TEXT);
        outcome.result = ToolOutcome::Unconfirmed;
        outcome.reason = UnitReason::Unconfirmed;
        outcome.phase = UnitPhase::Reboot;
        outcome.error = UNCONFIRMED_TEXT;
    } else if (outcome.readBack == ReadBack::Other) {
        outcome.result = ToolOutcome::Failed;
        outcome.reason = UnitReason::Unconfirmed;
        outcome.phase = UnitPhase::ReadBack;
        outcome.error = otherFirmwareText(outcome.firmwareAfter);
        printf("%s", errorLine(outcome.error).c_str());
    } else {
        outcome.result = ToolOutcome::Confirmed;
    }
}

}  // namespace

UpdateOutcome performUpdate(const PortTarget &port, int baud, bool skipCurrent)
{
    UpdateOutcome outcome;
    outcome.unit = portNamed(port);
    g_searched = false;
    printf("\n\rYou are about to upload the firmware version %s", FIRMWARE_VERSION_TO_UPLOAD);
    const std::string failure = findAndOpenUnit(port, baud);
    if (!failure.empty()) {
        printf("%s", errorLine(failure).c_str());
        outcome.result = ToolOutcome::NoUnit;
        outcome.reason = searchFailure();
        outcome.phase = UnitPhase::Search;
        outcome.holder = searchFailureHolder();
        outcome.error = failure;
        return outcome;
    }
    g_searched = true;
    outcome.unit = factsOfPort(port);
    outcome.unit.baud = gBaudRate;
    ComPortAPI_SetHardwareFlowControl(TRUE);
    if (skipCurrent && runsEmbeddedFirmware(outcome.unit)) {
        ComPortAPI_CloseCOM();
        outcome.firmwareAfter = firmwareText(outcome.unit);
        outcome.result = ToolOutcome::Skipped;
        return outcome;
    }
    const BOOL updated = updateFirmware();
    outcome.unit.versionFields = updateVersionsLearnt(&outcome.unit.versions);
    outcome.unit.product = updateProductLearnt();
    if (updated && updateWasConfirmed()) {
        outcome.readBack = readBackFirmware(outcome.unit, &outcome.firmwareAfter);
    }
    ComPortAPI_CloseCOM();
    judgeUpdate(outcome, updated);
    return outcome;
}

namespace {

// The log's verdict, the console's word on a log that lost lines, and the
// JSON object: what every end of a run owes, the interrupted one included.
void endRun(UpdateOutcome &outcome)
{
    outcome.seconds = std::chrono::duration<double>(Clock::now() - g_started).count();
    outcome.log = UpdateLog_IsOpen() ? g_options.log : "";
    UpdateLog_LastEvent("verdict", verdictText(outcome.result, outcome.reason, outcome.phase));
    if (outcome.reason != UnitReason::None) {
        toolConsole_tell("Next step: " + updateAdvice(outcome) + ".\r\n");
    }
    if (UpdateLog_WriteError() != 0) {
        outcome.logError = strerror(UpdateLog_WriteError());
        toolConsole_tell(errorLine("the log " + g_options.log + " lost lines: " + outcome.logError));
    }
    if (g_options.json) {
        toolConsole_printJson(updateJson(outcome));
    }
}

// A run that ends before it reaches the unit.
ToolOutcome endEarly(ToolOutcome result, const std::string &why)
{
    fprintf(stderr, "ERROR: %s\n", why.c_str());
    UpdateOutcome outcome;
    outcome.unit = portNamed(g_options.port);
    outcome.unit.baud = g_options.baud;
    outcome.result = result;
    outcome.error = why;
    endRun(outcome);
    UpdateLog_Close();
    return result;
}

// Ends the process: the run goes no further than where it was.
void endInterrupted(void)
{
    toolConsole_tell(errorLine(INTERRUPTED_TEXT));
    UpdateOutcome outcome;
    outcome.unit = portNamed(g_options.port);
    outcome.unit.baud = g_options.baud;
    outcome.result = ToolOutcome::Interrupted;
    outcome.reason = UnitReason::Interrupted;
    outcome.phase = g_searched ? phaseOfStep(updateStepReached()) : UnitPhase::Search;
    outcome.error = INTERRUPTED_TEXT;
    endRun(outcome);
}

// Empty when the log is open (or none was asked for); otherwise why not.
std::string openLog(void)
{
    if (g_options.log.empty() || UpdateLog_Open(g_options.log.c_str())) {
        return "";
    }
    if (errno == EEXIST) {
        return "the log " + g_options.log + " exists already: an update log is always a new file";
    }
    return "the log " + g_options.log + " cannot be written: " + strerror(errno);
}

}  // namespace

ToolOutcome runUpdate(const UpdateOptions &options)
{
    g_options = options;
    g_started = Clock::now();
    const std::string refused = openLog();
    if (!refused.empty()) {
        return endEarly(ToolOutcome::Usage, refused);
    }
    writeLogHeading(options.commandLine);
    if (!toolConsole_begin(options.json)) {
        return endEarly(ToolOutcome::Failed, toolConsole_whyNot());
    }
    updateInterrupt_watch(endInterrupted);
    UpdateOutcome outcome = performUpdate(options.port, options.baud, options.skipCurrent);
    updateInterrupt_stopWatching();
    toolConsole_end();
    // What the unit answered, as the console showed it.
    if (outcome.reason == UnitReason::Refused && !toolConsole_lastFailedLine().empty()) {
        outcome.error += ": " + toolConsole_lastFailedLine();
    }
    endRun(outcome);
    UpdateLog_Close();
    return outcome.result;
}
