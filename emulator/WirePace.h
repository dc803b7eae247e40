// How fast a paced unit takes what the host sends: the bytes arrive one after
// another at the line's rate, 10 bits a byte, from the moment they begin to
// come, so the host's writes wait as they would on a real line. A quiet line
// banks no time: bytes written after a pause begin a new run.
#ifndef WIREPACE_H_
#define WIREPACE_H_

#include <cstddef>
#include <cstdint>

struct WirePace {
    int baud = 0;
    int64_t startUs = 0;  // when the current run of bytes began to arrive
    uint64_t taken = 0;   // bytes of that run taken so far
    bool quiet = true;    // nothing was waiting when last looked
};

// `waiting` bytes, sent at `baud`, wait on the line at nowUs: how many of
// them have arrived and are taken now. A run begins when the line was quiet
// or its rate changed (a byte under way at the old rate is lost, as on a
// line whose rate changes under it).
size_t wirePace_take(WirePace *pace, int64_t nowUs, int baud, size_t waiting);

// When it is worth looking again with `waiting` bytes still on the line: once
// they have all arrived, or 10 ms worth of them, whichever comes first. False
// while the line is quiet (only the host's next write is worth waiting for).
bool wirePace_nextUs(const WirePace &pace, size_t waiting, int64_t *atUs);

#endif
