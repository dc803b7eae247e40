// The port names the Win32 subset knows: "\\.\COMn".
#ifndef COMPATH_H_
#define COMPATH_H_

#include <windows.h>

// The n of "\\.\COMn" (decimal, no leading zero, at most nine digits), or 0
// for any other name, which then stands for an absent port.
unsigned long subset_comPortNumber(LPCSTR path);

#endif
