// Blocks of several megabytes for the tool's flattening. Where the system
// offers huge pages, a block costs a couple of page faults instead of a
// thousand, which is most of a short process's time on a virtual machine.
#ifndef LARGEBUFFER_H_
#define LARGEBUFFER_H_

#include <cstddef>

// Uninitialised; null when memory is short. Released with freeLargeBuffer.
void *allocateLargeBuffer(size_t size);
void freeLargeBuffer(void *block);

#endif
