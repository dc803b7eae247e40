// The update itself: identification of the unit, the two uploads and the
// reboot wait, on the port the entry point has opened.
#ifndef UPDATEDRIVER_H_
#define UPDATEDRIVER_H_

#include <windows.h>

#define UPLOAD_BAUD_RATE 115200
#define REBOOT_PAUSES 46
#define REBOOT_PAUSE_MS 3000

// TRUE when both images were acknowledged with "SUCCESS".
BOOL updateFirmware(void);

#endif
