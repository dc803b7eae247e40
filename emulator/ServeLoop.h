// Serving the line: the unit's replies at their times and rates, what the
// host sends taken in as it comes, and the stop signals.
#ifndef SERVELOOP_H_
#define SERVELOOP_H_

#include "PtyLink.h"
#include "SimTrace.h"
#include "UnitModel.h"

#include <signal.h>

#include <string>

// SIGTERM and SIGINT end a run. They are held back except while waiting, so
// that one arriving between a check and a wait cannot be missed. Returns the
// mask to wait with.
sigset_t holdStopSignals();

// Serves a unit until a stop signal, storing each image it receives in
// imagesFolder ("" keeps none). A unit that drops off the line (a Drop fault)
// hangs the line up and points the COM entry nowhere, so that the port reads
// as absent, and waits for its stop signal like any other run.
void serveUnit(const UnitConfig &config, const std::string &imagesFolder, UnitLine &line, ComLink &link, Trace &trace,
               const sigset_t &waitMask);

// Not a unit but a device that never stops sending: `kind` "zeros" (zero
// bytes) or "nmea" (NMEA-like text, as a GPS receiver sends), at
// bytesPerSecond, until a stop signal.
void serveStream(const std::string &kind, long long bytesPerSecond, int masterFd, const sigset_t &waitMask);

#endif
