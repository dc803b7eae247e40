// The update itself: identification of the unit, the two uploads and the
// reboot wait, on the port the entry point has opened.
#ifndef UPDATEDRIVER_H_
#define UPDATEDRIVER_H_

#include <windows.h>

#define DEVICE_NONE 0x00
#define DEVICE_XC7A35_484 0x01
#define DEVICE_XC7A50_484 0x02
#define DEVICE_XC7A75_484 0x03
#define DEVICE_XC7A100_484 0x04
#define DEVICE_XC7A200_S484 0x05
#define DEVICE_XC7A200_F484 0x06
#define DEVICE_XC7A75_676 0x07
#define DEVICE_XC7A100_676 0x08
#define DEVICE_XC7A15_484 0x09

#define UPLOAD_BAUD_RATE 115200
#define REBOOT_PAUSES 46
#define REBOOT_PAUSE_MS 3000

// TRUE when both images were acknowledged with "SUCCESS".
BOOL updateFirmware(void);

#endif
