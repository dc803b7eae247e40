// Milliseconds on the clock that never jumps, for deadlines and for timing
// what a child process does.
#ifndef TESTS_MONOTONICCLOCK_H_
#define TESTS_MONOTONICCLOCK_H_

#include <cstdint>

int64_t monotonicMs();

#endif
