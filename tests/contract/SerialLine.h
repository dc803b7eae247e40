// The line the serial tests set: 8 data bits, no parity, one stop bit.
#ifndef SERIALLINE_H_
#define SERIALLINE_H_

#include <windows.h>

inline DCB lineAt(DWORD rate)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = rate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    return dcb;
}

#endif
