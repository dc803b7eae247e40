// The scan of many ports side by side: one worker per port that may hold a
// unit, each running the tool's own one-port scan, their findings merged. The
// whole scan takes about as long as its slowest port. Every port given a
// worker is accounted for: a unit, a busy port, or a failed scan.
#ifndef PARALLELSCAN_H_
#define PARALLELSCAN_H_

#include "ToolOutcome.h"
#include "unit/PortName.h"
#include "unit/ScanResult.h"

#include <chrono>
#include <string>
#include <vector>

// A one-port scan ends by itself within seconds; one that has not after
// this long is stopped and its port reported as failed.
inline constexpr std::chrono::seconds SCAN_WORKER_DEADLINE(120);

struct ScanOutcome {
    ScanResult found;  // every worker's answer, and the ports whose worker gave none, in port order
    bool interrupted = false;
};

// The ports given; absent ones are passed over without a worker. toolPath
// is the program whose "scan --port PORT --json" each worker runs, PORT the
// COM number or the device path.
ScanOutcome scanPortsSideBySide(const std::vector<PortTarget> &ports, const std::string &toolPath,
                                std::chrono::seconds deadline = SCAN_WORKER_DEADLINE);
// COM firstPort to lastPort.
ScanOutcome scanPortsSideBySide(int firstPort, int lastPort, const std::string &toolPath,
                                std::chrono::seconds deadline = SCAN_WORKER_DEADLINE);

// "COM1 to COM32", with "and 2 adapters" when any, or "2 adapters" alone:
// the ports a scan covers, for its messages.
std::string portsText(const std::vector<PortTarget> &ports);

struct ParallelScanOptions {
    PortSelection ports;
    bool json = false;
    std::string toolPath;  // empty: this program
    std::chrono::seconds deadline = SCAN_WORKER_DEADLINE;
};

// The scan command: the listing of what was found and what failed (and the
// scan's JSON object on standard output with json). Interrupted when
// interrupted, Failed when a port's scan failed, otherwise Done when a unit
// answered and NoUnit when none did.
ToolOutcome runParallelScan(const ParallelScanOptions &options);

// The scan's JSON object, with the failed ports, when there are any, beside
// the units and the busy ports: {"units":[...],"busy":[6],"ports":[...],"failed":[{"port":5,
// "path":"/dev/ttyS4","result":"failed","reason":"worker-died","phase":"search","error":"scan
// worker killed by signal 11 (Segmentation fault)"}]};
// a scan that did not succeed as a whole adds "result" and "error", why.
std::string parallelScanJson(const ScanResult &scan, const std::string &error = "",
                             ToolOutcome result = ToolOutcome::Failed);

#endif
