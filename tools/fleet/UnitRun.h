// One unit of an update of every attached unit: what the scan found, the
// worker that updates it, and how that ended.
#ifndef UNITRUN_H_
#define UNITRUN_H_

#include "platform/WorkerProcess.h"
#include "fleet/WorkerProgress.h"

#include <nlohmann/json.hpp>

#include <string>

// What becomes of a unit; RESULT_RUNNING until its worker has ended.
#define RESULT_RUNNING ""
#define RESULT_CONFIRMED "confirmed"
#define RESULT_FAILED "failed"
#define RESULT_UNCONFIRMED "unconfirmed"
#define RESULT_NO_UNIT "no-unit"
#define RESULT_SKIPPED "skipped"
#define RESULT_INTERRUPTED "interrupted"

struct UnitRun {
    int port = 0;
    int baud = 0;
    nlohmann::ordered_json found;  // the scan's object for the unit
    int worker = -1;
    std::string logPath;
    WorkerProgress progress;
    std::string consoleTail;  // the end of the worker's console text
    std::string reply;        // the worker's standard output: its JSON object
    std::string result = RESULT_RUNNING;
    WorkerStatus ended = {WORKER_RUNNING, 0};
    double seconds = 0;
    std::string death;  // how a worker that died ended, in words
};

#endif
