// The web firmware file "FwToUpload.bin": a short header, then the
// microcontroller image as Base64 lines.
#ifndef WEBFIRMWARE_H_
#define WEBFIRMWARE_H_

#include <windows.h>

#define FIRMWARE_FILE_HEADER_FOR_WEB "DexRig\r\n731946\r\n"
#define FIRMWARE_CHUNCK_SIZE_FOR_WEB 928
#define FIRMWARE_FILE_NAME_FOR_WEB "FwToUpload.bin"

BOOL createFirmwareFileForWeb(void);
// Why the file the last call wrote is not whole (it could not be written, or
// the image was too large to encode); null when it is.
const char *webFirmwareFileFailure(void);

#endif
