// The virtual clock of the simulated platform and the log of everything that
// happened on it, in order: console text, key waits, bytes on the wire, pauses.
#ifndef SIMEVENTS_H_
#define SIMEVENTS_H_

#include <cstdint>
#include <string>
#include <vector>

enum class SimEventKind { Console, KeyWait, Open, Close, Write, Read, Sleep };

struct SimEvent {
    int64_t timeUs;
    SimEventKind kind;
    int port;          // COM number for port events, 0 otherwise
    std::string bytes; // text or wire bytes
    int baud;          // the port's rate, for writes and reads
};

int64_t simClock_nowUs();
void simClock_advanceUs(int64_t microseconds);

// Resets the clock to 0 and empties the log.
void simEvents_reset();
void simEvents_record(SimEventKind kind, int port, const std::string &bytes, int baud = 0);
const std::vector<SimEvent> &simEvents_all();
// The bytes of every event of one kind (on one port, or all when port is 0),
// joined in order.
std::string simEvents_joined(SimEventKind kind, int port = 0);

#endif
