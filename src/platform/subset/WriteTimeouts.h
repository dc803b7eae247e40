// When a WriteFile of the Win32 subset gives up, from its time-outs: the one
// rule the POSIX layer and the simulated ports both follow.
#ifndef WRITETIMEOUTS_H_
#define WRITETIMEOUTS_H_

#include <windows.h>

#include <stdint.h>

// No write window: the write waits for as long as the line makes it.
#define WRITE_WAIT_UNLIMITED INT64_MAX

// The whole write's window in microseconds, from its start: as on Windows,
// WriteTotalTimeoutMultiplier times the count asked plus
// WriteTotalTimeoutConstant (both 0: none). Once it has passed, the write
// returns TRUE with the count the line has taken so far.
int64_t subset_writeWindowUs(const COMMTIMEOUTS *timeouts, DWORD asked);

#endif
