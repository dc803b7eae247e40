// Finding the port and the rate at which the unit answers, without asking.
#ifndef PORTDETECTION_H_
#define PORTDETECTION_H_

#include <windows.h>

#define FIRST_COM_PORT 1
#define LAST_COM_PORT 32
#define PROBE_COMMAND "%help -c version"
#define PROBE_EXPECTED_RESPONSE "version\n\r   version <no parameters> {Get the current firmware version}\r\n>>"

// TRUE: gComPortNumber is open at gBaudRate and the unit has just answered.
BOOL detectComPortAndBaudrate(void);

#endif
