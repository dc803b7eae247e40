// The scan of many ports side by side: one worker per port that may hold a
// unit, each running the tool's own one-port scan, their findings merged. The
// whole scan takes about as long as its slowest port.
#ifndef PARALLELSCAN_H_
#define PARALLELSCAN_H_

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

struct ScanOutcome {
    std::vector<nlohmann::ordered_json> units;  // each unit's object, in port order
    std::vector<int> busy;              // ports held by another program
    std::vector<std::string> problems;  // ports whose worker gave no answer, and why
    bool interrupted = false;
};

// Ports firstPort to lastPort; absent ones are passed over without a worker.
// toolPath is the program whose "scan --ports N-N --json" each worker runs.
ScanOutcome scanPortsSideBySide(int firstPort, int lastPort, const std::string &toolPath);

// {"units":[...],"busy":[...]}, as the one-port scan reports.
nlohmann::ordered_json scanReport(const ScanOutcome &outcome);

struct ParallelScanOptions {
    int firstPort = 1;
    int lastPort = 32;
    bool json = false;
    std::string toolPath;  // empty: this program
};

// The scan command: the units found (a JSON object on standard output with
// json), problems on standard error. 0 when a unit answered, 4 when none
// did, 1 when interrupted.
int runParallelScan(const ParallelScanOptions &options);

#endif
