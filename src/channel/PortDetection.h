// Finding the port and the rate at which the unit answers, without asking.
#ifndef PORTDETECTION_H_
#define PORTDETECTION_H_

#include <windows.h>

#define FIRST_COM_PORT 1
#define LAST_COM_PORT 32
#define PROBE_COMMAND "%help -c version"
#define PROBE_EXPECTED_RESPONSE "version\n\r   version <no parameters> {Get the current firmware version}\r\n>>"

// Fastest first, then the unit's usual 9600, then the rest downwards.
#define SEARCH_BAUD_RATE_COUNT 6
extern const int SEARCH_BAUD_RATES[SEARCH_BAUD_RATE_COUNT];

// What one port's probe found.
enum PortProbe {
    PORT_ABSENT,     // no such port; GetLastError says why
    PORT_BUSY,       // held by another program, or access denied; GetLastError says which
    PORT_NO_UNIT,    // present, but nothing gave the exact reply
    PORT_UNIT_FOUND  // gComPortNumber is open at gBaudRate and the unit has just answered
};

// TRUE: gComPortNumber is open at gBaudRate and the unit has just answered.
BOOL detectComPortAndBaudrate(void);

// One port, exactly as the search probes it: a quiet first look, then at each
// rate (the search's six in order, or only `onlyBaudRate` when it is not 0)
// an open and up to two probes. The port stays open only when the unit
// answered.
PortProbe probeComPort(int nId, int onlyBaudRate);
// The same probe of the tool's device by its path, with gComPortNumber 0
// when the unit answered.
PortProbe probeNamedPort(const char *device, int onlyBaudRate);

#endif
