// The tool's commands, one file each; each gives its outcome, whose exit
// status the tool ends with (ToolOutcome.h).
#ifndef COMMANDS_H_
#define COMMANDS_H_

#include "ToolOutcome.h"
#include "unit/PortName.h"
#include "unit/ScanResult.h"
#include "unit/UnitFacts.h"

#include "base/Catalogue.h"

#include <cstdint>
#include <string>
#include <vector>

// One embedded image flattened (in gDataConcatenated, which it overwrites).
struct ImageFigures {
    bool valid = false;  // flattened; false also when memory ran out
    int imageLength = 0;
    uint32_t checksum = 0;
};
ImageFigures embeddedImageFigures(ImageIndex index);

ToolOutcome runInfo(void);
ToolOutcome runWebFile(void);
// The unit found by the updater's search (port 0), or on the port named, at
// `baud` alone when it is not 0.
struct UnitChoice {
    PortTarget port;
    int baud = 0;
};
// product: ends with what the unit said it is.
ToolOutcome runProductCheck(bool transmitter, UnitChoice unit = {});
// diag: ends with a verdict: whether the unit still answers the search's
// probe after the diagnostic command and its block.
ToolOutcome runDiagnostics(UnitChoice unit = {});

// flatten: Done when OUT holds the image, after one line on stdout: OUT, the
// image length and its checksum. Otherwise Failed after a message on stderr
// (for an invalid text: the line and what is wrong with it), with OUT
// untouched, or removed if a write failed half-way. OUT may not be IN, under
// any path.
ToolOutcome flattenHexFile(const char *inPath, const char *outPath);

// Probes every port of the range as the search does, without stopping at
// the first unit; then prints the listing of the ports found busy or with a
// unit.
ScanResult scanPorts(int first, int last);
ScanResult scanPorts(const std::vector<PortTarget> &ports);
// Done when a unit answered, NoUnit when none did.
ToolOutcome runScan(int first, int last, bool json);
ToolOutcome runScan(const std::vector<PortTarget> &ports, bool json);

struct UpdateOptions {
    PortTarget port;  // none named: the updater's own search
    int baud = 0;     // 0: the search's six rates
    std::string log;
    bool json = false;
    bool skipCurrent = false;  // a unit that runs the embedded firmware is left alone
    std::string commandLine;   // for the log's heading
};
// Finds the unit (or opens the port named) and updates it, with the
// updater's console text and without any prompt or key wait; once the unit
// has confirmed, asks it its versions again. With skipCurrent, a unit that
// already runs the embedded firmware is Skipped, untouched.
UpdateOutcome performUpdate(const PortTarget &port, int baud, bool skipCurrent = false);
ToolOutcome runUpdate(const UpdateOptions &options);

#endif
