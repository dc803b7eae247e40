// When a ReadFile of the Win32 subset returns, from its time-outs: the one
// rule the POSIX layer and the simulated ports both follow.
#ifndef READTIMEOUTS_H_
#define READTIMEOUTS_H_

#include <windows.h>

#include <stdint.h>

// Nothing but a full count ends the read.
#define READ_WAIT_UNLIMITED INT64_MAX

// How much longer, in microseconds, a read may wait for its next byte: from
// the handle's time-outs, the count asked, the count received so far, the
// time since the read began and since its last byte (not looked at while no
// byte has come). 0: the read returns now, with what has already arrived.
//
// As on Windows: the total window is ReadTotalTimeoutMultiplier times the
// count asked plus ReadTotalTimeoutConstant, from the start of the read (both
// 0: no total window); once a byte has come, ReadIntervalTimeout bounds the
// wait for the next (0: no interval window). ReadIntervalTimeout MAXDWORD
// with both total fields 0 returns at once; with the multiplier also MAXDWORD
// and a constant between them, the read returns as soon as it has a byte,
// waiting for the first at most the constant.
int64_t subset_readWaitUs(const COMMTIMEOUTS *timeouts, DWORD asked, DWORD got, int64_t sinceStartUs,
                          int64_t sinceLastByteUs);

#endif
