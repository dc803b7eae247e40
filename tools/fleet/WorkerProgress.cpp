#include "fleet/WorkerProgress.h"

#include "console/StatusLines.h"
#include "update/StatusLabels.h"

#include <sstream>

namespace {

struct PhaseMark {
    std::string_view text;
    UpdatePhase phase;
    bool percentagesFollow;
};

// The texts that mark a step forward. Identification begins where the
// search ends, or at its first line when the worker was given the port.
const PhaseMark PHASE_MARKS[] = {
    {DETECTING_PORT_LABEL, PHASE_SEARCH, false},
    {PORT_FOUND_TEXT, PHASE_IDENTIFICATION, false},
    {FIRMWARE_VERSION_LABEL, PHASE_IDENTIFICATION, false},
    {CHECKING_PRODUCT_LABEL, PHASE_IDENTIFICATION, false},
    {PREPARING_FPGA_LABEL, PHASE_FPGA_UPLOAD, false},
    {SENDING_FPGA_LABEL, PHASE_FPGA_UPLOAD, true},
    {PREPARING_FIRMWARE_LABEL, PHASE_FIRMWARE_UPLOAD, false},
    {SENDING_FIRMWARE_LABEL, PHASE_FIRMWARE_UPLOAD, true},
    {REBOOTING_LABEL, PHASE_REBOOT_WAIT, true},
    {UPDATE_SUCCESSFUL_TEXT, PHASE_DONE, false},
};

// Longer than any mark; the tail is cut back to it now and then.
const size_t TAIL_KEPT = 80;

void enterPhase(WorkerProgress &progress, const PhaseMark &mark)
{
    if (mark.phase != progress.phase) {
        progress.percentage = 0;
    }
    progress.phase = mark.phase;
    progress.percentagesFollow = mark.percentagesFollow;
    if (mark.phase == PHASE_DONE) {
        progress.percentage = 100;
        progress.confirmed = true;
    }
}

void notePhaseMarks(WorkerProgress &progress)
{
    for (const PhaseMark &mark : PHASE_MARKS) {
        if (progress.tail.ends_with(mark.text)) {
            enterPhase(progress, mark);
            return;
        }
    }
}

// Figures are redrawn with backspaces ("1%\b\b2%"), the reboot wait's
// right-aligned ("  4%"): a figure is the digits right before a "%". They
// only grow within a phase; a smaller one is some other text (a unit's
// reply quoted in an error message).
void noteFigure(WorkerProgress &progress, char c)
{
    if (c >= '0' && c <= '9') {
        progress.figure = (progress.figure < 0 ? 0 : progress.figure % 1000 * 10) + (c - '0');
        return;
    }
    if (c == '%' && progress.percentagesFollow && progress.figure > progress.percentage && progress.figure <= 100) {
        progress.percentage = progress.figure;
    }
    progress.figure = -1;
}

}  // namespace

void readWorkerProgress(WorkerProgress &progress, std::string_view text)
{
    for (char c : text) {
        progress.tail += c;
        if (progress.tail.size() > 2 * TAIL_KEPT) {
            progress.tail.erase(0, progress.tail.size() - TAIL_KEPT);
        }
        notePhaseMarks(progress);
        noteFigure(progress, c);
    }
}

const char *phaseName(UpdatePhase phase)
{
    static const char *const NAMES[] = {"search",          "identification", "FPGA upload",
                                        "firmware upload", "reboot wait",    "done"};
    return NAMES[phase];
}

UnitPhase unitPhaseOf(UpdatePhase phase)
{
    static const UnitPhase PHASES[] = {UnitPhase::Search,         UnitPhase::Identify, UnitPhase::FpgaUpload,
                                       UnitPhase::FirmwareUpload, UnitPhase::Reboot,   UnitPhase::ReadBack};
    return PHASES[phase];
}

std::vector<std::string> lastScreenLines(const std::string &text, size_t count)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string raw;
    while (std::getline(stream, raw)) {
        std::string shown = screenLine_of(raw);
        if (shown.find_first_not_of(" \t") != std::string::npos) {
            lines.push_back(std::move(shown));
        }
    }
    if (lines.size() > count) {
        lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(count));
    }
    return lines;
}
