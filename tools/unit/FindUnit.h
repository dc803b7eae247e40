// The one way every tool command reaches the unit: the updater's own search,
// or one port named by the user, with the updater's console text.
#ifndef FINDUNIT_H_
#define FINDUNIT_H_

#include "unit/PortName.h"
#include "unit/UnitFacts.h"
#include "unit/UnitReason.h"

#include "channel/PortDetection.h"

#include <string>

// Prints "Detecting COM port and Baud Rate..." and then, as the updater does,
// "OK" with the port and rate, or "FAILED". No port named: the search over
// COM1 to COM32; otherwise that port only, at `baud` alone when it is not 0.
// Empty on success, with the port open at gBaudRate (and gComPortNumber its
// number; 0 for a device by its path); otherwise why not, in words a user can
// act on, for the caller to show.
std::string findAndOpenUnit(const PortTarget &port, int baud);
// Why the last findAndOpenUnit found no unit: Absent, Busy or Silent (None
// after a success), and for a busy port the program that holds it ("PID 1234
// picocom") when the system named it.
UnitReason searchFailure(void);
std::string searchFailureHolder(void);
// The port as the search probes it, by number or by path.
PortProbe probePort(const PortTarget &port, int baud);
// The port named and the device it leads to, before any unit answered;
// nothing when none is named.
UnitFacts portNamed(const PortTarget &port);
// Port and path of the unit just found on `asked` (none named: the search's
// find).
UnitFacts factsOfPort(const PortTarget &asked);
// The commands that need only the unit found (as findAndOpenUnit): TRUE with
// the unit's port open, or FALSE after the reason was shown as the last
// message.
bool findUnitOrSayWhy(const PortTarget &port, int baud);
// "9600 baud" for a rate, or for 0 the search's own: "115200, 9600, 57600,
// 4800, 2400 or 1200 baud".
std::string ratesTried(int baud);
// The reason as an error line of the console.
std::string errorLine(const std::string &failure);

#endif
