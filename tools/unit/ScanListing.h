// The scan's human listing, one aligned line per port: the same whether the
// ports were probed one after the other or side by side.
#ifndef SCANLISTING_H_
#define SCANLISTING_H_

#include "base/ProgramState.h"

#include <cstdio>
#include <string>

namespace scan_table {

inline const char *const LINE = "%-6s %6s  %-7s  %-9s  %-13s  %-6s  %s\n";

inline std::string orDash(const std::string &text)
{
    return text.empty() ? "-" : text;
}

}  // namespace scan_table

inline void printScanHeading(FILE *out)
{
    fprintf(out, scan_table::LINE, "PORT", "BAUD", "PRODUCT", "FIRMWARE", "FPGA", "DEVICE",
           "FIRMWARE " FIRMWARE_VERSION_TO_UPLOAD);
}

// Empty firmware and FPGA texts, and a device of -1, mean the version reply
// was not whole.
inline void printScanUnit(FILE *out, int port, int baud, const std::string &product, const std::string &firmware,
                          const std::string &fpga, int device, bool current)
{
    using namespace scan_table;
    const char *status = firmware.empty() ? "unknown" : current ? "current" : "to update";
    fprintf(out, LINE, ("COM" + std::to_string(port)).c_str(), std::to_string(baud).c_str(), product.c_str(),
           orDash(firmware).c_str(), orDash(fpga).c_str(), device < 0 ? "-" : std::to_string(device).c_str(), status);
}

inline void printScanBusy(FILE *out, int port)
{
    fprintf(out, "%-6s %6s  held by another program, or access denied\n", ("COM" + std::to_string(port)).c_str(), "busy");
}

#endif
