// Two diagnostic routines around a 512 KiB block of test bytes.
#ifndef DIAGNOSTICS_H_
#define DIAGNOSTICS_H_

#include <windows.h>

#define DIAGNOSTIC_BLOCK_SIZE 0x80000

BOOL DEBUG_send_512kb(void);
BOOL DEBUG_send_512kb_2(void);

#endif
