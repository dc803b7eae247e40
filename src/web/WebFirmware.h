// The web firmware file "FwToUpload.bin": a short header, then the
// microcontroller image as Base64 lines.
#ifndef WEBFIRMWARE_H_
#define WEBFIRMWARE_H_

#include <windows.h>

#define FIRMWARE_FILE_HEADER_FOR_WEB "DexRig\r\n731946\r\n"
#define FIRMWARE_CHUNCK_SIZE_FOR_WEB 928
#define FIRMWARE_FILE_NAME_FOR_WEB "FwToUpload.bin"

BOOL createFirmwareFileForWeb(void);

#endif
