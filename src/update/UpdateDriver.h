// The update itself: identification of the unit, the two uploads and the
// reboot wait, on the port the entry point has opened.
#ifndef UPDATEDRIVER_H_
#define UPDATEDRIVER_H_

#include "base/Catalogue.h"
#include "update/VersionReply.h"

#include <windows.h>

#define UPLOAD_BAUD_RATE 115200
#define REBOOT_PAUSES 46
#define REBOOT_PAUSE_MS 3000

// The versions as the update shows them: "1.00.04" and "SDI6G 1.04".
#define FIRMWARE_VERSION_FORMAT "%d.%02d.%02d"
#define FPGA_VERSION_FORMAT "%s %d.%02d"

// TRUE when both images were acknowledged with "SUCCESS".
BOOL updateFirmware(void);

// "%fw -v" and one direct read of its reply, saying nothing; the number of
// fields taken, 7 for a whole reply.
int queryUnitVersions(VersionReply *reply);
// "%fw -p" against each FPGA configuration's identity in turn, saying
// nothing; the image for the unit that answered, or IMAGE_COUNT.
ImageIndex queryUnitProduct(void);

// The last update: TRUE when the unit confirmed it after its reboot (the
// success line was printed).
BOOL updateWasConfirmed(void);
// What the last update learnt of the unit: the version reply (the number of
// its fields; 0 before it was asked) and the product (IMAGE_COUNT while not
// identified).
int updateVersionsLearnt(VersionReply *reply);
ImageIndex updateProductLearnt(void);
// The step the last update has reached: "identification", "FPGA upload
// command", "FPGA upload", "firmware upload command", "firmware upload" or
// "reboot".
const char *updateStepReached(void);
// The step the last update ended in because the line stopped taking its
// bytes; null when no write stalled.
const char *updateStalledIn(void);

#endif
