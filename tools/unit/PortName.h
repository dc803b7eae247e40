// Ports as the user names them: COMn by its number, or a device by its path;
// and the one way listings, messages and JSON objects name a port and the
// device it leads to.
#ifndef PORTNAME_H_
#define PORTNAME_H_

#include <string>
#include <vector>

#define SCAN_DEFAULT_FIRST_PORT 1
#define SCAN_DEFAULT_LAST_PORT 32
#define SCAN_HIGHEST_PORT 256

struct PortTarget {
    int number = 0;      // n of COMn; 0: a device by its path, or (no device) none named
    std::string device;  // the device path named; empty for COMn
    // A COM number is a port as it is: callers that know only numbers pass them.
    PortTarget(int comNumber = 0) : number(comNumber) {}
    bool operator==(const PortTarget &) const = default;
};

PortTarget deviceTarget(const std::string &path);

// Decimal digits only, within 1 to SCAN_HIGHEST_PORT.
bool parsePortNumber(const std::string &text, int *port);
// "A-B" or "N", each a port number as above, A not above B.
bool parsePortRange(const std::string &text, int *first, int *last);
// What --port takes: N, COMN (COM in any case) or \\.\COMN, with N a port
// number as above; or a device path under /dev/. False for anything else,
// with `port` untouched.
bool parsePortName(const std::string &text, PortTarget *port);

// The path column of listings and boards is at least this wide:
// "/dev/ttyUSB0" and shorter line up from one run to the next.
#define PATH_COLUMN_WIDTH 12

// "COM7", or for a device reached by path (port 0) its path.
std::string portLabel(int port, const std::string &path);
// What a worker's --port is given: the COM number, or for port 0 the device
// path.
std::string portArgument(int port, const std::string &path);
// The device the port leads to (platform/SerialDevice.h); empty when none
// is named.
std::string portPath(const PortTarget &port);
// Ports in the order listings show them: COM ports by number, then the
// devices reached by path, by path.
bool portBefore(int portA, const std::string &pathA, int portB, const std::string &pathB);

// The ports a scan covers: COM first to last, then (adapters) the adapters
// the system lists; only the adapters with adaptersOnly.
struct PortSelection {
    int firstPort = SCAN_DEFAULT_FIRST_PORT;
    int lastPort = SCAN_DEFAULT_LAST_PORT;
    bool adaptersOnly = false;
};
std::vector<PortTarget> portsSelected(const PortSelection &selection);
// COM first to last alone.
std::vector<PortTarget> comPorts(int first, int last);
// Whether the system lists adapters apart from its COM ports (not Windows,
// where each adapter has a COM number).
bool adaptersListed(void);

#endif
