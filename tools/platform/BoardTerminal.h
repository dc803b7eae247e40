// Whether the board can redraw its lines in place on a stream: a terminal
// that understands the ANSI cursor movements. Elsewhere (a file, a pipe, a
// console that cannot be switched to them) it prints plain lines.
#ifndef BOARDTERMINAL_H_
#define BOARDTERMINAL_H_

#include <cstdio>

bool BoardTerminal_CanRedraw(FILE *stream);

#endif
