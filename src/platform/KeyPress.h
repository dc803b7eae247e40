// The key wait at the end of every path: one key, no echo, no Enter. Each
// platform provides it: _getch on a Windows console, raw mode on a POSIX
// terminal, a counter in the simulation. Where nobody can press a key (input
// is a pipe, a file, or at its end) it returns at once instead of hanging.
#ifndef KEYPRESS_H_
#define KEYPRESS_H_

int readSingleKey(void);

#endif
