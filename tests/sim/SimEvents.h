// The virtual clock of the simulated platform and the log of everything that
// happened on it, in order: console text, key waits, bytes on the wire,
// pauses, and every line setting applied to a port.
#ifndef SIMEVENTS_H_
#define SIMEVENTS_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

enum class SimEventKind {
    Console,
    KeyWait,
    Open,
    Close,
    Write,  // the bytes the line took; the count asked in `code`
    Read,
    Sleep,
    CommTimeouts,  // SetCommTimeouts: `timeouts`
    CommState,     // SetCommState: `line` as asked
    Purge,         // PurgeComm: its flags in `code`, the bytes it dropped
    Escape,        // EscapeCommFunction: its function in `code`
};

struct SimEvent {
    int64_t timeUs;
    SimEventKind kind;
    int port;           // COM number for port events, 0 otherwise
    std::string bytes;  // text or wire bytes; what a purge dropped
    int baud = 0;       // the line's rate, for writes, reads and SetCommState
    DCB line{};         // the line settings in effect (writes, reads) or asked for (SetCommState)
    COMMTIMEOUTS timeouts{};
    DWORD code = 0;
    bool refused = false;  // a setting the port did not take
};

int64_t simClock_nowUs();
void simClock_advanceUs(int64_t microseconds);

// Resets the clock to 0 and empties the log.
void simEvents_reset();
void simEvents_record(SimEventKind kind, int port, const std::string &bytes, int baud = 0);
// Records an event filled in by the caller, at the current time.
void simEvents_add(SimEvent event);
const std::vector<SimEvent> &simEvents_all();
// The bytes of every event of one kind (on one port, or all when port is 0),
// joined in order.
std::string simEvents_joined(SimEventKind kind, int port = 0);

#endif
