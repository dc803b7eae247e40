// The technician's answers at the two prompts of the manual port selection.
#ifndef CONSOLEINPUT_H_
#define CONSOLEINPUT_H_

#include <windows.h>

// Reads one line holding a decimal integer into *value. Any other line is
// dropped and the prompt shown again; FALSE at the end of input.
BOOL readDecimalAnswer(int *value, const char *prompt);

#endif
