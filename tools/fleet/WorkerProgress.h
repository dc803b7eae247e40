// Where one update stands, read from the console text of the worker that
// runs it: the phase from the status labels the updater prints, the
// percentage from the figures it redraws behind them.
#ifndef WORKERPROGRESS_H_
#define WORKERPROGRESS_H_

#include "unit/UnitReason.h"

#include <string>
#include <string_view>
#include <vector>

enum UpdatePhase {
    PHASE_SEARCH,
    PHASE_IDENTIFICATION,
    PHASE_FPGA_UPLOAD,
    PHASE_FIRMWARE_UPLOAD,
    PHASE_REBOOT_WAIT,
    PHASE_DONE,
};

struct WorkerProgress {
    UpdatePhase phase = PHASE_SEARCH;
    int percentage = 0;      // within the phase
    bool confirmed = false;  // the unit's closing text earned the success line
    // Reading state: whether figures behind the current label are
    // percentages, the figure being read (-1: none), and the last characters
    // seen, since a label can come split over two reads.
    bool percentagesFollow = false;
    int figure = -1;
    std::string tail;
};

// Reads the next piece of the worker's console text.
void readWorkerProgress(WorkerProgress &progress, std::string_view text);

// "search", "identification", "FPGA upload", "firmware upload",
// "reboot wait", "done".
const char *phaseName(UpdatePhase phase);
// The phase as the JSON names it; a failure after the success line was
// found in the version read back.
UnitPhase unitPhaseOf(UpdatePhase phase);

// The last `count` lines of a worker's console text or log, each as it
// would stand on a screen (backspaces applied, carriage returns gone), blank
// lines left out.
std::vector<std::string> lastScreenLines(const std::string &text, size_t count);

#endif
