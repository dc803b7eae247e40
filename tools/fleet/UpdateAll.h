// Every attached unit updated at once: a scan side by side, then one worker
// per unit found, each running the tool's own one-port update, watched on one
// board until all have ended.
#ifndef UPDATEALL_H_
#define UPDATEALL_H_

#include "ToolOutcome.h"
#include "unit/PortName.h"

#include <string>

struct UpdateAllOptions {
    PortSelection ports;
    std::string logDir;  // empty: logs/ and the date and time
    bool json = false;   // the board on standard error, one JSON object on standard output
    bool skipCurrent = false;
    std::string toolPath;  // the program the workers run; empty: this one
};

// Confirmed when every unit confirmed (or was left alone as current), Failed
// when any failed, Interrupted when an interrupt cut the run short, Unconfirmed when some were not confirmed by the
// unit's closing text and none failed, NoUnit when no unit answered.
ToolOutcome runUpdateAll(const UpdateAllOptions &options);

#endif
