// The serial ports of the simulated platform, on the virtual clock: each
// absent, held by another process, present and silent (or with bytes a test
// sends), or present with an emulated unit behind it.
// A port keeps its line settings between opens, and the bytes that reach it
// while it is closed, for the next opener, as a pseudo-terminal does.
#ifndef SIMSERIAL_H_
#define SIMSERIAL_H_

#include "UnitModel.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Every port absent, every unit gone, nothing open, no faults.
void simPorts_reset();
void simPort_setSilent(int com);
// Another process holds the port (an absent one becomes present and held),
// or lets it go again.
void simPort_setHeld(int com, bool held = true);
// Held by a process the platform can name (PortHolder_OfLastOpen).
void simPort_setHeldBy(int com, DWORD processId, const char *name);
// A unit behind the port; the simulation owns it until the next reset.
UnitModel *simPort_attachUnit(int com, const UnitConfig &config);
// The test plays the device on the far end of a present port: `bytes` reach
// the port at `atUs` on the virtual clock, whatever the line's rate. What the
// port writes is in the event log.
void simPort_arrive(int com, int64_t atUs, const std::string &bytes);
// The writeNumber-th WriteFile on the port (counting from 1) fails.
void simPort_failWrite(int com, int writeNumber);
// Picks the failing write by what it carries: the `occurrence`-th write that
// begins with `prefix` fails, or, with piecesAfter, the write that many after
// it (a piece of the image that follows an upload command).
void simPort_failWriteAfter(int com, const std::string &prefix, int occurrence = 1, int piecesAfter = 0);
// The line stops taking bytes (CTS held low, a far end that stopped reading)
// at the write picked as simPort_failWriteAfter picks it (prefix "": the
// next write): of that write it takes only the first bytesTaken, and of
// every later write none. Such a write ends when its write window has
// passed, with the count taken.
void simPort_stallWriteAfter(int com, const std::string &prefix, int occurrence = 1, int piecesAfter = 0,
                             size_t bytesTaken = 0);
// Every SetCommTimeouts/SetCommState on the port fails.
void simPort_refuseConfiguration(int com);
// The port is reached by a device path too, and the platform names that path
// as where it leads (SerialDevice_PathOf); an adapter is also listed among
// the adapters. A port number above the COM ports any search tries makes a
// device reachable by its path alone.
void simPort_setDevicePath(int com, const std::string &path, bool adapter = false);
// How many handles are open right now.
int simPorts_openHandles();
// The rate the open handle of a port runs at (0 when not open).
int simPort_currentBaud(int com);

#endif
