// The scan of many ports side by side: one worker per port that may hold a
// unit, each running the tool's own one-port scan, their findings merged. The
// whole scan takes about as long as its slowest port.
#ifndef PARALLELSCAN_H_
#define PARALLELSCAN_H_

#include "ToolOutcome.h"
#include "unit/ScanResult.h"

#include <string>
#include <vector>

struct ScanOutcome {
    ScanResult found;                   // every worker's answer, in port order
    std::vector<std::string> problems;  // ports whose worker gave no answer, and why
    bool interrupted = false;
};

// Ports firstPort to lastPort; absent ones are passed over without a worker.
// toolPath is the program whose "scan --ports N-N --json" each worker runs.
ScanOutcome scanPortsSideBySide(int firstPort, int lastPort, const std::string &toolPath);

struct ParallelScanOptions {
    int firstPort = 1;
    int lastPort = 32;
    bool json = false;
    std::string toolPath;  // empty: this program
};

// The scan command: the listing of what was found (and the scan's JSON
// object on standard output with json), problems on standard error. Done
// when a unit answered, NoUnit when none did, Interrupted when interrupted.
ToolOutcome runParallelScan(const ParallelScanOptions &options);

#endif
