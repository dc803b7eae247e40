// Blocks of several megabytes for the tool's flattening. Where the system
// offers huge pages, a block costs a couple of page faults instead of a
// thousand: half the process's system time, and what keeps the whole
// process clearly faster than objcopy (bench/compare_flatten.sh).
#ifndef LARGEBUFFER_H_
#define LARGEBUFFER_H_

#include <cstddef>

// Uninitialised; null when memory is short. Released with freeLargeBuffer.
void *allocateLargeBuffer(size_t size);
void freeLargeBuffer(void *block);

#endif
