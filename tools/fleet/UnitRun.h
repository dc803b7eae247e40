// One unit of an update of every attached unit: what the scan found, the
// worker that updates it, and how that ended.
#ifndef UNITRUN_H_
#define UNITRUN_H_

#include "ToolOutcome.h"
#include "fleet/WorkerProgress.h"
#include "platform/WorkerProcess.h"
#include "unit/ScanResult.h"
#include "unit/UnitReason.h"

#include <string>

struct UnitRun {
    ScannedPort found;  // the scan's record of the unit: its port, rate, product and versions
    int worker = -1;
    std::string logPath;
    WorkerProgress progress;
    std::string consoleTail;  // the end of the worker's console text
    std::string reply;        // the worker's standard output: its JSON object
    ToolOutcome result = ToolOutcome::Running;
    WorkerStatus ended = {WORKER_RUNNING, 0};
    double seconds = 0;
    std::string death;          // how a worker that died ended, in words
    std::string error;          // why no update worker ran: the port's scan failed, or the worker could not be started
    UnitReason why = UnitReason::None;  // what the supervisor knows of why the unit was not updated
    std::string firmwareAfter;  // what the unit runs after the run, as its worker read it back; empty: not known
};

#endif
